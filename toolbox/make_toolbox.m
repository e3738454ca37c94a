function make_toolbox (output_folder)
% MAKE_TOOLBOX  Build the phasekit commands phasemend, phasemend3, kernsmooth_c and clipforge.
%
%   make_toolbox            builds into the default folder: "build" next to this file
%                           in the repository, the toolbox folder itself in the
%                           unpacked toolbox zip
%   make_toolbox (FOLDER)   builds into FOLDER (created when missing; "." works)
%
% Runs in MATLAB (mex, with the selected C++ compiler: MSVC or MinGW-w64 on Windows,
% Apple clang on macOS, gcc on Linux, or Intel oneAPI) and in GNU Octave (mkoctfile
% --mex). The flags for each host, architecture and compiler come from
% phasekit_build_flags; in MATLAB the extensions use MATLAB's own OpenMP runtime.
% Where no OpenMP can be used, the extensions are built serially, with a message:
% their results are the same, on one core. The help files are copied next to the
% MEX files. Afterwards add the folder to the path as the last line printed says.
%
% In the toolbox zip (phasekit/ with the sources in phasekit/source), a folder that
% already holds every command's MEX file for this host (mexext) is used as it is:
% the zip's Windows (.mexw64) and Linux (.mexa64) files need no compiler. To build
% your own there anyway, give another folder.
%
% macOS: nothing is compiled or linked for it where phasekit is made; its flags
% (Apple clang with MATLAB's own OpenMP runtime, or Homebrew's libomp in Octave)
% follow MATLAB's, Apple's and Homebrew's documentation only. The log NAME-build.log
% beside the MEX files says what each attempt ran and what the compiler answered.

  here = fileparts (mfilename ('fullpath'));
  % The repository (this file in toolbox/, sources beside it, help files in
  % toolbox/help), or the toolbox zip (sources in source/, help files beside this file).
  unpacked = exist (fullfile (here, 'source', 'unwrap', 'phasemend.cpp'), 'file') > 0;
  if (unpacked)
    root = fullfile (here, 'source');
    default_folder = here;
  else
    root = fileparts (here);
    default_folder = fullfile (here, 'build');
  end
  if (nargin < 1 || isempty (output_folder))
    output_folder = default_folder;
  end
  if (~exist (output_folder, 'dir'))
    mkdir (output_folder);
  end
  output_folder = absolute_folder (output_folder);

  extensions = phasekit_extensions ();
  built = cellfun (@(name) exist (fullfile (output_folder, [name '.' mexext()]), 'file') > 0, ...
                   extensions(:, 1));
  if (unpacked && all (built))
    fprintf ('phasekit: %s holds the commands for this host (.%s): nothing to build\n', ...
             output_folder, mexext ());
    fprintf ('phasekit: add it to the path with  addpath (''%s'')\n', output_folder);
    return;
  end

  [host, arch, compiler, host_version] = build_target ();
  for k = 1:size (extensions, 1)
    name = extensions{k, 1};
    sources = cellfun (@(s) fullfile (root, s), extensions{k, 2}, 'UniformOutput', false);
    attempts = phasekit_build_flags (host, arch, compiler, extensions{k, 3}, matlab_root (), ...
                                     host_version, extensions{k, 4});
    build_extension (host, name, sources, attempts, output_folder);
  end
  % A same-named m-file beside a MEX file gives "help NAME" in both hosts; the MEX
  % file wins over it in the same folder. Kept apart in help/ in the repository, they
  % shadow nothing there; in the zip they stand beside this file.
  help_folder = fullfile (here, 'help');
  if (unpacked)
    help_folder = here;
  end
  if (~strcmp (absolute_folder (help_folder), output_folder))
    for k = 1:size (extensions, 1)
      copyfile (fullfile (help_folder, [extensions{k, 1} '.m']), output_folder);
    end
  end
  fprintf ('phasekit: built %s in %s\n', list_names (extensions(:, 1)), output_folder);
  fprintf ('phasekit: add it to the path with  addpath (''%s'')\n', output_folder);
end

