% Octave tests of phasemend, called exactly as a user types it.

%!shared truth, wrapped, valid
%! [x, y] = meshgrid (linspace (-1, 1, 150), linspace (-1, 1, 120));
%! truth = 30 * exp (-((x - 0.3).^2 + (y + 0.2).^2) / 0.3) ...
%!         - 25 * exp (-((x + 0.4).^2 + (y - 0.3).^2) / 0.2) + 3 * x;
%! wrapped = angle (exp (1i * truth));
%! wrapped(30:36, 40:46) = NaN;
%! wrapped(80:84, 100:110) = NaN;
%! valid = ! isnan (wrapped);

%!test # the surface needs unwrapping and is smooth enough for it
%! assert (max (truth(:)) - min (truth(:)) > 8 * pi);
%! assert (max (abs (diff (truth(:, 1:end), 1, 1)(:))) < pi / 2);
%! assert (max (abs (diff (truth, 1, 2)(:))) < pi / 2);

%!test # wrong argument counts print the 13-line help and return nothing
%! for args = {{}, {1, 2}, {1, 2, 3, 4}}
%!   out = evalc ("phasemend (args{1}{:})");
%!   lines = strsplit (out, "\n", "CollapseDelimiters", false);
%!   assert (numel (lines), 14);
%!   assert (lines{1}, "Returns the 2D unwrapped phase map using a non-continuous path.");
%!   assert (lines{3}, "\t\tunwrapped = phasemend(wrapped,xref,yref);");
%!   assert (lines{9}, "\tFast two-dimensional phase-unwrapping algorithm based");
%!   assert (! isempty (strfind (lines{11}, "Gdeisat")));
%!   assert (lines{12}, "\tApplied Optics, Vol. 41, No. 35, pp. 7437, 2002");
%! end

%!test # help shows the help file, not the extension's own text
%! out = evalc ("help phasemend");
%! assert (! isempty (strfind (out, "UNWRAPPED = PHASEMEND(WRAPPED, XREF, YREF)")));
%! assert (! isempty (strfind (out, "Example:")));

%!error <phasemend:    x_ref and/or y_ref can not be smaller than 1 nor larger than the matrix size.> phasemend (ones (3), 0, 1)
%!error <x_ref and/or y_ref> phasemend (ones (3), 4, 1)
%!error <x_ref and/or y_ref> phasemend (ones (3), 1, 4)
%!error <x_ref and/or y_ref> phasemend (ones (3), NaN, 1)
%!error <x_ref and/or y_ref> phasemend (ones (3), 1, -Inf)
%!error <phasemend: wrapped must be a full \(not sparse\) single or double matrix.> phasemend (uint8 (ones (3)))
%!error <wrapped must be a full> phasemend (int16 (ones (3)))
%!error <wrapped must be a full> phasemend (true (3))
%!error <wrapped must be a full> phasemend ("abc")
%!error <wrapped must be a full> phasemend ({1})
%!error <phasemend: wrapped must be a 2-D matrix; for a volume use phasemend3> phasemend (rand (4, 4, 3))
%!error <xref and yref must not have more than two dimensions.> phasemend (ones (3), ones (1, 1, 2), 1)
%!error <wrapped must be a full> phasemend (struct ("a", 1))
%!error <wrapped must be a full> phasemend (sparse (ones (3)))
%!error <xref and yref must be non-empty> phasemend (ones (3), [], 1)
%!error <phasemend expects an option name> phasemend (ones (3), 1, "1")
%!error <phasemend has no option 'Qualty'> phasemend (ones (3), "Qualty", ones (3))

%!test # without a reference: the truth up to one common multiple of 2*pi
%! u = phasemend (wrapped);
%! assert (size (u), size (wrapped));
%! assert (isreal (u));
%! assert (isnan (u), ! valid);
%! d = u(valid) - truth(valid);
%! k = round (d(1) / (2 * pi));
%! assert (max (abs (d - 2 * pi * k)) < 1e-9);

%!test # with a reference: the reference keeps its wrapped value
%! u = phasemend (wrapped, 75.9, 60.2);
%! assert (u(60, 75), wrapped(60, 75));
%! shift = wrapped(60, 75) - truth(60, 75);
%! assert (max (abs (u(valid) - truth(valid) - shift)) < 1e-9);

%!test # reproducible from call to call
%! noisy = angle (exp (1i * (truth + 0.8 * randn (size (truth)))));
%! assert (phasemend (noisy), phasemend (noisy));

%!test # special inputs
%! assert (size (phasemend (zeros (0, 4))), [0 4]);
%! assert (size (phasemend (zeros (5, 0))), [5 0]);
%! assert (all (isnan (phasemend (NaN (3)))(:)));
%! assert (phasemend ([3 -3]), [3, -3 + 2 * pi], 1e-12);
%! assert (phasemend ([0.5 Inf 0.25]), [0.5 NaN 0.25]);
%! assert (phasemend (complex ([3 -3], [9 9])), [3, -3 + 2 * pi], 1e-12);

