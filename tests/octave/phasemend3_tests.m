% Octave tests of phasemend3, called exactly as a user types it.

%!shared truth, wrapped, valid
%! [x, y, z] = meshgrid (linspace (-1, 1, 48), linspace (-1, 1, 44), linspace (-1, 1, 30));
%! truth = 14 * exp (-((x - 0.2).^2 + y.^2 + z.^2) / 0.35) + 2 * z + 3 * x;
%! wrapped = angle (exp (1i * truth));
%! wrapped(x.^2 / 0.9 + y.^2 / 0.8 + z.^2 / 0.95 > 1) = NaN;   # an ellipsoid mask
%! valid = ! isnan (wrapped);

%!test # wrong argument counts print the help and return nothing
%! for args = {{}, {1, 2}, {1, 2, 3}, {1, 2, 3, 4, 5}}
%!   out = evalc ("phasemend3 (args{1}{:})");
%!   assert (! isempty (strfind (out, "unwrapped = phasemend3(wrapped,xref,yref,zref);")));
%!   assert (! isempty (strfind (out, "Applied Optics, Vol. 46, No. 26, pp. 6623-6635, 2007")));
%! end

%!test # help shows the help file
%! out = evalc ("help phasemend3");
%! assert (! isempty (strfind (out, "UNWRAPPED = PHASEMEND3(WRAPPED, XREF, YREF, ZREF)")));

%!error <phasemend3:    x_ref, y_ref and/or z_ref can not be smaller than 1 nor larger than the volume size.> phasemend3 (ones (3, 3, 3), 0, 1, 1)
%!error <x_ref, y_ref and/or z_ref> phasemend3 (ones (3, 3, 3), 1, 1, 4)
%!error <phasemend3: wrapped must be a full \(not sparse\) real single or double array.> phasemend3 (complex (ones (3, 3, 2)))
%!error <wrapped must be a full> phasemend3 (int32 (ones (3, 3, 2)))
%!error <wrapped must be a full> phasemend3 (complex (single (ones (3, 3, 2))))
%!error <wrapped must have at most three dimensions> phasemend3 (ones (2, 2, 2, 2))
%!error <xref, yref and zref must be non-empty> phasemend3 (ones (3, 3, 3), 1, [], 1)

%!test # through the slices: the truth less the reference's steps; missing voxels NaN
%! u = phasemend3 (wrapped, 24, 22, 15);
%! assert (size (u), size (wrapped));
%! assert (isnan (u), ! valid);
%! assert (u(22, 24, 15), wrapped(22, 24, 15));
%! shift = wrapped(22, 24, 15) - truth(22, 24, 15);
%! assert (max (abs (u(valid) - truth(valid) - shift)) < 1e-9);

%!test # a map gives phasemend's result, bit for bit
%! map = wrapped(:, :, 15);
%! assert (isequaln (phasemend3 (map), phasemend (map)));
%! assert (isequaln (phasemend3 (map, 20, 21, 1), phasemend (map, 20, 21)));

%!test # a single volume: the double result on its samples, rounded once, in single
%! w = single (wrapped);
%! u = phasemend3 (w, 24, 22, 15);
%! assert (class (u), "single");
%! assert (u, single (phasemend3 (double (w), 24, 22, 15)));


%!test # options: periodic slices join a volume cut by a missing slice
%! v = wrapped;
%! v(isnan (v)) = 0;
%! v(:, :, 5) = NaN;
%! [~, regions] = phasemend3 (v);
%! assert (max (regions(:)), 2);
%! [u, regions, reliability] = phasemend3 (v, "Periodic", [0 0 1]);
%! assert (max (regions(:)), 1);
%! assert (isequaln (isnan (reliability), isnan (v)));
%! assert (isequaln (u, phasemend3 (v, "Periodic", logical ([0 0 1]))));
%! fail ("phasemend3 (v, 'Periodic', [1 1])", "phasemend3 needs a Periodic");