% Tries the attempts in order; the first build that succeeds is kept. An attempt whose
% required file is missing is not made. Only the last attempt's failure is an error.
% What every attempt ran and what its compiler said goes to NAME-build.log in the
% output folder, so that a build that went serial, or failed, can be looked into.
function build_extension (host, name, sources, attempts, output_folder)
  log_file = fullfile (output_folder, [name '-build.log']);
  log_text = '';
  last_output = '';
  for a = 1:numel (attempts)
    attempt = attempts(a);
    if (~isempty (attempt.requires) && ~exist (attempt.requires, 'file'))
      log_text = [log_text sprintf('== %s: not tried, %s is missing\n\n', ...
                                   attempt.note, attempt.requires)];
      continue;
    end
    if (strcmp (host, 'octave'))
      [ok, last_output] = build_in_octave (name, sources, attempt, output_folder);
    else
      [ok, last_output] = build_in_matlab (name, sources, attempt, output_folder);
    end
    verdict = 'failed';
    if (ok)
      verdict = 'built';
    end
    log_text = [log_text sprintf('== %s: %s\n%s\n\n', attempt.note, verdict, last_output)];
    if (ok)
      write_text (log_file, log_text);
      if (~attempt.openmp && a > 1)
        fprintf (['phasekit: %s built without OpenMP (%s): its results are the same, ' ...
                  'computed on one core; why the OpenMP build failed: %s\n'], ...
                 name, attempt.note, log_file);
      end
      return;
    end
  end
  write_text (log_file, log_text);
  error ('make_toolbox: building %s failed (every attempt is in %s):\n%s', ...
         name, log_file, last_output);
end

function write_text (file, text)
  handle = fopen (file, 'w');
  if (handle >= 0)
    fwrite (handle, text);
    fclose (handle);
  end
end

% Octave takes compiler flags from the environment only; the attempt's flags are
% added to Octave's own (whatever mkoctfile -p reports: its defaults, or the user's
% CXXFLAGS and LDFLAGS), and the variables are put back as they were. mkoctfile
% leaves the output path unquoted on its link line, so the build runs in the output
% folder with a bare file name, which no blank in the folder's path can split. The
% program is run as mkoctfile () runs it, quoted the same way, but with its error
% stream joined to the output: mkoctfile () lets the compiler's messages pass to the
% terminal, where make_toolbox cannot keep them.
function [ok, output] = build_in_octave (name, sources, attempt, output_folder)
  names = {'CXXFLAGS', 'LDFLAGS'};
  added = {attempt.cxxflags, attempt.ldflags};
  saved = cellfun (@getenv, names, 'UniformOutput', false);
  previous = pwd ();
  % Puts the folder and the variables back however this function is left. (This
  % file must also parse in MATLAB, which has no unwind_protect.)
  restore = onCleanup (@() restore_state (previous, names, saved));
  for k = 1:numel (names)
    setenv (names{k}, strtrim ([strtrim(mkoctfile('-p', names{k})) ' ' added{k}]));
  end
  cd (output_folder);
  program = fullfile (feval ('__octave_config_info__', 'bindir'), 'mkoctfile');
  command = sprintf ('"%s" -v --mex %s', program, attempt.api);
  for k = 1:numel (sources)
    command = [command sprintf(' "%s"', sources{k})];
  end
  command = [command sprintf(' -o %s.mex 2>&1', name)];
  [status, output] = system (command);
  output = sprintf ('CXXFLAGS=%s\nLDFLAGS=%s\n%s', getenv ('CXXFLAGS'), getenv ('LDFLAGS'), output);
  ok = status == 0;
end

function restore_state (folder, names, values)
  cd (folder);
  for k = 1:numel (names)
    restore_variable (names{k}, values{k});
  end
end

% A variable that was unset before is unset again, not left empty: an empty CXXFLAGS
% is not the same as none to every program a later system () call may start.
% (Octave has no test for a set but empty variable; such a one ends up unset.)
function restore_variable (name, value)
  if (isempty (value))
    unsetenv (name);
  else
    setenv (name, value);
  end
end

function [ok, output] = build_in_matlab (name, sources, attempt, output_folder)
  % -v puts mex's command lines into the log beside the compiler's messages.
  args = [{'-v', attempt.api, '-outdir', output_folder, '-output', name}, attempt.args, sources];
  try
    output = evalc ('mex (args{:})');
    ok = true;
  catch failure
    output = failure.message;
    ok = false;
  end
end

% The host, MATLAB's name for the architecture, the kind of C++ compiler in use, and
% the host's version.
function [host, arch, compiler, host_version] = build_target ()
  if (exist ('OCTAVE_VERSION', 'builtin') > 0)
    host = 'octave';
    host_version = OCTAVE_VERSION ();
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
    host_version = version ();   % e.g. 9.4.0.813654 (R2018a)
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

% "a, b and c"
function text = list_names (names)
  text = names{end};
  if (numel (names) > 1)
    text = [strjoin(names(1:end-1), ', ') ' and ' text];
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
