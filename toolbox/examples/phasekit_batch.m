function same = phasekit_batch (count)
%PHASEKIT_BATCH  A stack of phase maps unwrapped in parallel, one map per worker.
%
%   PHASEKIT_BATCH unwraps a stack of wrapped maps (a surface deforming over time)
%   once in a plain loop and once in parallel: with PARFOR in MATLAB (a plain loop
%   without the Parallel Computing Toolbox) and with PARARRAYFUN of Octave's
%   parallel package when it is installed (pkg install -forge parallel). It prints
%   both times and whether the results are the same, which they always are.
%
%   PHASEKIT_BATCH (COUNT) uses COUNT maps (default 8).  SAME = PHASEKIT_BATCH (...)
%   returns true when the parallel results equal the serial ones.
%
%   Each worker should run PHASEMEND on one OpenMP thread, or the workers' threads
%   compete for the cores: start MATLAB or Octave with the environment variable
%   OMP_NUM_THREADS=1 for a batch session (setting it inside a running Octave has
%   no effect; the OpenMP runtime reads it when Octave starts).

  if nargin < 1
    count = 8;
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
