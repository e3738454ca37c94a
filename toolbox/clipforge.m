%CLIPFORGE  Write JPEG files as the frames of a Motion-JPEG AVI movie.
%
%   CLIPFORGE(AVI_PATH, FPS, IMAGE_PATH_1, IMAGE_PATH_2, ...)
%
%   AVI_PATH      text: the movie file to create (replaced if it exists).
%   FPS           frame rate, a positive finite real double (its first element).
%   IMAGE_PATH_k  text: JPEG files, one frame each, in argument order; at least one.
%
%   Each JPEG file is copied unchanged into its frame; nothing is decoded. The frame
%   size is read from the first image's baseline start-of-frame header (0xFF 0xC0);
%   later images are written as they are. Whole frame rates are stored as they are,
%   others as a ratio (29.97 as 2997/100). CLIPFORGE returns nothing; it prints a
%   two-line banner and "  k frames on n..." before frames 1, 11, 21, ... (k frames
%   done, n = number of images minus one).
%
%   Messages (warnings unless said otherwise; no file is created by the first three):
%   - "Not enough input argument." and "1) avi filepath   2) fps   3)... image
%     filepaths" with fewer than three arguments.
%   - "The frame rate (argument 2) must be a positive, finite real number."
%   - "Argument k (...) must be a character array." for a path that is not text.
%   - "Couldn't open AVI for writing" when the movie file cannot be created.
%   - "Cannot open file: PATH" (printed) when the first image cannot be opened, and
%     "Cannot find width/height of jpeg" when it has no baseline frame header (for
%     example a progressive JPEG): the movie file keeps only its provisional header.
%   - "Cannot open image file, skipped: PATH" or "Cannot read image file, skipped:
%     PATH" for a later image; the other frames are written.
%   - "The movie would reach 2 GiB with PATH: no more frames are added." AVI offsets
%     are 32-bit; the movie is closed with the frames before it.
%   - "Writing the movie file failed: the movie file is incomplete." (a full disk).
%   - "Not enough space. String is truncated." for a path given as a column.
%
%   Example:
%     for k = 1:30
%       imwrite (uint8 (255 * rand (48, 64)), sprintf ('frame%02d.jpg', k));
%     end
%     files = arrayfun (@(k) sprintf ('frame%02d.jpg', k), 1:30, 'UniformOutput', false);
%     clipforge ('noise.avi', 25, files{:});
%
%   See also PHASEMEND, KERNSMOOTH_C.
