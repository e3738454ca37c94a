% Octave tests of kernsmooth_c, called exactly as a user types it.

%!function out = plain_smooth (map, kernel)
%!  # The formula written plainly: weighted mean of the valid in-map window samples.
%!  [M, N] = size (map);
%!  [Mk, Nk] = size (kernel);
%!  hr = fix ((Mk - 1) / 2);
%!  hc = fix ((Nk - 1) / 2);
%!  re = NaN (M, N);
%!  im = NaN (M, N);
%!  for c = 1:N
%!    for j = 1:M
%!      if (isnan (real (map(j, c))) || isnan (imag (map(j, c))))
%!        continue;
%!      end
%!      S = 0; Tre = 0; Tim = 0;
%!      for k = -hc:hc
%!        for h = -hr:hr
%!          r = j + h; q = c + k;
%!          if (r < 1 || r > M || q < 1 || q > N)
%!            continue;
%!          end
%!          v = map(r, q);
%!          if (isnan (real (v)) || isnan (imag (v)))
%!            continue;
%!          end
%!          w = kernel(h + hr + 1, k + hc + 1);
%!          S += w; Tre += w * real (v); Tim += w * imag (v);
%!        end
%!      end
%!      if (S > 0)
%!        re(j, c) = Tre / S;
%!        im(j, c) = Tim / S;
%!      end
%!    end
%!  end
%!  out = complex (re, im);
%!endfunction

%!test # no arguments print the 8-line help
%! out = evalc ("kernsmooth_c ()");
%! lines = strsplit (out, "\n", "CollapseDelimiters", false);
%! assert (numel (lines), 9);
%! assert (lines{1}, "\tReturns the 2D-filtered map.");
%! assert (lines{3}, "\t\t\tsmoothed_map = kernsmooth(map,smoothing_kernel);");
%! assert (lines{7}, "");

%!error <kernsmooth_c: This function takes zero, three or four arguments.> kernsmooth_c (1)
%!error <This function takes zero, three or four arguments.> kernsmooth_c (1, 2, 3, 4)
%!error <map must be a full \(not sparse\) single or double matrix.> kernsmooth_c (int8 (ones (3)), ones (3))
%!error <at most two outputs> [a, b, c] = kernsmooth_c (ones (3), ones (3))
%!error <map must be a full> kernsmooth_c (sparse (ones (3)), ones (3))
%!error <map must be a full> kernsmooth_c ({1}, ones (3))
%!error <smoothing_kernel must be a full> kernsmooth_c (ones (3), int8 (ones (3)))
%!error <smoothing_kernel must not be empty.> kernsmooth_c (ones (3), [])
%!error <kernsmooth_c: map must be a 2-D matrix; for a stack of maps, smooth each slice> kernsmooth_c (rand (4, 4, 2), ones (3))
%!error <smoothing_kernel must be a 2-D matrix.> kernsmooth_c (ones (4), ones (3, 3, 3))

%!test # agreement with the plain formula on random complex maps with NaN
%! for trial = 1:4
%!   M = 20 + trial; N = 17 + 3 * trial;
%!   map = complex (randn (M, N), randn (M, N));
%!   map(rand (M, N) < 0.05) = NaN;
%!   holes = rand (M, N) < 0.05;
%!   map(holes) = complex (real (map(holes)), NaN);
%!   kernel = rand (2 * trial + 1, trial + 2);
%!   assert (kernsmooth_c (map, kernel), plain_smooth (map, kernel), 1e-12);
%! end

%!test # local means with border renormalisation, and a zero-sum kernel
%! map = complex (magic (5), -magic (5));
%! s = kernsmooth_c (map, ones (3));
%! assert (s(1, 1), mean (mean (map(1:2, 1:2))), 1e-12);
%! assert (s(3, 1), mean (mean (map(2:4, 1:2))), 1e-12);
%! z = kernsmooth_c (map, zeros (3));
%! assert (all (isnan (real (z(:)))) && all (isnan (imag (z(:)))));

%!test # a real map has zero imaginary parts (Octave shows an all-real result as real)
%! map = magic (6);
%! s = kernsmooth_c (map, ones (3));
%! assert (isreal (s));
%! assert (s, real (plain_smooth (complex (map, 0), ones (3))), 1e-12);
%! map(2, 2) = NaN;
%! s = kernsmooth_c (map, ones (3));
%! assert (isnan (real (s(2, 2))) && isnan (imag (s(2, 2))));
%! valid = ! isnan (map);
%! assert (imag (s(valid)), zeros (nnz (valid), 1));

%!test # empty maps give empty results of the same size
%! assert (size (kernsmooth_c (zeros (0, 3), ones (3))), [0 3]);

%!test # single maps, and the support: the weights each window used
%! rand ("seed", 3);
%! m = complex (rand (40, 30), rand (40, 30));
%! m(rand (40, 30) < 0.1) = NaN;
%! k = rand (5, 3) - 0.1;
%! [s, support] = kernsmooth_c (m, k);
%! assert (s, kernsmooth_c (m, k));
%! valid = double (! isnan (m));
%! expected = conv2 (valid, rot90 (k, 2), "same");   # the kernel as a correlation
%! expected(! valid) = NaN;
%! assert (support, expected, 1e-12);
%! [s1, support1] = kernsmooth_c (single (m), k);
%! assert (class (s1), "single");
%! assert (class (support1), "single");
%! assert (s1, single (s));
%! assert (support1, single (support));
%! assert (kernsmooth_c (single (m), single (k)), single (kernsmooth_c (double (single (m)), double (single (k)))));
%! assert (kernsmooth_c (single (real (m)), k), single (kernsmooth_c (real (m), k)));


%!test # Ctrl-C (SIGINT to Octave itself, as the key sends it) ends a long call early
%! ## The call alone takes many seconds; the signal comes half a second after it starts.
%! field = complex (rand (2048, "single"), rand (2048, "single"));
%! system (sprintf ("(sleep 0.5; kill -INT %d) &", getpid ()));
%! identifier = "";
%! try
%!   kernsmooth_c (field, ones (101));
%! catch err
%!   identifier = err.identifier;
%! end
%! assert (identifier, "phasekit:kernsmooth_c:interrupted");
%! ## The session goes on, and the next call gives its usual result.
%! assert (kernsmooth_c (complex ([1 2; 3 4], [5 6; 7 8]), 1), complex ([1 2; 3 4], [5 6; 7 8]));

%!test # kernsmooth_c (map, u, v): the kernel u * v.' to rounding, its support, its errors
%! rand ("seed", 3);
%! map = complex (rand (60, 45), rand (60, 45));
%! map(rand (60, 45) < 0.05) = NaN;
%! u = rand (1, 9); v = rand (7, 1);
%! [s, w] = kernsmooth_c (map, u, v);
%! [s2, w2] = kernsmooth_c (map, u(:) * v(:).');
%! assert (s, s2, 1e-12);
%! assert (w, w2, 1e-12);
%! assert (class (kernsmooth_c (single (map), single (u), v)), "single");
%! fail ("kernsmooth_c (map, ones (3), v)", "u must be a vector");
%! fail ("kernsmooth_c (map, u, [])", "v must not be empty");
%! fail ("kernsmooth_c (map, u, 1i * v)", "v must be a real full");
