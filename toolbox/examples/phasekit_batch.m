function same = phasekit_batch (out_folder, count)
%PHASEKIT_BATCH  A stack of phase maps unwrapped in parallel, one map per worker.
%
%   PHASEKIT_BATCH unwraps a stack of wrapped maps (a surface deforming over time)
%   once in a plain loop and once in parallel: with PARFOR in MATLAB (a plain loop
%   without the Parallel Computing Toolbox) and with PARARRAYFUN of Octave's
%   parallel package when it is installed (pkg install -forge parallel). It prints
%   both times and whether the results are the same, which they always are.
%
%   PHASEKIT_BATCH (OUT_FOLDER) also saves a figure of the first maps, wrapped and
%   unwrapped, as OUT_FOLDER/phasekit_batch.png ('' or [] saves nothing), as the other
%   examples do.  PHASEKIT_BATCH (OUT_FOLDER, COUNT) uses COUNT maps (default 8).
%   SAME = PHASEKIT_BATCH (...) returns true when the parallel results equal the
%   serial ones.
%
%   Each worker should run PHASEMEND on one OpenMP thread, or the workers' threads
%   compete for the cores: start MATLAB or Octave with the environment variable
%   OMP_NUM_THREADS=1 for a batch session (setting it inside a running Octave has
%   no effect; the OpenMP runtime reads it when Octave starts).

  if nargin < 1
    out_folder = '';
  end
  if nargin < 2
    count = 8;
  end
  if ~ischar (out_folder) && ~isempty (out_folder)
    error ('phasekit_batch: the first argument is the output folder (such as ''out''); the count comes second');
  end
  n = 512;
  [x, y] = meshgrid (linspace (-1, 1, n));
  maps = cell (1, count);
  for k = 1:count
    t = (k - 1) / max (count - 1, 1);
    phase = 30 * sin (pi * t) * exp (-((x - 0.3 * t).^2 + y.^2) / 0.2) + 5 * x;
    maps{k} = angle (exp (1i * phase));
  end
  if ~strcmp (getenv ('OMP_NUM_THREADS'), '1')
    fprintf ('(for one OpenMP thread per worker, start with OMP_NUM_THREADS=1)\n');
  end

  tic;
  serial = unwrap_each (maps, n / 2);
  t_serial = toc;

  tic;
  if exist ('OCTAVE_VERSION', 'builtin')
    if has_parallel_package ()
      how = 'pararrayfun';
      in_parallel = pararrayfun (nproc (), @(k) phasemend (maps{k}, n / 2, n / 2), 1:count, ...
                              'UniformOutput', false);
    else
      how = 'a plain loop (no parallel package)';
      in_parallel = unwrap_each (maps, n / 2);
    end
  else
    how = 'parfor';
    in_parallel = cell (1, count);
    parfor k = 1:count
      in_parallel{k} = phasemend (maps{k}, n / 2, n / 2);
    end
  end
  t_parallel = toc;

  same = isequaln (serial, in_parallel);
  fprintf ('phasekit batch: %d maps of %d x %d\n', count, n, n);
  fprintf ('  plain loop     %6.3f s\n  %-14s %6.3f s\n', t_serial, how, t_parallel);
  fprintf ('  same results: %d\n', same);
  if ~isempty (out_folder)
    save_figure (out_folder, maps, serial);
  end
end

function save_figure (out_folder, maps, unwrapped)
  % The first maps (up to four), wrapped above and unwrapped below.
  shown = min (4, numel (maps));
  fig = figure ('visible', 'off', 'position', [50, 50, 300 * shown, 600]);
  colormap (jet (256));
  for k = 1:shown
    subplot (2, shown, k); imagesc (maps{k}, [-pi, pi]); axis image off;
    title (sprintf ('map %d, wrapped', k));
    subplot (2, shown, shown + k); imagesc (unwrapped{k}); axis image off;
    title ('unwrapped');
  end
  if ~exist (out_folder, 'dir')
    mkdir (out_folder);
  end
  print (fig, '-dpng', '-r80', fullfile (out_folder, 'phasekit_batch.png'));
  close (fig);
  fprintf ('  wrote %s\n', fullfile (out_folder, 'phasekit_batch.png'));
end

function unwrapped = unwrap_each (maps, centre)
  % The plain loop, with the reference point at the centre of each map.
  unwrapped = cell (size (maps));
  for k = 1:numel (maps)
    unwrapped{k} = phasemend (maps{k}, centre, centre);
  end
end

function ok = has_parallel_package ()
  ok = false;
  try
    pkg ('load', 'parallel');
    ok = exist ('pararrayfun', 'file') > 0;
  catch
  end
end
