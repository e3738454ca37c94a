%CLIPFORGE  Write JPEG files as the frames of a Motion-JPEG AVI movie.
%
%   CLIPFORGE(AVI_PATH, FPS, IMAGE_PATH_1, IMAGE_PATH_2, ...)
%
%   AVI_PATH      text, one row: the movie file to create (replaced if it exists,
%                 but only once the first image has given the frame size).
%   FPS           frame rate, a positive finite real double (its first element).
%   IMAGE_PATH_k  text, one row each: JPEG files (regular files; not devices or
%                 pipes), one frame each, in argument order; at least one.
%
%   Each JPEG file is copied unchanged into its frame; nothing is decoded. The frame
%   size is read from the first image's baseline start-of-frame header (0xFF 0xC0);
%   later images are written as they are. Whole frame rates are stored as they are,
%   others as a ratio (29.97 as 2997/100). CLIPFORGE returns nothing; it prints a
%   two-line banner and "  k frames on n..." before frames 1, 11, 21, ... (k frames
%   done, n = number of images minus one).
%
%   Messages (warnings unless said otherwise). The first six create no movie file
%   and leave an existing file of that name untouched:
%   - "Not enough input argument." and "1) avi filepath   2) fps   3)... image
%     filepaths" with fewer than three arguments.
%   - "The frame rate (argument 2) must be a positive, finite real number."
%   - "Argument k (...) must be a character array." for a path that is not text, and
%     "Argument k (...) must be one row of characters, not a character matrix."
%   - "The movie path names the same file as argument k (an image): nothing is
%     written, so the image is kept." (also through a link or another spelling).
%   - "Cannot open file: PATH" (printed) when the first image cannot be opened or is
%     not a regular file, and "Cannot find width/height of jpeg" when it has no
%     baseline frame header (for example a progressive JPEG).
%   - "Couldn't open AVI for writing" when the movie file cannot be created.
%   - "Cannot open image file, skipped: PATH" or "Cannot read image file, skipped:
%     PATH" for a later image (also one that is not a regular file); the other
%     frames are written.
%   - "The movie cannot take PATH (a frame of 2 GiB or more, or a movie at its
%     largest): no more frames are added." The movie is closed with the frames
%     before it. Movies past 2 GiB use the OpenDML extension of AVI, up to about
%     224 GiB; the first 2 GiB stay readable by old AVI readers.
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
