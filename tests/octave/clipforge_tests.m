% Octave tests of clipforge: a movie written from JPEG files made with imwrite, read
% back by parsing its header and index here.

%!function value = le32 (bytes, offset)
%!  # Little-endian 32-bit value at a 0-based offset.
%!  b = double (bytes(offset + (1:4)));
%!  value = b(1) + 256 * b(2) + 65536 * b(3) + 16777216 * b(4);
%!endfunction

%!function bytes = read_bytes (file)
%!  fid = fopen (file, "rb");
%!  bytes = fread (fid, Inf, "uint8=>uint8")';
%!  fclose (fid);
%!endfunction

%!shared folder, files
%! folder = tempname ();
%! mkdir (folder);
%! files = cell (1, 12);
%! for k = 1:12
%!   [x, y] = meshgrid (1:80, 1:60);
%!   image = uint8 (127 + 120 * sin ((x + 3 * k) / 7) .* cos (y / 9));
%!   files{k} = fullfile (folder, sprintf ("frame%02d.jpg", k));
%!   imwrite (image, files{k}, "Quality", 90);
%! end

%!test # banner, progress lines, and the header, index and frames read back
%! movie = fullfile (folder, "movie.avi");
%! out = evalc ("clipforge (movie, 12.5, files{:})");
%! lines = strsplit (out, "\n", "CollapseDelimiters", false);
%! assert (numel (lines), 5);
%! assert (lines{3}, "  0 frames on 11...");
%! assert (lines{4}, " 10 frames on 11...");
%! b = read_bytes (movie);
%! assert (char (b([1:4, 9:12])), "RIFFAVI ");
%! assert (le32 (b, 4), numel (b) - 8);
%! assert (le32 (b, 48), 12);               # total frames
%! assert ([le32(b, 64), le32(b, 68)], [80 60]);
%! assert (char (b(113:116)), "MJPG");
%! assert (le32 (b, 132) / le32 (b, 128), 12.5);  # rate / scale
%! assert (le32 (b, 32), 80000);            # microseconds per frame
%! assert (le32 (b, 140), 12);              # stream length
%! assert (char (b(4097:4100)), "LIST");
%! movi = le32 (b, 4100);
%! idx = 4104 + movi;
%! assert (char (b(idx + (1:4))), "idx1");
%! assert (le32 (b, idx + 4), 16 * 12);
%! for k = 1:12
%!   entry = idx + 8 + 16 * (k - 1);
%!   assert (char (b(entry + (1:4))), "00dc");
%!   offset = le32 (b, entry + 8);
%!   size = le32 (b, entry + 12);
%!   source = read_bytes (files{k});
%!   assert (size, 4 * ceil (numel (source) / 4));
%!   assert (b(4104 + offset + 8 + (1:numel (source))), source);
%! end
%! assert (idx + 8 + 16 * 12, numel (b));

%!test # too few arguments: two warnings and no file
%! movie = fullfile (folder, "none.avi");
%! lastwarn ("");
%! evalc ("clipforge (movie, 25)");
%! assert (lastwarn (), "1) avi filepath   2) fps   3)... image filepaths");
%! assert (! exist (movie, "file"));

%!test # an unusable frame rate: a warning and no file
%! movie = fullfile (folder, "bad.avi");
%! for fps = {0, -1, NaN, Inf, [], "25", 1i}
%!   lastwarn ("");
%!   evalc ("clipforge (movie, fps{1}, files{1})");
%!   assert (lastwarn (), "The frame rate (argument 2) must be a positive, finite real number.");
%!   assert (! exist (movie, "file"));
%! end

%!test # a first image without a baseline frame header: no movie file
%! movie = fullfile (folder, "nosize.avi");
%! notjpeg = fullfile (folder, "notes.txt");
%! fid = fopen (notjpeg, "w"); fputs (fid, "not a jpeg"); fclose (fid);
%! lastwarn ("");
%! evalc ("clipforge (movie, 25, notjpeg, files{1})");
%! assert (strtrim (lastwarn ()), "Cannot find width/height of jpeg");  # its newline is kept
%! assert (! exist (movie, "file"));

%!test # a movie path that names an image, or a character matrix: nothing is written
%! photo = files{2};
%! before = read_bytes (photo);
%! lastwarn ("");
%! evalc ("clipforge (photo, 25, photo)");
%! assert (lastwarn (), "The movie path names the same file as argument 3 (an image): nothing is written, so the image is kept.");
%! assert (read_bytes (photo), before);
%! paths = [fullfile(folder, "ab.avi"); fullfile(folder, "cd.avi")];
%! evalc ("clipforge (paths, 25, files{1})");
%! assert (lastwarn (), "Argument 1 (avi filepath) must be one row of characters, not a character matrix.");
%! assert (numel (dir (fullfile (folder, "*.avi"))), 1);  # only movie.avi of the first test

%!test # paths given as columns are the rows they spell; a missing first image warns
%! movie = fullfile (folder, "column.avi");
%! lastwarn ("");
%! evalc ("clipforge (movie.', 25, files{1}.')");
%! assert (lastwarn (), "");
%! assert (le32 (read_bytes (movie), 48), 1);
%! assert (numel (dir (fullfile (folder, "*.avi"))), 2);   # movie.avi and column.avi only
%! out = evalc ("clipforge (fullfile (folder, 'never.avi'), 25, fullfile (folder, 'missing.jpg'))");
%! [text, id] = lastwarn ();
%! assert (! isempty (strfind (out, "Cannot open file: ")));
%! assert (text, ["No movie was written: the first image cannot be opened: " fullfile(folder, "missing.jpg")]);
%! assert (id, "phasekit:clipforge:firstImageUnreadable");
%! assert (! exist (fullfile (folder, "never.avi"), "file"));
%! warning ("off", "phasekit:clipforge:firstImageUnreadable", "local");
%! lastwarn ("");
%! evalc ("clipforge (fullfile (folder, 'never.avi'), 25, fullfile (folder, 'missing.jpg'))");
%! assert (lastwarn (), "");
