% Octave tests of the example scripts in toolbox/examples, headless: the demo, the
% volume, the options and the low-pass examples draw their figures invisibly with the
% gnuplot toolkit and print them to PNG; the batch script's parallel results must
% equal its plain loop's.

%!function out = headless_output (what)
%!  ## An output folder for an example that draws its figure invisibly with the gnuplot
%!  ## toolkit; empty (the test skipped) when gnuplot is not installed.
%!  out = "";
%!  if (isempty (file_in_path (getenv ("PATH"), "gnuplot")))
%!    printf ("  (gnuplot not installed: the %s figure is not drawn; skipped)\n", what);
%!    return;
%!  end
%!  addpath (fullfile (getenv ("PHASEKIT_ROOT"), "toolbox", "examples"));
%!  warning ("off", "Octave:gnuplot-graphics");
%!  graphics_toolkit ("gnuplot");
%!  out = tempname ();
%!endfunction

%!function remove_output (out)
%!  close all;
%!  confirm_recursive_rmdir (false, "local");
%!  if (exist (out, "dir"))
%!    rmdir (out, "s");
%!  end
%!endfunction

%!test
%! out = headless_output ("demo");
%! if (isempty (out))
%!   return;
%! end
%! unwind_protect
%!   printed = evalc ("share = phasekit_demo (out);");
%!   assert (share > 0.99);
%!   reported = regexp (printed, "phasemend ([0-9.]+)%, naive unwrap", "tokens", "once");
%!   assert (abs (str2double (reported{1}) - 100 * share) < 0.01);
%!   info = imfinfo (fullfile (out, "phasekit_demo.png"));
%!   assert (info.Width > 1000 && info.Height > 500);
%!   movie = dir (fullfile (out, "deforming.avi"));
%!   assert (movie.bytes > 20 * 4096);
%! unwind_protect_cleanup
%!   remove_output (out);
%! end_unwind_protect

%!test
%! addpath (fullfile (getenv ("PHASEKIT_ROOT"), "toolbox", "examples"));
%! out = tempname ();
%! printed = evalc ("same = phasekit_batch (out, 4);");
%! assert (same);
%! assert (! isempty (strfind (printed, "same results: 1")));
%! assert (exist (fullfile (out, "phasekit_batch.png"), "file") == 2);
%! confirm_recursive_rmdir (false, "local");
%! rmdir (out, "s");

%!test
%! ## The volume example: phasemend3 unwraps the whole head; slice by slice, the cut
%! ## slices and the slices' own offsets leave most voxels off by 2 pi.
%! out = headless_output ("volume");
%! if (isempty (out))
%!   return;
%! end
%! unwind_protect
%!   printed = evalc ("[share3, share2] = phasekit_volume (out);");
%!   assert (share3 > 0.999);
%!   assert (share2 < 0.9);
%!   assert (! isempty (regexp (printed, "slice by slice, [1-9][0-9]* of 64 slices are off", "once")));
%!   info = imfinfo (fullfile (out, "phasekit_volume.png"));
%!   assert (info.Width > 1000);
%! unwind_protect_cleanup
%!   remove_output (out);
%! end_unwind_protect

%!test
%! ## The options example: a quality map, a polar scan joined across its azimuth
%! ## border only with Periodic, and the regions of a cut map.
%! out = headless_output ("options");
%! if (isempty (out))
%!   return;
%! end
%! unwind_protect
%!   printed = evalc ("r = phasekit_options (out);");
%!   assert (all (r.radar_outside > 0.98));
%!   assert (r.polar_regions, [2, 1]);
%!   assert (r.polar_right(2), 1);
%!   assert (r.polar_right(1) < 0.9);
%!   assert (r.cut_regions, 6);
%!   assert (! isempty (strfind (printed, "with: 1 region, 100.00% right")));
%!   info = imfinfo (fullfile (out, "phasekit_options.png"));
%!   assert (info.Width > 1000);
%! unwind_protect_cleanup
%!   remove_output (out);
%! end_unwind_protect

%!test
%! ## The low-pass example: the separable form and the whole kernel agree to rounding,
%! ## and the screen comes out to the noise's level.
%! out = headless_output ("low-pass");
%! if (isempty (out))
%!   return;
%! end
%! unwind_protect
%!   evalc ("r = phasekit_lowpass (out);");
%!   assert (r.largest_difference < 1e-12);
%!   assert (r.screen_error < 0.3);
%!   assert (exist (fullfile (out, "phasekit_lowpass.png"), "file") == 2);
%! unwind_protect_cleanup
%!   remove_output (out);
%! end_unwind_protect
