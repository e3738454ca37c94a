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
%! assert (msvc(1).args, {"COMPFLAGS=$COMPFLAGS /fp:precise /openmp"});
%! mingw = phasekit_build_flags ("matlab", "win64", "mingw", true);
%! assert (mingw(1).args{2}, "LDFLAGS=$LDFLAGS -fopenmp -static");
%! linux = phasekit_build_flags ("matlab", "glnxa64", "gcc", true, "/M");
%! assert (linux(1).requires, "/M/sys/os/glnxa64/libiomp5.so");
%! assert (linux(1).args(2:3), {'LDFLAGS=$LDFLAGS -Wl,-rpath,"/M/sys/os/glnxa64"', ...
%!                              'LINKLIBS=$LINKLIBS -L"/M/sys/os/glnxa64" -liomp5'});
%! intel = phasekit_build_flags ("octave", "glnxa64", "intel", true);
%! assert (! isempty (regexp (intel(1).cxxflags, "-fp-model=(consistent|strict).*-ffp-contract=off", "once")));
%! fail ('phasekit_build_flags ("matlab", "sparc", "gcc", true)', "unknown host");
