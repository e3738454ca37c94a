% Octave tests that run MATLAB's build of the toolbox for real, as far as this
% machine can: the flags phasekit_build_flags gives MATLAB go into the command lines
% that mex runs, with the variables and defaults of MATLAB's options files (as
% `mex -v` prints them, see docs/hosts.md), and the real compilers here compile and
% link them against a stand-in MATLAB folder: Linux gcc against a stand-in
% libiomp5.so (LLVM's OpenMP runtime, which Intel's is), with --as-needed in force,
% and Windows MinGW-w64 with the cross compiler. MATLAB itself never runs here.

%!function out = run_or_fail (command)
%!  [status, out] = system ([command " 2>&1"]);
%!  if (status != 0)
%!    error ("failed (%d): %s\n%s", status, command, out);
%!  end
%!endfunction

%!function text = expand (text, vars)
%!  ## $NAME stands for the variable's value, in overrides and command lines alike.
%!  for depth = 1:8
%!    names = regexp (text, '\$([A-Za-z_]\w*)', "tokens");
%!    names = unique (cellfun (@(t) t{1}, names, "UniformOutput", false));
%!    names = names(isfield (vars, names));
%!    if (isempty (names))
%!      return;
%!    end
%!    for k = 1:numel (names)
%!      text = regexprep (text, ['\$' names{k} '(?!\w)'], strrep (vars.(names{k}), '\', '\\'));
%!    end
%!  end
%!endfunction

%!function exe = emulated_mex (vars, args, sources, out_folder, name)
%!  ## NAME=VALUE arguments override the options file's variables, as mex's own do;
%!  ## mex adds its API version source, compiles each source (CMDLINE1), then links
%!  ## all objects (CMDLINE2).
%!  ## -lNAME links a library of MATLAB's: mex adds it to LINKLIBS, as -lNAME with
%!  ## gcc and, on Windows, as the import library NAME.lib or libNAME.lib.
%!  for k = 1:numel (args)
%!    if (strncmp (args{k}, "-l", 2))
%!      vars.LINKLIBS = [vars.LINKLIBS " " strrep(vars.LIBPATTERN, "NAME", args{k}(3:end))];
%!      continue;
%!    end
%!    split = strfind (args{k}, "=")(1);
%!    vars.(args{k}(1:split - 1)) = expand (args{k}(split + 1:end), vars);
%!  end
%!  sources{end + 1} = fullfile (vars.MATLABROOT, "extern", "version", "cpp_mexapi_version.cpp");
%!  objects = "";
%!  for k = 1:numel (sources)
%!    [~, base] = fileparts (sources{k});
%!    vars.SRC = sprintf ('"%s"', sources{k});
%!    vars.OBJ = fullfile (out_folder, [base vars.OBJEXT]);
%!    run_or_fail (expand (vars.CMDLINE1, vars));
%!    objects = [objects " " vars.OBJ];
%!  end
%!  vars.OBJS = objects;
%!  exe = fullfile (out_folder, [name vars.LDEXT]);
%!  vars.EXE = exe;
%!  run_or_fail (expand (vars.CMDLINE2, vars));
%!endfunction

%!function root = standin_matlab_folder (lib_folder, version_map)
%!  ## What mex reads from matlabroot: the API header, the export list and the API
%!  ## version source, and a folder for the host's libraries.
%!  root = [tempname() "-matlab"];
%!  for sub = {"extern/include", "extern/version", "simulink/include", lib_folder, fileparts(version_map{1})}
%!    [~, ~] = mkdir (fullfile (root, sub{1}));
%!  end
%!  copyfile (fullfile (getenv ("PHASEKIT_ROOT"), "host", "mex.h"), fullfile (root, "extern", "include"));
%!  handle = fopen (fullfile (root, "extern", "version", "cpp_mexapi_version.cpp"), "w");
%!  fputs (handle, "extern \"C\" void mexfilerequiredapiversion (unsigned *a, unsigned *b) { *a = 1; *b = 1; }\n");
%!  fclose (handle);
%!  handle = fopen (fullfile (root, version_map{1}), "w");
%!  fputs (handle, version_map{2});
%!  fclose (handle);
%!endfunction

%!function sources = extension_sources (name)
%!  extensions = phasekit_extensions ();
%!  row = find (strcmp (extensions(:, 1), name));
%!  sources = fullfile (getenv ("PHASEKIT_ROOT"), extensions{row, 2});
%!endfunction

%!test
%! ## MATLAB on Linux with gcc: the OpenMP attempt links, the MEX files need MATLAB's
%! ## libiomp5.so (and no libgomp) and MATLAB's libraries by their names, ask no C++
%! ## runtime version MATLAB's own lacks, and give the golden outputs on that runtime.
%! addpath (fullfile (getenv ("PHASEKIT_ROOT"), "toolbox"));
%! runtime = "/usr/lib/x86_64-linux-gnu/libomp.so.5";
%! if (! exist (runtime, "file") || system ("command -v patchelf > /dev/null") != 0)
%!   printf ("  (needs LLVM's OpenMP runtime and patchelf: Debian libomp-dev patchelf; skipped)\n");
%!   return;
%! end
%! root = standin_matlab_folder ("bin/glnxa64", {"extern/lib/glnxa64/c_exportsmexfileversion.map", ...
%!   "{ global: mexFunction; mexfilerequiredapiversion; local: *; };\n"});
%! out = [tempname() "-mex"];
%! mkdir (out);
%! unwind_protect
%!   mkdir (fullfile (root, "sys", "os", "glnxa64"));
%!   mkdir (fullfile (root, "extern", "bin", "glnxa64"));
%!   iomp = fullfile (root, "sys", "os", "glnxa64", "libiomp5.so");
%!   run_or_fail (sprintf ("cp -L %s %s", runtime, iomp));   # the file, not the link
%!   run_or_fail (sprintf ("patchelf --set-soname libiomp5.so %s", iomp));
%!   ## libmx and libmex: the stand-ins, which export MATLAB's names and nothing else;
%!   ## the other libraries mex names are empty (--as-needed drops them).
%!   build = getenv ("PHASEKIT_BUILD");
%!   for lib = {"libmx", "libmex", "libut"}
%!     copyfile (fullfile (build, "matlab-standins", [lib{1} ".so"]), fullfile (root, "bin", "glnxa64"));
%!   end
%!   for lib = {"libmat", "libMatlabDataArray"}
%!     run_or_fail (sprintf ("g++ -shared -o %s/bin/glnxa64/%s.so -x c++ /dev/null", root, lib{1}));
%!   end
%!   ## g++_glnxa64.xml as mex -v shows it (R2018a), with the compiler's own
%!   ## --as-needed said outright, as Debian's and Ubuntu's gcc have it in their specs.
%!   vars = struct ("MATLABROOT", root, "CXX", "g++", ...
%!     "DEFINES", "-DMATLAB_DEFAULT_RELEASE=R2017b -DUSE_MEX_CMD -D_GNU_SOURCE -DMATLAB_MEX_FILE", ...
%!     "INCLUDE", '-I"$MATLABROOT/extern/include" -I"$MATLABROOT/simulink/include"', ...
%!     "CXXFLAGS", "-fexceptions -fPIC -fno-omit-frame-pointer -pthread -std=c++11", ...
%!     "CXXOPTIMFLAGS", "-O -DNDEBUG", "LDXX", "g++ -Wl,--as-needed", ...
%!     "LDFLAGS", "-pthread -Wl,--no-undefined", "LDTYPE", "-shared", "LDOPTIMFLAGS", "-O", ...
%!     "LINKEXPORTVER", '-Wl,--version-script,"$MATLABROOT/extern/lib/glnxa64/c_exportsmexfileversion.map"', ...
%!     "CXXLIBS", "", ...
%!     "LINKLIBS", ['-Wl,--as-needed -Wl,-rpath-link,$MATLABROOT/bin/glnxa64 -L"$MATLABROOT/bin/glnxa64" ' ...
%!                  '-Wl,-rpath-link,$MATLABROOT/extern/bin/glnxa64 -L"$MATLABROOT/extern/bin/glnxa64" ' ...
%!                  '-lMatlabDataArray -lmx -lmex -lmat -lm -lstdc++'], ...
%!     "OBJEXT", ".o", "LDEXT", ".mexa64", "LIBPATTERN", "-lNAME", ...
%!     "CMDLINE1", "$CXX -c $DEFINES $INCLUDE $CXXFLAGS $CXXOPTIMFLAGS $SRC -o $OBJ", ...
%!     "CMDLINE2", "$LDXX $LDFLAGS $LDTYPE $LDOPTIMFLAGS $LINKEXPORTVER $OBJS $CXXLIBS $LINKLIBS -o $EXE");
%!   extensions = phasekit_extensions ();
%!   for k = 1:rows (extensions)
%!     name = extensions{k, 1};
%!     attempts = phasekit_build_flags ("matlab", "glnxa64", "gcc", extensions{k, 3}, root);
%!     assert (! extensions{k, 3} || (attempts(1).openmp && exist (attempts(1).requires, "file")));
%!     exe = emulated_mex (vars, attempts(1).args, extension_sources (name), out, name);
%!     needed = regexp (run_or_fail (["readelf -d " exe]), 'NEEDED\)\s+Shared library: \[([^]]+)\]', "tokens");
%!     needed = cellfun (@(t) t{1}, needed, "UniformOutput", false);
%!     assert (! extensions{k, 3} || any (strcmp (needed, "libiomp5.so")), strjoin (needed, " "));
%!     assert (any (strcmp (needed, "libut.so")), strjoin (needed, " "));   # Ctrl-C
%!     ## What every Linux MATLAB has loaded, and C++ runtime versions its own
%!     ## libstdc++ serves; the check prints what the file needs.
%!     printf ("  %s", run_or_fail (sprintf ("sh %s/matlab-linux/check_elf_interfaces.sh --mex-build %s", ...
%!                                          getenv ("PHASEKIT_ROOT"), exe)));
%!   end
%!   ## run_or_fail fails the test unless golden_test exits with 0: every digest agrees.
%!   ## The host stands in for MATLAB's libmx.so and libmex.so, on the search path.
%!   run_or_fail (sprintf ("LD_LIBRARY_PATH=%s/matlab-host %s/matlab_golden_test %s", build, build, out));
%!   run_or_fail (sprintf ("LD_LIBRARY_PATH=%s/matlab-host %s/matlab_mexrun --strict %s/clipforge.mexa64 %s/movie.avi 25 %s/tests/data/frame1.jpg", ...
%!                         build, build, out, out, getenv ("PHASEKIT_ROOT")));
%! unwind_protect_cleanup
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (root, "s");
%!   rmdir (out, "s");
%! end_unwind_protect

%!test
%! ## MATLAB on Windows with MinGW-w64: the MEX files import only what every MATLAB
%! ## on Windows has (its libmx.dll, libmex.dll and libut.dll, KERNEL32.dll, msvcrt.dll): the
%! ## OpenMP runtime and its threads are inside them.
%! addpath (fullfile (getenv ("PHASEKIT_ROOT"), "toolbox"));
%! compiler = "x86_64-w64-mingw32-g++-posix";
%! if (system (["command -v " compiler " > /dev/null"]) != 0)
%!   printf ("  (needs %s: Debian g++-mingw-w64-x86-64-posix; skipped)\n", compiler);
%!   return;
%! end
%! libs = "extern/lib/win64/mingw64";
%! root = standin_matlab_folder (libs, {[libs "/exportsmexfileversion.def"], ...
%!   "EXPORTS\n    mexFunction\n    mexfilerequiredapiversion\n"});
%! out = [tempname() "-mex"];
%! mkdir (out);
%! unwind_protect
%!   ## MATLAB's import libraries; those the extensions use nothing of are empty.
%!   standins = fullfile (getenv ("PHASEKIT_ROOT"), "matlab-standins");
%!   for lib = {"libmx", "libmex", "libut", "libmat", "libmwlapack", "libmwblas", "libMatlabDataArray", "libMatlabEngine"}
%!     def = fullfile (standins, [lib{1} ".def"]);
%!     if (! exist (def, "file"))
%!       def = fullfile (out, [lib{1} ".def"]);
%!       handle = fopen (def, "w");
%!       fprintf (handle, "LIBRARY %s.dll\nEXPORTS\n", lib{1});
%!       fclose (handle);
%!     end
%!     run_or_fail (sprintf ("x86_64-w64-mingw32-dlltool -d %s -l %s/%s/%s.lib", def, root, libs, lib{1}));
%!   end
%!   ## mingw64_g++ options as mex -v shows them (R2020b).
%!   vars = struct ("MATLABROOT", root, "CXX", compiler, ...
%!     "DEFINES", "-DMATLAB_DEFAULT_RELEASE=R2017b -DUSE_MEX_CMD -m64 -DMATLAB_MEX_FILE", ...
%!     "INCLUDE", '-I"$MATLABROOT/extern/include" -I"$MATLABROOT/simulink/include"', ...
%!     "CXXFLAGS", "-fexceptions -fno-omit-frame-pointer -std=c++11", ...
%!     "CXXOPTIMFLAGS", "-O2 -fwrapv -DNDEBUG", "LDXX", compiler, ...
%!     "LDFLAGS", "-m64 -Wl,--no-undefined", "LDTYPE", "-shared -static", "LDOPTIMFLAGS", "-s", ...
%!     "LINKEXPORTVER", '-Wl,"$MATLABROOT/extern/lib/win64/mingw64/exportsmexfileversion.def"', ...
%!     "CXXLIBS", "", ...
%!     "LINKLIBS", ['-L"$MATLABROOT/extern/lib/win64/mingw64" -llibmx -llibmex -llibmat -lm ' ...
%!                  '-llibmwlapack -llibmwblas -llibMatlabDataArray -llibMatlabEngine'], ...
%!     "OBJEXT", ".obj", "LDEXT", ".mexw64", "LIBPATTERN", "-llibNAME", ...
%!     "CMDLINE1", "$CXX -c $DEFINES $INCLUDE $CXXFLAGS $CXXOPTIMFLAGS $SRC -o $OBJ", ...
%!     "CMDLINE2", "$LDXX $LDFLAGS $LDTYPE $LDOPTIMFLAGS $LINKEXPORTVER $OBJS $CXXLIBS $LINKLIBS -o $EXE");
%!   for name = {"phasemend", "kernsmooth_c"}
%!     attempts = phasekit_build_flags ("matlab", "win64", "mingw", true);
%!     assert (attempts(1).openmp);
%!     exe = emulated_mex (vars, attempts(1).args, extension_sources (name{1}), out, name{1});
%!     imports = regexp (run_or_fail (["x86_64-w64-mingw32-objdump -p " exe]), 'DLL Name: (\S+)', "tokens");
%!     imports = unique (lower (cellfun (@(t) t{1}, imports, "UniformOutput", false)));
%!     printf ("  %s imports %s\n", name{1}, strjoin (imports, " "));
%!     assert (all (ismember (imports, {"kernel32.dll", "msvcrt.dll", "libmx.dll", "libmex.dll", "libut.dll"})), ...
%!             [name{1} " imports " strjoin(imports, " ")]);
%!     assert (any (strcmp (imports, "libut.dll")));   # Ctrl-C
%!   end
%! unwind_protect_cleanup
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (root, "s");
%!   rmdir (out, "s");
%! end_unwind_protect
