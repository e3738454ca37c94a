function [share3, share2] = phasekit_volume (out_folder)
%PHASEKIT_VOLUME  PHASEMEND3 on a synthetic head-like phase volume, beside PHASEMEND slice by slice.
%
%   PHASEKIT_VOLUME makes a volume like an MRI field map: an ellipsoid "head" (NaN
%   outside it), a smooth field of tens of radians across it, noise, and a thin wall
%   of missing voxels that cuts the middle slices in two. It unwraps the volume with
%   PHASEMEND3 and, for comparison, each slice on its own with PHASEMEND (the usual
%   workaround), and shows three orthogonal slices through the volume: wrapped,
%   PHASEMEND3's result and error, and the slice-by-slice result and error. It
%   prints the share of voxels unwrapped to the true phase by each and how many
%   slices the slice-by-slice result puts off by a multiple of 2 pi.
%
%   PHASEKIT_VOLUME (OUT_FOLDER) also saves the figure as OUT_FOLDER/phasekit_volume.png.
%
%   [SHARE3, SHARE2] = PHASEKIT_VOLUME (...) returns the shares of valid voxels that
%   PHASEMEND3 and slice-by-slice PHASEMEND unwrapped to the true phase (0 to 1), up
%   to one 2 pi offset common to the whole volume.
%
%   Runs unchanged in MATLAB and in GNU Octave; needs PHASEMEND3 and PHASEMEND on the
%   path.

  if nargin < 1
    out_folder = '';
  end
  rows = 96; columns = 96; slices = 64;
  [x, y, z] = meshgrid (linspace (-1, 1, columns), linspace (-1, 1, rows), linspace (-1, 1, slices));
  seed_noise ();

  % The field: a strong bump off centre (as near air-filled sinuses), a gradient
  % through the slices and a saddle; about 40 radians across the head.
  truth = 26 * exp (-((x - 0.25).^2 + (y + 0.35).^2 + (z - 0.15).^2) / 0.2) ...
        - 14 * z + 5 * x .* y;
  head = x.^2 / 0.8 + y.^2 / 0.95 + z.^2 / 0.9 < 1;
  wall = abs (x - 0.05) < 0.03 & abs (z) < 0.25;   % cuts the middle slices in two
  missing = ~head | wall;
  wrapped = angle (exp (1i * (truth + 0.35 * randn (size (truth)))));
  wrapped(missing) = NaN;

  ref = [48, 48, 32];                              % column, row and slice
  tic; volume = phasemend3 (wrapped, ref(1), ref(2), ref(3)); t3 = toc;
  tic;
  by_slice = NaN (size (wrapped));
  for k = 1:slices
    by_slice(:, :, k) = phasemend (wrapped(:, :, k), ref(1), ref(2));
  end
  t2 = toc;

  [err3, share3] = error_against (volume, truth);
  [err2, share2] = error_against (by_slice, truth);
  off = 0;                                         % slices with voxels 2 pi off
  for k = 1:slices
    e = err2(:, :, k);
    off = off + any (abs (e(~isnan (e))) > pi);
  end

  fprintf ('phasekit volume: %d x %d x %d voxels, %.1f%% missing\n', rows, columns, slices, ...
           100 * mean (missing(:)));
  fprintf ('  phasemend3            %6.3f s  unwrapped to the true phase: %.2f%%\n', t3, 100 * share3);
  fprintf ('  phasemend per slice   %6.3f s  unwrapped to the true phase: %.2f%%\n', t2, 100 * share2);
  fprintf ('  slice by slice, %d of %d slices are off by multiples of 2 pi\n', off, slices);

  % Three orthogonal slices through the reference voxel.
  cuts = {@(v) v(:, :, ref(3)), 'axial'; ...
          @(v) squeeze (v(ref(2), :, :))', 'coronal'; ...
          @(v) squeeze (v(:, ref(1), :))', 'sagittal'};
  maps = {wrapped, 'wrapped', [-pi, pi]; volume, 'phasemend3', []; err3, 'phasemend3 error', [-pi, pi]; ...
          by_slice, 'phasemend per slice', []; err2, 'per-slice error', [-pi, pi]};
  visible = 'on';
  if ~isempty (out_folder)
    visible = 'off';
  end
  fig = figure ('visible', visible, 'position', [50, 50, 1500, 800]);
  colormap ([0.6, 0.6, 0.6; jet(255)]);          % grey first: missing voxels
  for r = 1:size (cuts, 1)
    for c = 1:size (maps, 1)
      subplot (size (cuts, 1), size (maps, 1), (r - 1) * size (maps, 1) + c);
      show_map (cuts{r, 1}(maps{c, 1}), maps{c, 3});
      title ([cuts{r, 2} ', ' maps{c, 2}], 'interpreter', 'none');
    end
  end
  if ~isempty (out_folder)
    if ~exist (out_folder, 'dir')
      mkdir (out_folder);
    end
    print (fig, '-dpng', '-r80', fullfile (out_folder, 'phasekit_volume.png'));
    fprintf ('  wrote %s\n', fullfile (out_folder, 'phasekit_volume.png'));
  end
end

function [err, share] = error_against (unwrapped, truth)
  % The error after removing the volume's most common multiple of 2 pi; a voxel is
  % unwrapped to the true phase when its error is below pi.
  valid = ~isnan (unwrapped);
  k = round ((unwrapped(valid) - truth(valid)) / (2 * pi));
  err = unwrapped - truth - 2 * pi * mode (k);
  share = mean (abs (err(valid)) < pi);
end

function show_map (map, lim)
  % NaN onto the first colour (grey), the range onto the others.
  if isempty (lim)
    lim = [min(map(:)), max(map(:))];
  end
  step = (lim(2) - lim(1)) / 254;
  shown = min (max (map, lim(1)), lim(2));
  shown(isnan (map)) = lim(1) - step;
  imagesc (shown, [lim(1) - step, lim(2)]);
  axis image off;
  colorbar;
end

function seed_noise ()
  if exist ('rng', 'file') || exist ('rng', 'builtin')
    rng (11);
  else
    randn ('seed', 11);
  end
end
