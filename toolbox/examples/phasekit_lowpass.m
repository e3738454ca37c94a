function result = phasekit_lowpass (out_folder)
%PHASEKIT_LOWPASS  A Gaussian low-pass of a wrapped phase map's complex field.
%
%   PHASEKIT_LOWPASS makes a wrapped interferogram whose phase is fine fringes on top of
%   a smooth atmospheric screen, with noise and missing patches (NaN), and estimates
%   the screen by low-passing the complex field exp(1i*phase) with a 101-tap Gaussian
%   window, NaN-aware: once with the separable form KERNSMOOTH_C (FIELD, G, G), at a
%   cost that grows with the window's side, and once with the same window as a
%   101 x 101 kernel, KERNSMOOTH_C (FIELD, G * G.'), whose cost grows with its area.
%   It prints both times and how far apart the two results are (rounding only), and
%   shows the wrapped phase, the screen found, the true screen and the phase with the
%   screen taken off.
%
%   PHASEKIT_LOWPASS (OUT_FOLDER) also saves the figure as OUT_FOLDER/phasekit_lowpass.png.
%
%   RESULT = PHASEKIT_LOWPASS (...) returns a struct: separable_seconds,
%   kernel_seconds, largest_difference (between the two smoothed fields) and
%   screen_error (the largest error of the screen found, in radians, away from the
%   borders and the missing patches).
%
%   Runs unchanged in MATLAB and in GNU Octave; needs KERNSMOOTH_C on the path.

  if nargin < 1
    out_folder = '';
  end
  n = 1024;
  [x, y] = meshgrid (linspace (-1, 1, n));
  screen = 6 * exp (-((x + 0.3).^2 + (y - 0.2).^2) / 0.5) + 2 * x .* y;   % smooth: the atmosphere
  fringes = 60 * pi * (0.3 * x + 0.2 * y.^2);                               % fine: the deformation
  seed_noise ();
  field = exp (1i * (screen + fringes)) + 0.3 * (randn (n) + 1i * randn (n));
  field((x - 0.4).^2 + (y + 0.5).^2 < 0.01) = NaN;                          % missing patches
  field(abs (y - 0.6) < 0.02 & x < 0) = NaN;
  wrapped = angle (field);

  % The fringes are known here (an orbit model, a reference surface): take them off,
  % low-pass what is left, and the screen is its phase.
  flattened = field .* exp (-1i * fringes);
  taps = 101;
  g = exp (-0.5 * ((-(taps - 1) / 2:(taps - 1) / 2) / (taps / 6)).^2);
  tic;
  smooth_separable = kernsmooth_c (flattened, g, g);
  separable_seconds = toc;
  tic;
  smooth_kernel = kernsmooth_c (flattened, g(:) * g);
  kernel_seconds = toc;
  found = angle (smooth_separable);
  valid = ~isnan (found);
  inner = valid & abs (x) < 0.8 & abs (y) < 0.8;
  offset = angle (mean (exp (1i * (found(inner) - screen(inner)))));
  screen_error = max (abs (angle (exp (1i * (found(inner) - screen(inner) - offset)))));
  both = valid & ~isnan (smooth_kernel);
  largest_difference = max (abs (smooth_separable(both) - smooth_kernel(both)));
  fprintf ('phasekit low-pass: %d x %d complex field, Gaussian of %d taps, NaN-aware\n', n, n, taps);
  fprintf ('  kernsmooth_c (field, g, g)      %7.3f s\n', separable_seconds);
  fprintf ('  kernsmooth_c (field, g(:) * g)  %7.3f s  (%.0f times as long)\n', kernel_seconds, ...
           kernel_seconds / separable_seconds);
  fprintf ('  largest difference between the two: %.2g (rounding)\n', largest_difference);
  fprintf ('  largest error of the screen found: %.3f rad\n', screen_error);

  visible = 'on';
  if ~isempty (out_folder)
    visible = 'off';
  end
  fig = figure ('visible', visible, 'position', [50, 50, 1400, 380]);
  colormap ([0.6, 0.6, 0.6; jet(255)]);   % grey: missing pixels
  truth = angle (exp (1i * (screen + offset)));
  corrected = angle (exp (1i * (wrapped - found)));
  panels = {wrapped, 'wrapped phase'; found, 'screen found (separable low-pass)'; ...
            truth, 'true screen'; corrected, 'phase, screen taken off'};
  for k = 1:4
    subplot (1, 4, k);
    shown = panels{k, 1};
    step = 2 * pi / 254;
    shown(isnan (shown)) = -pi - step;           % onto the grey, which no phase takes
    imagesc (shown, [-pi - step, pi]);
    axis image off;
    title (panels{k, 2});
  end
  if ~isempty (out_folder)
    if ~exist (out_folder, 'dir')
      mkdir (out_folder);
    end
    print (fig, '-dpng', '-r80', fullfile (out_folder, 'phasekit_lowpass.png'));
    fprintf ('  wrote %s\n', fullfile (out_folder, 'phasekit_lowpass.png'));
  end
  result = struct ('separable_seconds', separable_seconds, 'kernel_seconds', kernel_seconds, ...
                   'largest_difference', largest_difference, 'screen_error', screen_error);
end

function seed_noise ()
  if exist ('rng', 'file') || exist ('rng', 'builtin')
    rng (7);
  else
    randn ('seed', 7);
  end
end
