%CLIPFORGE  Write JPEG files as the frames of a Motion-JPEG AVI movie.
%
%   CLIPFORGE(AVI_PATH, FPS, IMAGE_PATH_1, IMAGE_PATH_2, ...)
%
%   AVI_PATH      text, one row (or one column, read as the row it spells): the
%                 movie file to create (replaced if it exists, but only once the
%                 first image has given the frame size).
%   FPS           frame rate, a positive finite real double (its first element).
%   IMAGE_PATH_k  text, one row (or column) each: JPEG files (regular files; not
%                 devices or pipes), one frame each, in argument order; at least one.
%
%   Each JPEG file is copied unchanged into its frame; nothing is decoded. The frame
%   size is read from the first image's baseline start-of-frame header (0xFF 0xC0);
%   later images are written as they are. Whole frame rates are stored as they are,
%   others as a ratio (29.97 as 2997/100). CLIPFORGE returns nothing; it prints a
%   two-line banner and "  k frames on n..." before frames 1, 11, 21, ... (k frames
%   done, n = number of images minus one).
%
%   Ctrl-C between frames closes the movie with the frames written so far, which
%   play, and warns.
%
%   Messages: warnings, each with its identifier (for lastwarn, and
%   warning ('off', ID)). Every outcome that leaves no complete movie warns, so a
%   script can tell (mexrun --strict exits 3). The first seven create no movie
%   file and leave an existing file of that name untouched:
%   - "Not enough input argument." (phasekit:clipforge:tooFewArguments) and
%     "1) avi filepath   2) fps   3)... image filepaths" (phasekit:clipforge:usage)
%     with fewer than three arguments.
%   - "The frame rate (argument 2) must be a positive, finite real number."
%     (phasekit:clipforge:frameRate)
%   - "Argument k (...) must be a character array." for a path that is not text,
%     and "Argument k (...) must be one row of characters, not a character matrix."
%     for text of several rows and columns (phasekit:clipforge:pathType).
%   - "The movie path names the same file as argument k (an image): nothing is
%     written, so the image is kept." (also through a link or another spelling)
%     (phasekit:clipforge:movieIsImage)
%   - "No movie was written: the first image cannot be opened: PATH" when it cannot
%     be opened or is not a regular file, after the printed line "Cannot open file:
%     PATH" (phasekit:clipforge:firstImageUnreadable).
%   - "Cannot find width/height of jpeg" when the first image has no baseline frame
%     header, a progressive JPEG for one (phasekit:clipforge:noFrameSize).
%   - "Couldn't open AVI for writing" when the movie file cannot be created
%     (phasekit:clipforge:movieNotCreated).
%   - "Cannot open image file, skipped: PATH" or "Cannot read image file, skipped:
%     PATH" for a later image (also one that is not a regular file); the other
%     frames are written (phasekit:clipforge:imageSkipped).
%   - "The movie cannot take PATH (a frame of 2 GiB or more, or a movie at its
%     largest): no more frames are added." The movie is closed with the frames
%     before it (phasekit:clipforge:movieFull). Movies past 2 GiB use the OpenDML
%     extension of AVI, up to about 224 GiB; the first 2 GiB stay readable by old
%     AVI readers.
%   - "Writing the movie file failed: the movie file is incomplete." (a full disk)
%     (phasekit:clipforge:writeFailed)
%   - "clipforge was interrupted (Ctrl-C): the movie holds the first k of n images."
%     (phasekit:clipforge:interrupted)
%   - "Not enough space. String is truncated." for a path that could not be read
%     whole (phasekit:clipforge:pathTruncated).
%
%   Example:
%     for k = 1:30
%       imwrite (uint8 (255 * rand (48, 64)), sprintf ('frame%02d.jpg', k));
%     end
%     files = arrayfun (@(k) sprintf ('frame%02d.jpg', k), 1:30, 'UniformOutput', false);
%     clipforge ('noise.avi', 25, files{:});
%
%   See also PHASEMEND, KERNSMOOTH_C.
