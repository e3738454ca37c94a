function result = phasekit_options (out_folder)
%PHASEKIT_OPTIONS  PHASEMEND's options and extra outputs on three kinds of data.
%
%   PHASEKIT_OPTIONS makes three synthetic maps and unwraps each with PHASEMEND:
%
%   1. A radar-like interferogram (topographic fringes) whose magnitude collapses
%      over a band where the phase is noise, unwrapped three ways: with PHASEMEND's
%      own second-difference reliability; with the magnitude as the quality map
%      ('Quality', abs (signal)); and with a quality that weighs the magnitude by
%      PHASEMEND's own reliability (its third output). It prints the share of pixels
%      unwrapped to the true phase outside and inside the band, and shows the three
%      error maps side by side.
%   2. A polar scan: rows are radii, columns azimuths over a full turn, with a
%      sector of missing data. The two sides of the sector are joined only across
%      the azimuth's border: without 'Periodic' they come out as two regions with
%      unrelated 2 pi offsets; with 'Periodic', [false true] as one, unwrapped to
%      the true phase.
%   3. A map cut into pieces by lines of missing data: its connected regions (the
%      second output) as a label image, each with its own unknown 2 pi offset.
%
%   PHASEKIT_OPTIONS (OUT_FOLDER) also saves the figure as OUT_FOLDER/phasekit_options.png.
%
%   RESULT = PHASEKIT_OPTIONS (...) returns a struct: radar_outside and radar_inside
%   (1-by-3 shares unwrapped to the true phase, in the order above), polar_regions
%   (the region counts without and with 'Periodic'), polar_right (the shares of the
%   polar scan unwrapped to the true phase, without and with) and cut_regions (the
%   number of regions of the cut map).
%
%   Runs unchanged in MATLAB and in GNU Octave; needs PHASEMEND on the path.

  if nargin < 1
    out_folder = '';
  end
  seed_noise ();

  % 1. The interferogram: fringes of a hill on a tilt, complex noise, and a band
  %    (a river, a radar shadow) where the magnitude falls to 5%.
  [x, y] = meshgrid (linspace (-1, 1, 400), linspace (-1, 1, 300));
  truth = 40 * exp (-((x - 0.3).^2 + (y + 0.2).^2) / 0.15) + 20 * x + 8 * y.^2;
  band = abs (y - 0.25 * x - 0.1) < 0.08 & x < 0.5;
  magnitude = ones (size (x));
  magnitude(band) = 0.05;
  signal = magnitude .* exp (1i * truth) + 0.7 * (randn (size (x)) + 1i * randn (size (x))) / sqrt (2);
  wrapped = angle (signal);
  ref = [20, 20];                                  % column, row
  [plain, ~, reliability] = phasemend (wrapped, ref(1), ref(2));
  by_magnitude = phasemend (wrapped, ref(1), ref(2), 'Quality', abs (signal));
  finite = reliability(isfinite (reliability));
  reliability(isinf (reliability)) = max (finite);  % the border: as bad as the worst
  combined = phasemend (wrapped, ref(1), ref(2), 'Quality', abs (signal) ./ (1 + reliability));
  unwrapped = {plain, by_magnitude, combined};
  names = {'own reliability', 'Quality: magnitude', 'Quality: magnitude / (1 + reliability)'};
  errors = cell (1, 3);
  result.radar_outside = zeros (1, 3);
  result.radar_inside = zeros (1, 3);
  fprintf ('phasekit options: a %d x %d interferogram, magnitude 5%% over a band\n', size (x, 1), size (x, 2));
  for k = 1:3
    errors{k} = unwrapped{k} - truth - (unwrapped{k}(ref(2), ref(1)) - truth(ref(2), ref(1)));
    result.radar_outside(k) = mean (abs (errors{k}(~band)) < pi);
    result.radar_inside(k) = mean (abs (errors{k}(band)) < pi);
    fprintf ('  %-40s right outside the band %6.2f%%, inside %6.2f%%\n', names{k}, ...
             100 * result.radar_outside(k), 100 * result.radar_inside(k));
  end

  % 2. The polar scan: 120 radii by 360 azimuths, a field that is periodic in the
  %    azimuth, and no data over azimuths 100 to 140 degrees.
  [azimuth, radius] = meshgrid ((0:359) * pi / 180, linspace (0.1, 1, 120));
  polar_truth = 25 * radius .* cos (azimuth - 0.6) + 12 * radius.^2 .* sin (2 * azimuth) + 6 * radius;
  polar = angle (exp (1i * (polar_truth + 0.2 * randn (size (radius)))));
  polar(:, 101:140) = NaN;
  [open_scan, open_regions] = phasemend (polar);
  [closed_scan, closed_regions] = phasemend (polar, 'Periodic', [false true]);
  result.polar_regions = [max(open_regions(:)), max(closed_regions(:))];
  result.polar_right = [right_share(open_scan, polar_truth), right_share(closed_scan, polar_truth)];
  fprintf ('  polar scan without Periodic: %d regions, %6.2f%% right; with: %d region, %6.2f%% right\n', ...
           result.polar_regions(1), 100 * result.polar_right(1), result.polar_regions(2), ...
           100 * result.polar_right(2));

  % 3. A map cut by missing lines into pieces: the regions.
  cut = angle (exp (1i * (30 * exp (-(x.^2 + y.^2) / 0.3))));
  cut(:, 130:132) = NaN;                           % a column of missing data
  cut(abs (y - 0.5 * x + 0.2) < 0.01) = NaN;       % a slanted scratch
  cut(x.^2 / 0.2 + (y - 0.5).^2 / 0.04 < 1 & x.^2 / 0.2 + (y - 0.5).^2 / 0.04 > 0.8) = NaN;  % a ring
  [~, regions] = phasemend (cut);
  result.cut_regions = max (regions(:));
  fprintf ('  a map cut by missing data: %d regions, each with its own 2 pi offset\n', result.cut_regions);

  visible = 'on';
  if ~isempty (out_folder)
    visible = 'off';
  end
  fig = figure ('visible', visible, 'position', [50, 50, 1500, 750]);
  colormap ([0.6, 0.6, 0.6; jet(255)]);           % grey first: missing pixels only
  subplot (2, 4, 1); show_map (wrapped, [-pi, pi]); title ('interferogram, wrapped');
  for k = 1:3
    subplot (2, 4, 1 + k); show_map (errors{k}, [-3 * pi, 3 * pi]);
    title (sprintf ('error, %s', names{k}), 'interpreter', 'none');
  end
  subplot (2, 4, 5); show_map (polar, [-pi, pi]); title ('polar scan (radius x azimuth)');
  subplot (2, 4, 6); show_map (error_against (open_scan, polar_truth), [-3 * pi, 3 * pi]);
  title ('error, no Periodic');
  subplot (2, 4, 7); show_map (error_against (closed_scan, polar_truth), [-3 * pi, 3 * pi]);
  title ('error, Periodic [false true]');
  numbered = regions;
  numbered(regions == 0) = NaN;                    % region 0: missing pixels
  subplot (2, 4, 8); show_map (numbered, [0.5, max(regions(:))]); title ('regions of a cut map');
  if ~isempty (out_folder)
    if ~exist (out_folder, 'dir')
      mkdir (out_folder);
    end
    print (fig, '-dpng', '-r80', fullfile (out_folder, 'phasekit_options.png'));
    fprintf ('  wrote %s\n', fullfile (out_folder, 'phasekit_options.png'));
  end
end

function err = error_against (unwrapped, truth)
  % The error after removing the map's most common multiple of 2 pi.
  valid = ~isnan (unwrapped);
  k = round ((unwrapped(valid) - truth(valid)) / (2 * pi));
  err = unwrapped - truth - 2 * pi * mode (k);
end

function share = right_share (unwrapped, truth)
  % The share of valid pixels within pi of the truth, up to one common 2 pi offset.
  err = error_against (unwrapped, truth);
  share = mean (abs (err(~isnan (err))) < pi);
end

function show_map (map, lim)
  % NaN onto the first colour (grey), which no value takes: values beyond the range go
  % onto its ends, the range onto the other colours.
  finite = map(~isnan (map));
  if isempty (lim)
    lim = [min(finite), max(finite)];
  end
  if lim(2) <= lim(1)
    lim(2) = lim(1) + 1;
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
    rng (5);
  else
    randn ('seed', 5);
  end
end
