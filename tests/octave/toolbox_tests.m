% Octave tests of building the toolbox as a newcomer does, from a copy of the sources,
% and of the flag choice for every host, architecture and compiler.

%!function copy_sources (root, destination)
%!  for part = {"toolbox", "unwrap", "smooth", "movie", "portable"}
%!    copyfile (fullfile (root, part{1}), fullfile (destination, part{1}));
%!  end
%!endfunction

%!test
%! ## From inside toolbox/: the default build, then "." as the output folder, in a
%! ## folder whose path has a blank (as C:\Users\First Last has). The folder printed
%! ## for addpath is absolute (it still works after a cd), and no help file in the
%! ## current folder shadows the built commands. The build adds to the user's
%! ## CXXFLAGS, logs what it ran, and leaves the environment as it found it.
%! root = getenv ("PHASEKIT_ROOT");
%! scratch = [tempname() " first last"];
%! mkdir (scratch);
%! copy_sources (root, scratch);
%! previous = pwd ();
%! saved_path = path ();
%! saved_flags = getenv ("CXXFLAGS");
%! unwind_protect
%!   cd (fullfile (scratch, "toolbox"));
%!   setenv ("CXXFLAGS", "-DPHASEKIT_USER_FLAG");
%!   unsetenv ("LDFLAGS");
%!   out = evalc ("make_toolbox");
%!   assert (getenv ("CXXFLAGS"), "-DPHASEKIT_USER_FLAG");
%!   assert (system ("printenv LDFLAGS > /dev/null"), 1);
%!   logged = fileread (fullfile (scratch, "toolbox", "build", "phasemend-build.log"));
%!   assert (! isempty (regexp (logged, "CXXFLAGS=-DPHASEKIT_USER_FLAG .*-ffp-contract=off", "once")));
%!   folder = regexp (out, "addpath \\('([^']*)'\\)", "tokens", "once"){1};
%!   assert (is_absolute_filename (folder));
%!   addpath (folder);
%!   assert (size (phasemend (rand (5))), [5 5]);
%!   cd (tempdir ());
%!   assert (size (phasemend (rand (5))), [5 5]);
%!   rmpath (folder);
%!   cd (fullfile (scratch, "toolbox"));
%!   out = evalc ("make_toolbox ('.')");
%!   assert (! isempty (strfind (out, ["built phasemend, phasemend3, kernsmooth_c and clipforge in " pwd()])));
%!   assert (strcmp (which ("kernsmooth_c"), fullfile (pwd (), "kernsmooth_c.mex")));
%!   assert (kernsmooth_c (complex (ones (3)), ones (3)), ones (3), 1e-12);
%!   assert (! isempty (strfind (evalc ("help clipforge"), "clipforge")));
%! unwind_protect_cleanup
%!   cd (previous);
%!   path (saved_path);
%!   setenv ("CXXFLAGS", saved_flags);
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (scratch, "s");
%! end_unwind_protect

