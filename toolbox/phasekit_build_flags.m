function attempts = phasekit_build_flags (host, arch, compiler, use_openmp, matlab_root, ...
                                          host_version, complex_data)
% PHASEKIT_BUILD_FLAGS  How to build one phasekit extension for a host, architecture
% and compiler: the build attempts to make in order, the first that succeeds wins.
%
%   attempts = phasekit_build_flags (HOST, ARCH, COMPILER, USE_OPENMP, MATLAB_ROOT, ...
%                                    HOST_VERSION, COMPLEX_DATA)
%
%   HOST      'matlab' or 'octave'
%   ARCH      'glnxa64', 'glnxarm64', 'maci64', 'maca64' or 'win64' (MATLAB's names)
%   COMPILER  'gcc', 'clang', 'apple-clang', 'msvc', 'mingw' or 'intel'
%   USE_OPENMP  true for the extensions with parallel loops
%   MATLAB_ROOT matlabroot in MATLAB (its OpenMP runtime is linked); ignored in Octave
%   HOST_VERSION  the host's version: MATLAB's version () ('9.4...' is R2018a) or
%             Octave's OCTAVE_VERSION; '' when unknown
%   COMPLEX_DATA  true for an extension that reads and writes complex data in the
%             host's own layout (kernsmooth_c); false or absent otherwise
%
% Each attempt has the fields
%   args      cell of extra arguments for mex (MATLAB: 'NAME=$NAME ...' overrides,
%             and -lut: MATLAB's libut, where Ctrl-C is asked for)
%   cxxflags  CXXFLAGS for mkoctfile (Octave takes flags from the environment only;
%             make_toolbox adds them to Octave's own)
%   ldflags   LDFLAGS for mkoctfile (likewise added to Octave's own)
%   api       the complex API to build with: '-R2018a' (interleaved) or '-R2017b'
%   requires  a file that must exist for the attempt to be made ('' for none)
%   openmp    whether the result runs its loops in parallel
%   note      what the attempt is, for messages
%
% Every attempt turns off floating-point contraction (fused multiply-add), so results
% are the same bits on every platform; results never depend on OpenMP either, so a
% serial build is a slower build of the same toolbox. The function only computes
% flags, so every branch can be checked from either host.

  if (nargin < 5)
    matlab_root = '';
  end
  if (nargin < 6)
    host_version = '';
  end
  if (nargin < 7)
    complex_data = false;
  end
  known_arch = {'glnxa64', 'glnxarm64', 'maci64', 'maca64', 'win64'};
  known_compiler = {'gcc', 'clang', 'apple-clang', 'msvc', 'mingw', 'intel'};
  if (~any (strcmp (host, {'matlab', 'octave'})) || ~any (strcmp (arch, known_arch)) ...
      || ~any (strcmp (compiler, known_compiler)))
    error ('phasekit_build_flags: unknown host, architecture or compiler: %s, %s, %s', ...
           host, arch, compiler);
  end
  windows = strcmp (arch, 'win64');
  mac = any (strcmp (arch, {'maci64', 'maca64'}));
  if ((strcmp (compiler, 'apple-clang') && ~mac) || (any (strcmp (compiler, {'msvc', 'mingw'})) && ~windows))
    error ('phasekit_build_flags: there is no %s compiler for %s', compiler, arch);
  end
  msvc_style = strcmp (compiler, 'msvc') || (windows && strcmp (compiler, 'intel'));

  % The base every attempt starts from. Extension sources are C++11; MSVC's default
  % /fp:precise contracts nothing since Visual Studio 2022 (and x64 code without
  % /arch:AVX2 has no fused instruction to contract into); Intel's compilers default
  % to fast floating point, so they are told otherwise. Intel's -fp-model=precise
  % still contracts (only consistent and strict do not), and of two such options
  % the later wins, so the model comes first and contraction stays off either way.
  if (msvc_style)
    base = '/fp:precise';
    if (strcmp (compiler, 'intel'))
      base = [base ' /Qfma-'];
    end
  elseif (strcmp (compiler, 'intel'))
    base = '-std=c++11 -fp-model=consistent -ffp-contract=off';
  else
    base = '-std=c++11 -ffp-contract=off';
  end

  % Complex data in the host's own layout, where the host keeps it interleaved and
  % its interleaved API is sound: MATLAB R2018a (9.4) and later; Octave 8.4.0 and
  % later (up to 8.3 its interleaved mxCreate* gave complex arrays half the memory
  % they need, Octave bug #64687). Elsewhere the separate API, whose data the host
  % translates on the way in and out.
  api = '-R2017b';
  if (complex_data && ((strcmp (host, 'matlab') && version_at_least (host_version, [9 4 0])) ...
                       || (strcmp (host, 'octave') && version_at_least (host_version, [8 4 0]))))
    api = '-R2018a';
  end

  attempts = struct ('args', {}, 'cxxflags', {}, 'ldflags', {}, 'requires', {}, ...
                     'openmp', {}, 'note', {});
  if (~use_openmp)
    attempts(end + 1) = attempt (host, msvc_style, base, '', '', '', false, 'no OpenMP needed');
    [attempts.api] = deal (api);
    return;
  end

  if (strcmp (host, 'matlab'))
    % One OpenMP runtime per process, and one that stays loaded when MEX files are
    % cleared: MATLAB's own (Intel's libiomp5, which also serves code compiled by GCC
    % and clang through their runtime interfaces). A second runtime aborts MATLAB on
    % macOS ("OMP: Error #15"); libgomp, unloaded by "clear mex" under its idle worker
    % threads, can crash MATLAB on Linux.
    switch (arch)
      case {'glnxa64', 'glnxarm64', 'maci64', 'maca64'}
        % The runtime's folder differs between releases (sys/os or bin), as does its
        % name on Apple silicon; the first that exists is linked. Apple clang takes
        % OpenMP pragmas only through -Xpreprocessor; the sources include no OpenMP
        % header, so no include folder is needed. mex links as
        %   LDXX LDFLAGS LDTYPE LINKOPTIM LINKEXPORTVER objects CXXLIBS LINKLIBS -o EXE
        % and gcc on Debian and Ubuntu links --as-needed by default, which drops a
        % library named before the objects that need it: so the runtime goes into
        % LINKLIBS, after them, and only its run-time path into LDFLAGS.
        if (mac)
          compile = [base ' -Xpreprocessor -fopenmp'];
          names = {'libiomp5.dylib', 'libomp.dylib'};
        elseif (strcmp (compiler, 'intel'))
          compile = [base ' -qopenmp'];
          names = {'libiomp5.so'};
        else
          compile = [base ' -fopenmp'];
          names = {'libiomp5.so'};
        end
        for n = 1:numel (names)
          for folder = {fullfile('sys', 'os', arch), fullfile('bin', arch)}
            runtime_dir = fullfile (matlab_root, folder{1});
            library = regexprep (names{n}, '^lib(.*)\.(so|dylib)$', '$1');
            attempts(end + 1) = attempt (host, false, compile, ...
              sprintf ('-Wl,-rpath,"%s"', runtime_dir), ...
              sprintf ('-L"%s" -l%s', runtime_dir, library), ...
              fullfile (runtime_dir, names{n}), true, ['OpenMP through MATLAB''s ' names{n}]);
          end
        end
      case 'win64'
        if (strcmp (compiler, 'msvc'))
          % vcomp140.dll comes with the Visual C++ runtime MATLAB installs. It is
          % OpenMP 2.0, so the parts that need tasks run on one thread.
          attempts(end + 1) = attempt (host, true, [base ' /openmp'], '', '', '', true, ...
                                       'OpenMP through MSVC''s vcomp');
        elseif (strcmp (compiler, 'intel'))
          attempts(end + 1) = attempt (host, true, [base ' /Qopenmp'], '', '', '', true, ...
                                       'OpenMP through Intel''s libiomp5md');
        else
          % MinGW-w64: libgomp and the threads under it are linked into the MEX file,
          % so it needs no DLL beside it that a MATLAB user would lack. -fopenmp adds
          % -lgomp after the objects; -static (which MATLAB's MinGW options also pass
          % since R2017b) makes that and every other runtime library the archive.
          % No -Bdynamic may follow: it would hand the trailing libraries back to
          % their DLLs.
          attempts(end + 1) = attempt (host, false, [base ' -fopenmp'], '-fopenmp -static', ...
            '', '', true, 'OpenMP through a static libgomp');
        end
    end
    attempts(end + 1) = attempt (host, msvc_style, base, '', '', '', false, ...
                                 'serial: no usable OpenMP runtime found');
    [attempts.api] = deal (api);
    return;
  end

  % Octave loads libgomp itself (Linux, MinGW), and MEX files share it.
  if (strcmp (compiler, 'apple-clang'))
    attempts(end + 1) = attempt (host, false, [base ' -fopenmp'], '-fopenmp', '', '', true, ...
                                 'OpenMP with -fopenmp');
    % Apple clang rejects a bare -fopenmp; libomp (Homebrew) has to be named.
    prefixes = {getenv('LIBOMP_PREFIX'), '/opt/homebrew/opt/libomp', '/usr/local/opt/libomp'};
    for k = 1:numel (prefixes)
      if (isempty (prefixes{k}))
        continue;
      end
      attempts(end + 1) = attempt (host, false, [base ' -Xpreprocessor -fopenmp'], '', ...
        sprintf ('-L"%s" -lomp', fullfile (prefixes{k}, 'lib')), ...
        fullfile (prefixes{k}, 'lib', 'libomp.dylib'), true, ...
        ['OpenMP through ' fullfile(prefixes{k}, 'lib', 'libomp.dylib')]);
    end
    attempts(end + 1) = attempt (host, false, [base ' -Xpreprocessor -fopenmp'], '', '-lomp', ...
                                 '', true, 'OpenMP with -Xpreprocessor -fopenmp -lomp');
  elseif (strcmp (compiler, 'intel'))
    attempts(end + 1) = attempt (host, false, [base ' -qopenmp'], '-qopenmp', '', '', true, ...
                                 'OpenMP with -qopenmp');
  else
    attempts(end + 1) = attempt (host, false, [base ' -fopenmp'], '-fopenmp', '', '', true, ...
                                 'OpenMP with -fopenmp');
  end
  attempts(end + 1) = attempt (host, false, base, '', '', '', false, ...
                               'serial: the compiler took no OpenMP flag');
  [attempts.api] = deal (api);
end

% True when the version text (major.minor.patch, anything after ignored) is at least
% MINIMUM; false when it is empty or unreadable.
function ok = version_at_least (text, minimum)
  parts = sscanf (text, '%d.%d.%d')';
  ok = false;
  if (isempty (parts))
    return;
  end
  parts(end + 1:3) = 0;
  for k = 1:3
    if (parts(k) ~= minimum(k))
      ok = parts(k) > minimum(k);
      return;
    end
  end
  ok = true;
end

% COMPILE: compiler flags; LINK: linker options; LIBS: libraries, which must follow
% the objects on the link line.
function a = attempt (host, msvc_style, compile, link, libs, requires, openmp, note)
  a.args = {};
  a.cxxflags = '';
  a.ldflags = '';
  if (strcmp (host, 'octave'))
    % mkoctfile puts LDFLAGS after the objects, so libraries may stand in it.
    a.cxxflags = ['-O2 ' compile];
    a.ldflags = strtrim ([link ' ' libs]);
  elseif (msvc_style)
    a.args = {['COMPFLAGS=$COMPFLAGS ' compile]};
    if (~isempty (link))
      a.args{end + 1} = ['LINKFLAGS=$LINKFLAGS ' link];
    end
    if (~isempty (libs))
      a.args{end + 1} = ['LINKLIBS=$LINKLIBS ' libs];
    end
  else
    a.args = {['CXXFLAGS=$CXXFLAGS ' compile]};
    if (~isempty (link))
      a.args{end + 1} = ['LDFLAGS=$LDFLAGS ' link];
    end
    if (~isempty (libs))
      a.args{end + 1} = ['LINKLIBS=$LINKLIBS ' libs];
    end
  end
  if (strcmp (host, 'matlab'))
    % MATLAB's libut, for utIsInterruptPending (Ctrl-C); mex's -l links a library of
    % MATLAB's own folder on every platform.
    a.args{end + 1} = '-lut';
  end
  a.requires = requires;
  a.openmp = openmp;
  a.note = note;
end
