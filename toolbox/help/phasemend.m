%PHASEMEND  Unwrap a 2-D phase map by reliability sorting along a non-continuous path.
%
%   UNWRAPPED = PHASEMEND(WRAPPED)
%   UNWRAPPED = PHASEMEND(WRAPPED, XREF, YREF)
%   UNWRAPPED = PHASEMEND(..., NAME, VALUE, ...)   NAME: 'Quality', 'Periodic', 'TileSize',
%                                                  'Progress'
%   [UNWRAPPED, REGIONS, RELIABILITY] = PHASEMEND(...)
%
%   WRAPPED    M-by-N double or single matrix of wrapped phase in radians (-pi..pi).
%              NaN marks a missing pixel; infinite samples count as missing too. For
%              a complex matrix the real part is used.
%   XREF, YREF optional 1-based column (XREF) and row (YREF) of a known point,
%              truncated toward zero. Only their first elements are read.
%
%   UNWRAPPED  M-by-N real matrix of WRAPPED's class. Every valid pixel differs from
%              its wrapped value by a whole multiple of 2*pi; missing pixels are NaN.
%   REGIONS    M-by-N double: 0 where the pixel is missing, else the number of its
%              connected region of valid pixels (joined through rows and columns,
%              and across periodic borders), numbered 1, 2, ... in the order of each
%              region's first pixel in column-major order. Without a reference each
%              region has its own unknown 2*pi offset: bridge or drop regions here.
%   RELIABILITY M-by-N of WRAPPED's class: the reliability each valid pixel entered
%              the ordering with (the second-difference measure, smaller is more
%              reliable, or -Q with a quality map); Inf for a valid pixel that has
%              none (a border pixel, or one next to a missing pixel); NaN where the
%              pixel is missing. Threshold it to mask doubtful pixels afterwards.
%   REGIONS and RELIABILITY are computed only when asked for.
%
%   Options (names in full, any case; a name given twice: the last value holds):
%   'Quality', Q   M-by-N real full single or double matrix, larger meaning more
%              trustworthy (the magnitude of the complex signal, a coherence, an
%              SNR; a single Q acts as double (Q) would, without a copy). Each
%              valid pixel's reliability becomes -Q there, so pairs of high quality
%              are joined first; no second differences and no random initial
%              values. A pixel whose Q is NaN or infinite counts as missing.
%   'Periodic', P  logical or numeric scalar, or a vector of two (rows, columns):
%              true where the map wraps around (azimuth, a full turn, longitude),
%              so the last row neighbours the first, the last column the first.
%              Border pixels then get reliabilities over neighbours taken across the
%              border, and valid pixels on the two borders are joined. A periodic
%              dimension needs at least three samples.
%   'TileSize', T  a positive whole number (square tiles) or [ROWS COLS]: unwrap in
%              tiles of that size, one tile a thread, holding the working memory of
%              a few tiles instead of the whole map's (about 50 bytes a pixel of a
%              tile per thread, plus a little per pixel of the tiles' borders), for
%              maps too large for the plain call. The result is exact, with no seams:
%              it is the same for every T and every thread count (tiles larger than
%              the map are one tile). Combines with the reference, 'Quality',
%              'Periodic' and the three outputs.
%   'Progress', TF  with 'TileSize': true prints about one line a 5% of the work,
%              "phasemend: 41% (tile 133 of 324, 52 s)" (default false).
%
%   Tiled result: the method with one rule for equal reliabilities and one for the
%   2*pi constant of each region. Pairs of equal reliability are joined in the order
%   of the pairs down columns, then along rows, then across periodic borders, each
%   by column-major index of its first pixel (the plain call leaves their order to
%   its sort); and each connected region's first pixel (lowest column-major index)
%   keeps its wrapped value, the others following from it (the plain call lets the
%   order of joining decide). So against the plain call: REGIONS and RELIABILITY are
%   the same; UNWRAPPED differs by at most one multiple of 2*pi per region (none in
%   the reference's region) wherever the order of equal reliabilities does not
%   decide which loop is cut, which is always so for a Quality map whose pairs of
%   pixels sum to distinct values. Equal sums are common on borders and next to
%   missing pixels (their initial values), and on noise-free or quantised maps; there
%   the two calls may also differ within a region by whole multiples of 2*pi, each
%   being a result of the method.
%
%   Single precision: a single WRAPPED gives a single result, equal bit for bit to
%   single (phasemend (double (WRAPPED), ...)). The samples are read as they are (no
%   double copy is made) and the work is done in double.
%
%   Method: each pixel whose eight neighbours are all valid gets a reliability from
%   the second differences of the wrapped phase; neighbouring valid pixels in a row
%   or a column are joined most reliable pair first, so that unwrapping follows the
%   reliable regions rather than a scan order (Herraez, Burton, Lalor and Gdeisat,
%   Applied Optics 41(35), 7437, 2002).
%
%   Reference point: with XREF and YREF the result at that pixel equals its wrapped
%   value. Without them, each connected region of valid pixels comes out up to one
%   common multiple of 2*pi (with 'TileSize': its first pixel keeps its wrapped
%   value). A reference on a missing pixel acts as no reference. Results are the
%   same from call to call and for any number of threads.
%
%   Messages: errors, each with its identifier (ERR.identifier in try/catch):
%   - Called with other than one or three arguments and no text after WRAPPED or
%     after the reference, PHASEMEND prints its help text and returns nothing. A text
%     in the reference's place is never a reference: it starts the options, so
%     PHASEMEND (W, 'Qualty', Q) is refused as an unknown option.
%   - Options, each naming PHASEMEND: a text that is no option's name
%     (phasekit:phasemend:unknownOption), a value in a name's place
%     (phasekit:phasemend:notOptionName), a name without a value
%     (phasekit:phasemend:missingValue), a Q of another size, class, complexity or
%     sparsity (phasekit:phasemend:qualityValue), a P of the wrong length or class
%     (phasekit:phasemend:periodicValue), a periodic dimension under three samples
%     (phasekit:phasemend:periodicTooShort), a T that is not one or two positive
%     whole numbers: zero, negative, fractional, NaN, Inf, empty, more than two,
%     text, logical, complex (phasekit:phasemend:tileSizeValue).
%   - "phasemend gives at most three outputs: [unwrapped, regions, reliability]."
%     (phasekit:phasemend:tooManyOutputs)
%   - "x_ref and/or y_ref can not be smaller than 1 nor larger than the matrix size."
%     when the reference lies outside the map, or is NaN or infinite
%     (phasekit:phasemend:referenceOutside).
%   - "wrapped must be a full (not sparse) single or double matrix."
%     (phasekit:phasemend:wrappedType)
%   - "xref and yref must be non-empty full (not sparse) double values."
%     (phasekit:phasemend:referenceType)
%   - "wrapped is too large: its pixel and edge counts must stay below 2^31
%     (phasemend with 'TileSize' unwraps larger maps in tiles)."
%     (phasekit:phasemend:tooLarge); with 'TileSize': "phasemend needs tiles of
%     fewer than 2^30 pixels, and rows and columns below 2^31 each: give a smaller
%     TileSize." (phasekit:phasemend:tilesTooLarge) and "phasemend cannot keep the
%     skeletons of this many tiles: give a larger TileSize."
%     (phasekit:phasemend:tilesTooMany).
%   - "wrapped must be a 2-D matrix; for a volume use phasemend3, and for a stack of
%     independent maps unwrap each slice wrapped(:,:,k) on its own."
%     (phasekit:phasemend:wrappedDimensions) and "xref and yref must not have more
%     than two dimensions." (phasekit:phasemend:referenceDimensions)
%   - "phasemend was interrupted (Ctrl-C): it returns nothing."
%     (phasekit:phasemend:interrupted): Ctrl-C ends a long call within a fraction of
%     a second, with its memory freed.
%   An empty WRAPPED gives an empty result of the same size.
%
%   A volume (M-by-N-by-P, the slices of one object) is unwrapped in 3-D by
%   PHASEMEND3. A stack of independent maps (M-by-N-by-K) is unwrapped slice by slice:
%     unwrapped = zeros (size (stack));
%     for k = 1:size (stack, 3)
%       unwrapped(:,:,k) = phasemend (stack(:,:,k));
%     end
%
%   Example:
%     [x, y] = meshgrid (linspace (-1, 1, 256));
%     truth = 40 * exp (-(x.^2 + y.^2) / 0.2);
%     wrapped = angle (exp (1i * truth));
%     wrapped(100:110, 50:60) = NaN;
%     unwrapped = phasemend (wrapped, 128, 128);
%     max (abs (unwrapped(:) - truth(:) + truth(128,128) - wrapped(128,128)))
%
%   With a quality map, a reference, a map whose columns wrap around, and its regions:
%     q = abs (signal);                              % magnitude as the quality
%     [u, regions] = phasemend (angle (signal), 1, 1, 'Quality', q, 'Periodic', [false true]);
%     u(regions ~= 1) = NaN;                         % keep the region of the reference
%
%   A large map in tiles of 1024 x 1024, every core busy:
%     u = phasemend (wrapped, 'Quality', coherence, 'TileSize', 1024);
%
%   See also PHASEMEND3, KERNSMOOTH_C, CLIPFORGE.
