function run_octave_tests (extension_folder, varargin)
  % Runs the %!test blocks of the given test files with the extension files of
  % EXTENSION_FOLDER first on the path (none when empty), prints "N passed, N failed"
  % and exits with status 1 when any block failed.
  if (! isempty (extension_folder))
    addpath (extension_folder);
  end
  passed = 0;
  total = 0;
  for k = 1:numel (varargin)
    [n, nmax] = test (varargin{k}, "quiet", stdout);
    passed += n;
    total += nmax;
  end
  printf ("%d passed, %d failed\n", passed, total - passed);
  exit (double (passed != total || total == 0));
end
