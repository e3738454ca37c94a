%PHASEMEND3  Unwrap a 3-D phase volume by reliability sorting along a non-continuous path.
%
%   UNWRAPPED = PHASEMEND3(WRAPPED)
%   UNWRAPPED = PHASEMEND3(WRAPPED, XREF, YREF, ZREF)
%   UNWRAPPED = PHASEMEND3(..., NAME, VALUE, ...)
%   [UNWRAPPED, REGIONS, RELIABILITY] = PHASEMEND3(...)
%
%   WRAPPED    M-by-N-by-P real double or single array of wrapped phase in radians
%              (-pi..pi): an MRI phase volume (NIfTI phase is often single), a stack
%              of interferograms through depth. NaN and +-Inf mark a missing voxel
%              (outside a mask, say).
%   XREF, YREF, ZREF  optional 1-based column (XREF), row (YREF) and slice (ZREF)
%              of a known voxel, truncated toward zero. Only their first elements
%              are read.
%
%   UNWRAPPED  M-by-N-by-P real array of WRAPPED's class. Every valid voxel differs
%              from its wrapped value by a whole multiple of 2*pi; missing voxels are
%              NaN. A single volume gives single (phasemend3 (double (WRAPPED), ...))
%              bit for bit, read as it is: no double copy is made.
%   REGIONS    M-by-N-by-P double: 0 where the voxel is missing, else the number of
%              its connected region of valid voxels (joined along rows, columns and
%              slices, and across periodic borders), numbered 1, 2, ... in the order
%              of each region's first voxel in memory order. Without a reference
%              each region has its own unknown 2*pi offset.
%   RELIABILITY M-by-N-by-P of WRAPPED's class: the reliability each valid voxel
%              entered the ordering with (the second-difference measure, smaller is
%              more reliable, or -Q with a quality map); Inf for a valid voxel that
%              has none; NaN where the voxel is missing.
%   REGIONS and RELIABILITY are computed only when asked for.
%
%   Options (names in full, any case; a name given twice: the last value holds):
%   'Quality', Q   real full single or double array of WRAPPED's size, larger meaning more
%              trustworthy (the magnitude image, an SNR map). Each valid voxel's
%              reliability becomes -Q there; no second differences and no random
%              initial values. A voxel whose Q is NaN or infinite counts as missing.
%   'Periodic', P  logical or numeric scalar, or a vector of three (rows, columns,
%              slices): true where the data wraps around (a cylindrical scan's
%              azimuth, a full turn of a rotating part), so the last row, column or
%              slice neighbours the first; reliabilities and edges then reach across
%              that border. A periodic dimension needs at least three samples.
%
%   Method: each voxel off the volume's faces whose 26 neighbours are all valid gets
%   a reliability from the second differences of the wrapped phase along the 13
%   directions through its 3x3x3 block; neighbouring valid voxels along rows,
%   columns and slices are joined most reliable pair first (Abdul-Rahman, Gdeisat,
%   Burton, Lalor, Lilley and Moore, Applied Optics 46(26), 6623, 2007). Unwrapping
%   follows the reliable regions through the whole volume, so the slices come out
%   consistent with one another: unwrapping each slice on its own (PHASEMEND) gives
%   every slice its own 2*pi offset, and splits a slice that a hole cuts in two.
%
%   A 2-D matrix (P = 1) gives exactly PHASEMEND's result for that map (with ZREF = 1
%   for a reference). With a reference voxel the result there equals its wrapped
%   value; without one each connected region of valid voxels comes out up to one
%   common multiple of 2*pi. A reference on a missing voxel acts as no reference.
%   Results are the same from call to call and for any number of threads.
%
%   Memory: besides the inputs and the outputs, about 56 bytes a voxel while it runs
%   (3.8 GB for 512-by-512-by-256), with or without options.
%
%   Messages: errors, each with its identifier (ERR.identifier in try/catch):
%   - Called with other than one or four arguments and no text after WRAPPED or
%     after the reference, PHASEMEND3 prints its help text and returns nothing. A
%     text in one of the reference's places is never a reference: it starts the
%     options.
%   - Options, each naming PHASEMEND3: phasekit:phasemend3:unknownOption,
%     notOptionName, missingValue, qualityValue, periodicValue and
%     periodicTooShort, as for PHASEMEND (TileSize is PHASEMEND's alone).
%   - "phasemend3 gives at most three outputs: [unwrapped, regions, reliability]."
%     (phasekit:phasemend3:tooManyOutputs)
%   - "x_ref, y_ref and/or z_ref can not be smaller than 1 nor larger than the
%     volume size." when the reference lies outside the volume (or is NaN or
%     infinite) (phasekit:phasemend3:referenceOutside).
%   - "wrapped must be a full (not sparse) real single or double array."
%     (phasekit:phasemend3:wrappedType)
%   - "wrapped must have at most three dimensions (rows, columns, slices)."
%     (phasekit:phasemend3:wrappedDimensions)
%   - "xref, yref and zref must be non-empty full (not sparse) double values."
%     (phasekit:phasemend3:referenceType) and "xref, yref and zref must not have more
%     than two dimensions." (phasekit:phasemend3:referenceDimensions)
%   - "wrapped is too large: its voxel and edge counts must stay below 2^31."
%     (phasekit:phasemend3:tooLarge)
%   - "phasemend3 was interrupted (Ctrl-C): it returns nothing."
%     (phasekit:phasemend3:interrupted): Ctrl-C ends a long call within a fraction of
%     a second, with its memory freed.
%   An empty WRAPPED gives an empty result of the same size.
%
%   Example:
%     [x, y, z] = meshgrid (linspace (-1, 1, 96), linspace (-1, 1, 96), linspace (-1, 1, 48));
%     truth = 30 * exp (-(x.^2 + y.^2 + z.^2) / 0.3);
%     wrapped = angle (exp (1i * truth));
%     wrapped(x.^2 + y.^2 + z.^2 > 0.9) = NaN;           % outside an ellipsoid mask
%     unwrapped = phasemend3 (wrapped, 48, 48, 24);
%     err = unwrapped - truth + truth(48,48,24) - wrapped(48,48,24);
%     max (abs (err(:)))                                 % 0 up to rounding (NaN skipped)
%
%   See also PHASEMEND, KERNSMOOTH_C, CLIPFORGE.
