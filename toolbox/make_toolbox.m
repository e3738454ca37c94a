function make_toolbox (output_folder)
% MAKE_TOOLBOX  Build the phasekit extensions phasemend, kernsmooth_c and clipforge.
%
%   make_toolbox            builds into the folder "build" next to this file
%   make_toolbox (FOLDER)   builds into FOLDER (created when missing; "." works)
%
% Runs in MATLAB (mex, with the selected C++ compiler: MSVC or MinGW-w64 on Windows,
% Apple clang on macOS, gcc on Linux, or Intel oneAPI) and in GNU Octave (mkoctfile
% --mex). The flags for each host, architecture and compiler come from
% phasekit_build_flags; in MATLAB the extensions use MATLAB's own OpenMP runtime.
% Where no OpenMP can be used, the extensions are built serially, with a message:
% their results are the same, on one core. The help files are copied next to the
% MEX files. Afterwards add the folder to the path as the last line printed says.

  here = fileparts (mfilename ('fullpath'));
  root = fileparts (here);
  if (nargin < 1 || isempty (output_folder))
    output_folder = fullfile (here, 'build');
  end
  if (~exist (output_folder, 'dir'))
    mkdir (output_folder);
  end
  output_folder = absolute_folder (output_folder);

  % One row per extension: name, sources (relative to the repository root), OpenMP.
  extensions = {
    'phasemend', {'unwrap/phasemend.cpp', 'unwrap/pixel_reliability.cpp', ...
                  'unwrap/edge_list.cpp', 'unwrap/edge_ordering.cpp', ...
                  'unwrap/group_merging.cpp', 'unwrap/unwrapped_result.cpp'}, true;
    'kernsmooth_c', {'smooth/kernsmooth_c.cpp', 'smooth/kernel_filter.cpp'}, true;
    'clipforge', {'movie/clipforge.cpp', 'movie/avi_writer.cpp', 'movie/jpeg_probe.cpp'}, false;
  };

  [host, arch, compiler] = build_target ();
  for k = 1:size (extensions, 1)
    name = extensions{k, 1};
    sources = cellfun (@(s) fullfile (root, s), extensions{k, 2}, 'UniformOutput', false);
    attempts = phasekit_build_flags (host, arch, compiler, extensions{k, 3}, matlab_root ());
    build_extension (host, name, sources, attempts, output_folder);
  end
  % A same-named m-file beside a MEX file gives "help NAME" in both hosts; the MEX
  % file wins over it in the same folder. Kept apart in help/, they shadow nothing.
  help_folder = fullfile (here, 'help');
  if (~strcmp (absolute_folder (help_folder), output_folder))
    for k = 1:size (extensions, 1)
      copyfile (fullfile (help_folder, [extensions{k, 1} '.m']), output_folder);
    end
  end
  fprintf ('phasekit: built phasemend, kernsmooth_c and clipforge in %s\n', output_folder);
  fprintf ('phasekit: add it to the path with  addpath (''%s'')\n', output_folder);
end

% Tries the attempts in order; the first build that succeeds is kept. An attempt whose
% required file is missing is not made. Only the last attempt's failure is an error.
function build_extension (host, name, sources, attempts, output_folder)
  last_output = '';
  for a = 1:numel (attempts)
    attempt = attempts(a);
    if (~isempty (attempt.requires) && ~exist (attempt.requires, 'file'))
      continue;
    end
    if (strcmp (host, 'octave'))
      [ok, last_output] = build_in_octave (name, sources, attempt, output_folder);
    else
      [ok, last_output] = build_in_matlab (name, sources, attempt, output_folder);
    end
    if (ok)
      if (~attempt.openmp && a > 1)
        fprintf (['phasekit: %s built without OpenMP (%s): its results are the same, ' ...
                  'computed on one core\n'], name, attempt.note);
      end
      return;
    end
  end
  error ('make_toolbox: building %s failed:\n%s', name, last_output);
end

function [ok, output] = build_in_octave (name, sources, attempt, output_folder)
  % mkoctfile takes compiler flags from the environment only.
  saved_cxx = getenv ('CXXFLAGS');
  saved_ld = getenv ('LDFLAGS');
  setenv ('CXXFLAGS', attempt.cxxflags);
  setenv ('LDFLAGS', attempt.ldflags);
  args = [{'--mex'}, sources, {'-o', fullfile(output_folder, [name '.mex'])}];
  [output, status] = mkoctfile (args{:});
  setenv ('CXXFLAGS', saved_cxx);
  setenv ('LDFLAGS', saved_ld);
  ok = status == 0;
end

function [ok, output] = build_in_matlab (name, sources, attempt, output_folder)
  args = [{'-R2017b', '-outdir', output_folder, '-output', name}, attempt.args, sources];
  try
    output = evalc ('mex (args{:})');
    ok = true;
  catch failure
    output = failure.message;
    ok = false;
  end
end

% The host, MATLAB's name for the architecture, and the kind of C++ compiler in use.
function [host, arch, compiler] = build_target ()
  if (exist ('OCTAVE_VERSION', 'builtin') > 0)
    host = 'octave';
    triplet = computer ();   % e.g. x86_64-pc-linux-gnu, aarch64-apple-darwin23
    arm = ~isempty (regexp (triplet, '^(aarch64|arm64)', 'once'));
    if (ispc ())
      arch = 'win64';
    elseif (ismac ())
      arch = 'maci64';
      if (arm)
        arch = 'maca64';
      end
    elseif (arm)
      arch = 'glnxarm64';
    else
      arch = 'glnxa64';
    end
    compiler_command = strtrim (mkoctfile ('-p', 'CXX'));
    [~, version_text] = system ([compiler_command ' --version']);
    if (~isempty (strfind (version_text, 'Apple clang')))
      compiler = 'apple-clang';
    elseif (~isempty (regexpi (version_text, 'intel|oneapi', 'once')))
      compiler = 'intel';
    elseif (~isempty (strfind (version_text, 'clang')))
      compiler = 'clang';
    elseif (ispc ())
      compiler = 'mingw';
    else
      compiler = 'gcc';
    end
  else
    host = 'matlab';
    arch = computer ('arch');   % glnxa64, maci64 (also under Rosetta), maca64, win64
    selected = mex.getCompilerConfigurations ('C++', 'Selected');
    if (isempty (selected))
      error ('make_toolbox: no C++ compiler is selected; run  mex -setup C++  first');
    end
    maker = lower ([selected(1).Manufacturer ' ' selected(1).ShortName]);
    if (~isempty (strfind (maker, 'microsoft')))
      compiler = 'msvc';
    elseif (~isempty (strfind (maker, 'intel')))
      compiler = 'intel';
    elseif (~isempty (strfind (maker, 'apple')) || ismac ())
      compiler = 'apple-clang';
    elseif (ispc ())
      compiler = 'mingw';
    else
      compiler = 'gcc';
    end
  end
end

function root = matlab_root ()
  root = '';
  if (exist ('OCTAVE_VERSION', 'builtin') == 0)
    root = matlabroot ();
  end
end

% The folder as an absolute path, however it was given (".", "..", relative), so
% that what is printed for addpath still holds after a cd. (Changing folder to find
% it would break a relative path entry such as the caller's addpath ('toolbox').)
function folder = absolute_folder (folder)
  [ok, info] = fileattrib (folder);
  if (ok)
    folder = info.Name;
  end
end