%!test # a single map gives the double result on its samples, rounded once, in single
%! rand ("seed", 7);
%! [x, y] = meshgrid (linspace (-1, 1, 90), linspace (-1, 1, 70));
%! w = single (angle (exp (1i * (14 * x .^ 2 - 9 * y + 0.4 * rand (size (x))))));
%! w(20:25, 30:40) = NaN;
%! u = phasemend (w, 45, 35);
%! assert (class (u), "single");
%! assert (u, single (phasemend (double (w), 45, 35)));
%! assert (phasemend (complex (w, w)), single (phasemend (double (w))));


%!test # options as Octave passes them: any case, logical and integer flags, extra outputs
%! rand ("seed", 9);
%! w = angle (exp (1i * (linspace (0, 40, 60)' * ones (1, 50) + 0.3 * rand (60, 50))));
%! w(:, 25) = NaN;
%! q = 1 + rand (60, 50);
%! [u, regions, reliability] = phasemend (w, 3, 4, "QUALITY", q, "periodic", int8 ([0 1]));
%! assert (u, phasemend (w, 3, 4, "Quality", q, "Periodic", [false true]));
%! assert (unique (regions(:))', [0 1]);
%! assert (reliability(! isnan (w)), -q(! isnan (w)));
%! assert (all (isnan (reliability(:, 25))));
%! [~, regions] = phasemend (w);
%! assert (unique (regions(:))', [0 1 2]);
%! [u1, r1, rel1] = phasemend (single (w), "Periodic", true);
%! assert ({class(u1), class(r1), class(rel1)}, {"single", "double", "single"});
%! assert (any (isinf (rel1(:))) && all (rel1(isfinite (rel1)) < 160));
%! assert (phasemend (w, "Quality", single (q)), phasemend (w, "Quality", double (single (q))));
%! fail ("phasemend (w, 'Quality', int8 (q))", "phasemend needs a Quality");
%! fail ("phasemend (w, 'Periodic', [1 1 1])", "phasemend needs a Periodic");
%! fail ("phasemend (w, 'Qualit', q, 'Periodic', 1)", "phasemend has no option 'Qualit'");

%!test # tiles: the same bits whatever the tiles, the plain call's regions, per region a 2*pi shift at most
%! rand ("seed", 11);
%! w = angle (exp (1i * (truth + 0.5 * rand (size (truth)))));
%! w(60, :) = NaN;
%! [u, regions, reliability] = phasemend (w, 75, 30, "TileSize", 16);
%! [u2, regions2, reliability2] = phasemend (w, 75, 30, "tilesize", int16 ([200 7]));
%! assert ({u2, regions2, reliability2}, {u, regions, reliability});
%! [plain, plainRegions, plainReliability] = phasemend (w, 75, 30);
%! assert ({regions, reliability}, {plainRegions, plainReliability});
%! shift = (u - plain) / (2 * pi);
%! for k = 1:max (regions(:))
%!   assert (max (abs (shift(regions == k) - shift(find (regions == k, 1)))) < 1e-9);
%! end
%! assert (single (phasemend (single (w), "TileSize", [9 40])), phasemend (single (w), "TileSize", 1e9));
%! fail ("phasemend (w, 'TileSize', 0)", "phasemend needs a TileSize that is a positive whole number");
%! fail ("phasemend (w, 'TileSize', [4 4 4])", "phasemend needs a TileSize");
%! fail ("phasemend3 (rand (4, 4, 3), 'TileSize', 4)", "phasemend3 has no option 'TileSize'");

%!test # every command's errors carry an identifier (try/catch tells them apart)
%! calls = {"phasemend (uint8 (ones (3)))", "phasekit:phasemend:wrappedType";
%!          "phasemend (ones (3), 0, 1)", "phasekit:phasemend:referenceOutside";
%!          "phasemend (ones (3), 'Qualty', ones (3))", "phasekit:phasemend:unknownOption";
%!          "phasemend (ones (3), 'TileSize', 0)", "phasekit:phasemend:tileSizeValue";
%!          "phasemend3 (ones (3, 3, 3), 1, 1, 9)", "phasekit:phasemend3:referenceOutside";
%!          "phasemend3 (ones (3, 3, 3), 'Periodic', [1 1])", "phasekit:phasemend3:periodicValue";
%!          "kernsmooth_c (1)", "phasekit:kernsmooth_c:argumentCount";
%!          "kernsmooth_c (ones (3), zeros (0, 3))", "phasekit:kernsmooth_c:kernelEmpty"};
%! for k = 1:rows (calls)
%!   identifier = "";
%!   try
%!     eval ([calls{k, 1} ";"]);
%!   catch err
%!     identifier = err.identifier;
%!   end
%!   assert (identifier, calls{k, 2});
%! end