%!test
%! ## Every known combination gives attempts that end in a serial build, never fuse
%! ## multiply-adds, and in MATLAB link no second OpenMP runtime beside MATLAB's own.
%! addpath (fullfile (getenv ("PHASEKIT_ROOT"), "toolbox"));
%! archs = {"glnxa64", "glnxarm64", "maci64", "maca64", "win64"};
%! compilers = {"gcc", "clang", "apple-clang", "msvc", "mingw", "intel"};
%! for host = {"matlab", "octave"}
%!   for a = 1:numel (archs)
%!     for c = 1:numel (compilers)
%!       for use_openmp = [false true]
%!         what = sprintf ("%s %s %s %d", host{1}, archs{a}, compilers{c}, use_openmp);
%!         try
%!           attempts = phasekit_build_flags (host{1}, archs{a}, compilers{c}, use_openmp, "/M");
%!         catch failure
%!           assert (any (strcmp (compilers{c}, {"apple-clang", "msvc", "mingw"})), what);
%!           assert (! isempty (strfind (failure.message, "there is no")), what);
%!           continue;
%!         end
%!         assert (! isempty (attempts), what);
%!         assert (! attempts(end).openmp, what);
%!         assert (any ([attempts.openmp]) == use_openmp, what);
%!         for k = 1:numel (attempts)
%!           flags = strjoin ([attempts(k).args, {attempts(k).cxxflags, attempts(k).ldflags}], " ");
%!           assert (! isempty (regexp (flags, "-ffp-contract=off|/fp:precise", "once")), what);
%!           if (strcmp (host{1}, "matlab"))
%!             assert (isempty (attempts(k).cxxflags) && ! isempty (attempts(k).args), what);
%!             assert (strcmp (attempts(k).args{end}, "-lut"), what);   # Ctrl-C, from libut
%!             if (! strcmp (archs{a}, "win64"))
%!               ## The runtime is MATLAB's, named after the objects (LINKLIBS): a
%!               ## library in LDFLAGS stands before them and --as-needed drops it.
%!               link = strjoin (attempts(k).args(2:end), " ");
%!               assert (isempty (regexp (link, "-fopenmp|-lgomp", "once")), what);
%!               assert (isempty (regexp (link, "LDFLAGS=[^=]*-l", "once")), what);
%!               assert (! attempts(k).openmp || ! isempty (regexp (link, 'LINKLIBS=\$LINKLIBS -L"/M/', "once")), what);
%!             end
%!           else
%!             assert (isempty (attempts(k).args) && ! isempty (strfind (attempts(k).cxxflags, "-O2")), what);
%!           end
%!           if (strcmp (compilers{c}, "apple-clang") && strcmp (host{1}, "matlab"))
%!             assert (isempty (strfind (strrep (flags, "-Xpreprocessor -fopenmp", ""), "-fopenmp")), what);
%!           end
%!           if (strcmp (compilers{c}, "mingw"))
%!             assert (isempty (strfind (flags, "/openmp")), what);
%!           end
%!         end
%!       end
%!     end
%!   end
%! end
%! ## Octave with Apple clang: -fopenmp, then libomp through -Xpreprocessor, then serial.
%! attempts = phasekit_build_flags ("octave", "maca64", "apple-clang", true);
%! assert (attempts(1).cxxflags, "-O2 -std=c++11 -ffp-contract=off -fopenmp");
%! assert (attempts(end - 1).ldflags, "-lomp");
%! assert (! isempty (strfind (attempts(end - 1).cxxflags, "-Xpreprocessor -fopenmp")));
%! ## MATLAB on Windows: MSVC flags for MSVC, gcc flags and a static libgomp for MinGW.
%! msvc = phasekit_build_flags ("matlab", "win64", "msvc", true);
%! assert (msvc(1).args, {"COMPFLAGS=$COMPFLAGS /fp:precise /openmp", "-lut"});
%! mingw = phasekit_build_flags ("matlab", "win64", "mingw", true);
%! assert (mingw(1).args{2}, "LDFLAGS=$LDFLAGS -fopenmp -static");
%! linux = phasekit_build_flags ("matlab", "glnxa64", "gcc", true, "/M");
%! assert (linux(1).requires, "/M/sys/os/glnxa64/libiomp5.so");
%! assert (linux(1).args(2:3), {'LDFLAGS=$LDFLAGS -Wl,-rpath,"/M/sys/os/glnxa64"', ...
%!                              'LINKLIBS=$LINKLIBS -L"/M/sys/os/glnxa64" -liomp5'});
%! intel = phasekit_build_flags ("octave", "glnxa64", "intel", true);
%! assert (! isempty (regexp (intel(1).cxxflags, "-fp-model=(consistent|strict).*-ffp-contract=off", "once")));
%! fail ('phasekit_build_flags ("matlab", "sparc", "gcc", true)', "unknown host");

%!test
%! ## The complex API: interleaved for the extensions that keep the host's layout, in
%! ## MATLAB R2018a (9.4) and later and in Octave 8.4.0 and later; separate before, and
%! ## always for the others.
%! addpath (fullfile (getenv ("PHASEKIT_ROOT"), "toolbox"));
%! cases = {"matlab", "9.3.0.713579 (R2017b)", true, "-R2017b";
%!          "matlab", "9.4.0.813654 (R2018a)", true, "-R2018a";
%!          "matlab", "24.2.0.2740171 (R2024b)", true, "-R2018a";
%!          "matlab", "24.2.0.2740171 (R2024b)", false, "-R2017b";
%!          "matlab", "", true, "-R2017b";
%!          "octave", "7.3.0", true, "-R2017b";
%!          "octave", "8.3.0", true, "-R2017b";
%!          "octave", "8.4.0", true, "-R2018a";
%!          "octave", "10.1.0", true, "-R2018a";
%!          "octave", "9.2.0", false, "-R2017b"};
%! for k = 1:rows (cases)
%!   for use_openmp = [false true]
%!     attempts = phasekit_build_flags (cases{k, 1}, "glnxa64", "gcc", use_openmp, "/M", cases{k, 2}, cases{k, 3});
%!     assert (unique ({attempts.api}), cases(k, 4), sprintf ("%s %s", cases{k, 1:2}));
%!   end
%! end

%!test
%! ## kernsmooth_c as Octave 8.4 and later builds it (-R2018a) compiles against
%! ## Octave's own interleaved API, and the MEX file exports the symbol by which
%! ## Octave knows the mode. (Octave 7.3's interleaved arrays are unsound, so the
%! ## file is not run here.)
%! root = getenv ("PHASEKIT_ROOT");
%! out = [tempname() ".mex"];
%! unwind_protect
%!   sources = sprintf (' "%s"', fullfile (root, "smooth", "kernsmooth_c.cpp"), fullfile (root, "smooth", "kernel_filter.cpp"));
%!   program = fullfile (__octave_config_info__ ("bindir"), "mkoctfile");
%!   [status, text] = system (sprintf ('"%s" --mex -R2018a%s -o %s 2>&1', program, sources, out));
%!   assert (status, 0, text);
%!   [~, symbols] = system (["nm -D " out]);
%!   assert (! isempty (strfind (symbols, "__mx_has_interleaved_complex__")));
%!   assert (! isempty (strfind (symbols, "mxGetComplexDoubles")));
%! unwind_protect_cleanup
%!   if (exist (out, "file"))
%!     delete (out);
%!   end
%! end_unwind_protect
