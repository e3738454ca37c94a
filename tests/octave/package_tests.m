% Octave test of the package: pkg install into a private prefix, pkg load, and the
% commands used from the installed package.

%!test
%! tarball = getenv ("PHASEKIT_PKG");
%! assert (exist (tarball, "file") == 2);
%! prefix = tempname ();
%! mkdir (prefix);
%! pkg ("prefix", prefix, prefix);
%! pkg ("local_list", fullfile (prefix, "octave_packages"));
%! evalc ("pkg ('install', tarball)");
%! pkg ("load", "phasekit");
%! unwind_protect
%!   assert (strncmp (which ("phasemend"), prefix, numel (prefix)));
%!   assert (phasemend ([3 -3 3]), [3, -3 + 2 * pi, 3], 1e-12);
%!   assert (phasemend3 (reshape ([3 -3 3], 1, 1, 3)), reshape ([3, -3 + 2 * pi, 3], 1, 1, 3), 1e-12);
%!   assert (kernsmooth_c (complex (ones (4), 2 * ones (4)), ones (3)), complex (ones (4), 2 * ones (4)), 1e-12);
%!   image = fullfile (prefix, "one.jpg");
%!   imwrite (uint8 (magic (16)), image);
%!   movie = fullfile (prefix, "one.avi");
%!   evalc ("clipforge (movie, 10, image, image)");
%!   fid = fopen (movie, "rb"); header = fread (fid, 72, "uint8")'; fclose (fid);
%!   assert (header(49), 2);   # two frames
%!   out = evalc ("help kernsmooth_c");
%!   assert (! isempty (strfind (out, "SMOOTHED = KERNSMOOTH_C(MAP, KERNEL)")));
%!   ## Every command's help from beside its MEX file, and the overview a new user
%!   ## asks for first.
%!   assert (! isempty (strfind (evalc ("help phasemend3"), "PHASEMEND3(WRAPPED, XREF, YREF, ZREF)")));
%!   out = evalc ("help phasekit");
%!   assert (! isempty (strfind (out, "phasemend3")) && ! isempty (regexp (out, "Version [0-9]", "once")));
%! unwind_protect_cleanup
%!   pkg ("unload", "phasekit");
%!   pkg ("uninstall", "phasekit");
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (prefix, "s");
%! end_unwind_protect
