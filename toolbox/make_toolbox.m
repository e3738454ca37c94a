function make_toolbox (output_folder)
% MAKE_TOOLBOX  Build the phasekit extensions phasemend, kernsmooth_c and clipforge.
%
%   make_toolbox            builds into the folder "build" next to this file
%   make_toolbox (FOLDER)   builds into FOLDER (created when missing)
%
% Runs in MATLAB (with mex, separate-complex API, OpenMP for gcc on Linux, MSVC on
% Windows, Apple clang with Homebrew's libomp on macOS; set LIBOMP_PREFIX when libomp
% is not in /opt/homebrew/opt/libomp or /usr/local/opt/libomp) and in GNU Octave (with
% mkoctfile --mex and OpenMP). Both hosts compile the same sources with the same
% defines. Afterwards add the folder to the path, for example addpath (FOLDER).

  here = fileparts (mfilename ('fullpath'));
  root = fileparts (here);
  if (nargin < 1 || isempty (output_folder))
    output_folder = fullfile (here, 'build');
  end
  if (~exist (output_folder, 'dir'))
    mkdir (output_folder);
  end

  % One row per extension: name, sources (relative to the repository root), OpenMP.
  extensions = {
    'phasemend', {'unwrap/phasemend.cpp', 'unwrap/pixel_reliability.cpp', ...
                  'unwrap/edge_list.cpp', 'unwrap/edge_ordering.cpp', ...
                  'unwrap/group_merging.cpp', 'unwrap/unwrapped_result.cpp'}, true;
    'kernsmooth_c', {'smooth/kernsmooth_c.cpp', 'smooth/kernel_filter.cpp'}, true;
    'clipforge', {'movie/clipforge.cpp', 'movie/avi_writer.cpp', 'movie/jpeg_probe.cpp'}, false;
  };
  defines = {};  % none today; both hosts get the same list

  in_octave = exist ('OCTAVE_VERSION', 'builtin') > 0;
  for k = 1:size (extensions, 1)
    name = extensions{k, 1};
    sources = cellfun (@(s) fullfile (root, s), extensions{k, 2}, 'UniformOutput', false);
    use_openmp = extensions{k, 3};
    if (in_octave)
      build_in_octave (name, sources, defines, use_openmp, output_folder);
    else
      build_in_matlab (name, sources, defines, use_openmp, output_folder);
    end
  end
  % A same-named m-file beside a MEX file gives "help NAME" in both hosts.
  for k = 1:size (extensions, 1)
    help_file = fullfile (here, [extensions{k, 1} '.m']);
    if (exist (help_file, 'file') && ~strcmp (fullfile (output_folder, [extensions{k, 1} '.m']), help_file))
      copyfile (help_file, output_folder);
    end
  end
  fprintf ('phasekit: built phasemend, kernsmooth_c and clipforge in %s\n', output_folder);
  fprintf ('phasekit: add it to the path with  addpath (''%s'')\n', output_folder);
end

function build_in_octave (name, sources, defines, use_openmp, output_folder)
  % mkoctfile takes compiler flags from the environment only, and CXXFLAGS replaces
  % its defaults, so the optimisation level is given here too.
  flags = '-O2 -std=c++11 -ffp-contract=off';
  link = '';
  if (use_openmp)
    flags = [flags ' -fopenmp'];
    link = '-fopenmp';
  end
  saved_cxx = getenv ('CXXFLAGS');
  saved_ld = getenv ('LDFLAGS');
  setenv ('CXXFLAGS', flags);
  setenv ('LDFLAGS', link);
  args = [{'--mex'}, defines, sources, {'-o', fullfile(output_folder, [name '.mex'])}];
  [output, status] = mkoctfile (args{:});
  setenv ('CXXFLAGS', saved_cxx);
  setenv ('LDFLAGS', saved_ld);
  if (status ~= 0)
    error ('make_toolbox: building %s failed:\n%s', name, output);
  end
end

function build_in_matlab (name, sources, defines, use_openmp, output_folder)
  args = {'-R2017b', '-outdir', output_folder, '-output', name};
  if (use_openmp)
    if (ispc ())
      args = [args, {'COMPFLAGS=$COMPFLAGS /openmp'}];
    elseif (ismac ())
      prefix = getenv ('LIBOMP_PREFIX');
      if (isempty (prefix))
        prefix = '/opt/homebrew/opt/libomp';
        if (~exist (prefix, 'dir'))
          prefix = '/usr/local/opt/libomp';
        end
      end
      args = [args, {['CXXFLAGS=$CXXFLAGS -std=c++11 -ffp-contract=off -Xpreprocessor -fopenmp -I' prefix '/include'], ...
                     ['LDFLAGS=$LDFLAGS -L' prefix '/lib -lomp']}];
    else
      args = [args, {'CXXFLAGS=$CXXFLAGS -std=c++11 -ffp-contract=off -fopenmp', ...
                     'LDFLAGS=$LDFLAGS -fopenmp'}];
    end
  elseif (~ispc ())
    args = [args, {'CXXFLAGS=$CXXFLAGS -std=c++11 -ffp-contract=off'}];
  end
  mex (args{:}, defines{:}, sources{:});
end
