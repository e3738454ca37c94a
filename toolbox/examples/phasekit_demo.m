function share = phasekit_demo (out_folder)
%PHASEKIT_DEMO  The phasekit toolbox on a noisy interferogram of a known surface.
%
%   PHASEKIT_DEMO shows, in one figure, a wrapped interferogram with noise and
%   missing regions, held in single precision as radar and camera data come (complex
%   single, NumPy's complex64), the field smoothed by KERNSMOOTH_C (samples that
%   only a few neighbours support masked out), the phase unwrapped by
%   PHASEMEND with and without a reference point, what naive unwrapping gives
%   (UNWRAP along the columns, then along the rows), and the errors against the
%   true phase; it prints the share of pixels unwrapped to the true phase and the
%   time of each command.
%
%   PHASEKIT_DEMO (OUT_FOLDER) also saves the figure as OUT_FOLDER/phasekit_demo.png
%   and writes a short movie of the surface deforming, OUT_FOLDER/deforming.avi,
%   with CLIPFORGE from frames saved with IMWRITE.
%
%   SHARE = PHASEKIT_DEMO (...) returns the share of valid pixels PHASEMEND
%   unwrapped to the true phase (0 to 1).
%
%   Runs unchanged in MATLAB and in GNU Octave; needs only phasemend, kernsmooth_c
%   and clipforge on the path. Open it, change the surface, the noise or the kernel,
%   and run it.

  if nargin < 1
    out_folder = '';
  end
  n = 384;                                   % pixels per side
  [x, y] = meshgrid (linspace (-1, 1, n));
  seed_noise ();

  % A known surface (tens of radians across), its noisy interferogram, and holes.
  truth = surface_phase (x, y, 0.3);
  missing = hole_mask (x, y, 0.3);
  field = single (exp (1i * truth) + 0.35 * complex (randn (n), randn (n)));
  field(missing) = NaN;

  % The support is the weight each window actually used: at the edge of a hole a
  % sample is averaged over a few neighbours only, too few to trust.
  kernel = ones (5);
  tic; [smoothed, support] = kernsmooth_c (field, kernel); t_smooth = toc;
  thin = support < 0.5 * sum (kernel(:));
  smoothed(thin) = NaN;
  wrapped = angle (smoothed);                % single; missing pixels stay NaN
  ref = [round(n / 2), round(n / 2)];        % column and row of the reference
  tic; with_ref = phasemend (wrapped, ref(1), ref(2)); t_ref = toc;
  tic; without_ref = phasemend (wrapped); t_free = toc;

  % Naive unwrapping: UNWRAP along the columns, then along the rows. It cannot
  % step over NaN, so missing pixels are zero for it and NaN again afterwards.
  filled = wrapped;
  filled(isnan (filled)) = 0;
  naive = unwrap (unwrap (filled, [], 1), [], 2);
  naive(isnan (wrapped)) = NaN;

  [err_ref, share] = error_against (with_ref, truth);
  [err_naive, share_naive] = error_against (naive, truth);
  steps = (without_ref - with_ref) / (2 * pi);

  fprintf ('phasekit demo: %d x %d pixels, %.1f%% missing\n', n, n, 100 * mean (missing(:)));
  fprintf ('  kernsmooth_c  %6.3f s  5x5 NaN-aware smoothing of the complex single field;\n', t_smooth);
  fprintf ('                          %d samples with less than half a window of support masked\n', nnz (thin));
  fprintf ('  phasemend     %6.3f s  with a reference point, %6.3f s without\n', t_ref, t_free);
  fprintf ('  without a reference the map differs by %s x 2 pi\n', mat2str (unique (round (steps(~isnan (steps))))'));
  fprintf ('  unwrapped to the true phase: phasemend %.2f%%, naive unwrap %.2f%%\n', ...
           100 * share, 100 * share_naive);

  % Maps in their own range, wrapped phase and errors in -pi..pi.
  panels = {truth, 'true phase (rad)', []; ...
            angle(field), 'wrapped, noisy, holes (rad)', [-pi, pi]; ...
            wrapped, 'after kernsmooth_c (rad)', [-pi, pi]; ...
            with_ref, 'phasemend, reference at centre (rad)', []; ...
            without_ref, 'phasemend, no reference (rad)', []; ...
            naive, 'naive unwrap, columns then rows (rad)', []; ...
            err_ref, 'phasemend error (rad)', [-pi, pi]; ...
            err_naive, 'naive unwrap error (rad)', [-pi, pi]};
  visible = 'on';
  if ~isempty (out_folder)
    visible = 'off';                         % drawn only for the file
  end
  fig = figure ('visible', visible, 'position', [50, 50, 1400, 700]);
  colormap ([0.6, 0.6, 0.6; jet(255)]);      % grey first: missing pixels
  for k = 1:size (panels, 1)
    subplot (2, 4, k);
    show_map (panels{k, 1}, panels{k, 3});
    title (panels{k, 2}, 'interpreter', 'none');
  end

  if ~isempty (out_folder)
    if ~exist (out_folder, 'dir')
      mkdir (out_folder);
    end
    print (fig, '-dpng', '-r90', fullfile (out_folder, 'phasekit_demo.png'));
    t_movie = write_movie (out_folder, n);
    fprintf ('  clipforge     %6.3f s  20 JPEG frames into a Motion-JPEG movie\n', t_movie);
    fprintf ('  wrote %s and %s\n', fullfile (out_folder, 'phasekit_demo.png'), ...
             fullfile (out_folder, 'deforming.avi'));
  end
end

function phase = surface_phase (x, y, t)
  % Two bumps that grow, drift and change sign, on a turning tilt.
  a = 38 * sin (pi * (0.15 + 0.85 * t));
  b = -28 * cos (pi * t);
  phase = a * exp (-((x - 0.25 + 0.3 * t).^2 + (y + 0.2).^2) / 0.18) ...
        + b * exp (-((x + 0.35).^2 + (y - 0.3 + 0.2 * t).^2) / 0.12) ...
        + 6 * (cos (2 * t) * x + sin (2 * t) * y);
end

function missing = hole_mask (x, y, t)
  % A fixed occluder, a notch at the border and a hole that moves.
  missing = (x - 0.45).^2 + (y - 0.5).^2 < 0.012 | (x < -0.85 & abs (y) < 0.1) ...
          | (x + 0.5 - t).^2 + (y - 0.55).^2 < 0.006;
end

function [err, share] = error_against (unwrapped, truth)
  % The error after removing the map's most common multiple of 2 pi; a pixel is
  % unwrapped to the true phase when its error is below pi.
  valid = ~isnan (unwrapped);
  k = round ((unwrapped(valid) - truth(valid)) / (2 * pi));
  err = unwrapped - truth - 2 * pi * mode (k);
  share = mean (abs (err(valid)) < pi);
end

function show_map (map, lim)
  % One colour map for all panels: each maps its range onto entries 2 and up (values
  % beyond it onto the ends) and NaN onto entry 1 (grey), so missing pixels show in
  % every host and graphics toolkit.
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

function t_movie = write_movie (out_folder, n)
  % Twenty frames of the surface deforming, unwrapped and saved with IMWRITE, then
  % copied into a Motion-JPEG movie by CLIPFORGE.
  [x, y] = meshgrid (linspace (-1, 1, n / 2));
  frames = cell (1, 20);
  cmap = jet (256);
  for f = 1:numel (frames)
    t = (f - 1) / (numel (frames) - 1);
    field = exp (1i * surface_phase (x, y, t)) + 0.2 * complex (randn (n / 2), randn (n / 2));
    field(hole_mask (x, y, t)) = NaN;
    unwrapped = phasemend (angle (kernsmooth_c (field, ones (3))), n / 4, n / 4);
    level = round (1 + 255 * (unwrapped + 60) / 120);
    level(isnan (level)) = 1;
    frames{f} = fullfile (out_folder, sprintf ('frame%02d.jpg', f));
    imwrite (ind2rgb (min (max (level, 1), 256), cmap), frames{f}, 'Quality', 90);
  end
  tic;
  clipforge (fullfile (out_folder, 'deforming.avi'), 10, frames{:});
  t_movie = toc;
end

function seed_noise ()
  if exist ('rng', 'file') || exist ('rng', 'builtin')
    rng (7);
  else
    randn ('seed', 7);
  end
end
