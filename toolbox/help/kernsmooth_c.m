%KERNSMOOTH_C  NaN-aware kernel smoothing of a complex 2-D map.
%
%   SMOOTHED = KERNSMOOTH_C(MAP, KERNEL)
%   SMOOTHED = KERNSMOOTH_C(MAP, U, V)
%   [SMOOTHED, SUPPORT] = KERNSMOOTH_C(...)
%
%   MAP        M-by-N double or single matrix, complex or real (a real map has zero
%              imaginary parts). A sample is missing when its real or imaginary part
%              is NaN.
%   KERNEL     non-empty real double or single matrix of weights (its imaginary
%              part, if any, is ignored). It is applied as a correlation, not flipped: weight
%              KERNEL(h+hr+1, k+hc+1) multiplies the sample at offset (h, k), with
%              hr = floor((rows-1)/2) and hc = floor((columns-1)/2). An even side uses
%              only its first 2*hr+1 rows or 2*hc+1 columns.
%
%   U, V       a separable kernel U(:) * V(:).' as its two vectors (real double or
%              single, rows or columns, non-empty): U the weights down the rows (along
%              each column), V along the columns (along each row); even lengths as for
%              a KERNEL. The cost grows with the lengths of U and V, not with their
%              product: a 101-tap Gaussian on a 2048 x 2048 map takes a small part of
%              the time of its 101 x 101 kernel (see the README for figures). The result
%              is that of KERNEL = U(:) * V(:).' up to rounding: exactly, it is a
%              column pass (for every sample, the weights U of the valid samples of
%              its column window inside the map, and their weighted parts), then a row
%              pass of those sums weighted by V over the columns inside the map, each
%              sum in ascending order of taps, in double; the quotients where the centre
%              is valid and the weights sum above zero, NaN elsewhere.
%
%   SMOOTHED   M-by-N complex matrix of MAP's class. Each sample is the weighted sum
%              of the valid samples of its window inside the map, divided by the sum
%              of the weights actually used, so borders and holes are renormalised.
%   SUPPORT    (only computed when asked for) M-by-N real matrix of MAP's class: for
%              every sample whose centre is valid, that sum S of the weights actually
%              used (also where S <= 0 or NaN, where SMOOTHED is NaN); NaN where the
%              centre is missing. Use it to drop samples averaged over too few
%              neighbours, at the edge of a hole or of the map:
%                [smoothed, support] = kernsmooth_c (map, K);
%                smoothed(support < 0.5 * sum (K(:))) = NaN;
%
%   Single precision: a single MAP gives single results, equal bit for bit to
%   single (kernsmooth_c (double (MAP), double (KERNEL))): the samples are read as
%   they are (no double copy of the map), the sums are formed in double and each
%   result sample is rounded once.
%
%   NaN handling: a missing sample stays missing (NaN + NaN*i) and takes no part in
%   its neighbours' windows. A window whose used weights sum to zero or less (or to
%   NaN) also gives NaN + NaN*i. Octave shows a result whose imaginary parts are all
%   zero (for example from a real map) as a real matrix.
%
%   Messages: errors, each with its identifier (ERR.identifier in try/catch):
%   - Called with no arguments, KERNSMOOTH_C prints its help text.
%   - "This function takes zero, three or four arguments." for any count but 0 and
%     2 (the text is kept as it is because callers match on it)
%     (phasekit:kernsmooth_c:argumentCount).
%   - "map must be a full (not sparse) single or double matrix."
%     (phasekit:kernsmooth_c:mapType)
%   - "smoothing_kernel must be a full (not sparse) single or double matrix."
%     (phasekit:kernsmooth_c:kernelType)
%   - "kernsmooth_c gives at most two outputs: [smoothed, support]."
%     (phasekit:kernsmooth_c:tooManyOutputs)
%   - "smoothing_kernel must not be empty." (phasekit:kernsmooth_c:kernelEmpty)
%   - "map and smoothing_kernel must have fewer than 2^31 elements."
%     (phasekit:kernsmooth_c:tooLarge)
%   - "map must be a 2-D matrix; for a stack of maps, smooth each slice map(:,:,k)
%     on its own." (phasekit:kernsmooth_c:mapDimensions) and "smoothing_kernel must
%     be a 2-D matrix." (phasekit:kernsmooth_c:kernelDimensions) for arrays of three
%     or more dimensions (smooth a stack with a loop over k, as for PHASEMEND).
%   - With three inputs: "u must be a vector (the weights down the rows: one row or
%     one column), not a matrix." (phasekit:kernsmooth_c:uNotVector), "u must not
%     be empty." (phasekit:kernsmooth_c:uEmpty), "u must be a real full (not sparse)
%     single or double vector." (phasekit:kernsmooth_c:uType), and the same for v
%     ("... the weights along the rows ...", phasekit:kernsmooth_c:vNotVector, vEmpty,
%     vType); "map, u and v must have fewer than 2^31 elements."
%     (phasekit:kernsmooth_c:tooLarge).
%   - "kernsmooth_c was interrupted (Ctrl-C): it returns nothing."
%     (phasekit:kernsmooth_c:interrupted): Ctrl-C ends a long call within a fraction
%     of a second, with its memory freed.
%   An empty MAP gives an empty complex result of the same size.
%
%   Example:
%     field = exp (1i * peaks (200)) + 0.2 * (randn (200) + 1i * randn (200));
%     field(50:60, 50:60) = NaN;
%     smoothed = kernsmooth_c (field, ones (5) / 25);
%     [smoothed, support] = kernsmooth_c (single (field), ones (5));
%     smoothed(support < 13) = NaN;    % fewer than half the window's 25 samples
%     g = exp (-0.5 * ((-50:50) / 15).^2);
%     lowpass = kernsmooth_c (field, g, g);   % the 101 x 101 Gaussian, at the cost of 2 x 101
%
%   See also PHASEMEND, CLIPFORGE.
