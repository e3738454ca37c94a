function post_install (desc)
  % Octave shows "help NAME" for a MEX file from the same-named m-file in the MEX
  % file's own folder, so the help files are copied next to the installed .mex files.
  mex_files = dir (fullfile (desc.archprefix, '*', 'phasemend.mex'));
  for k = 1:numel (mex_files)
    for name = {'phasemend', 'phasemend3', 'kernsmooth_c', 'clipforge'}
      copyfile (fullfile (desc.dir, [name{1} '.m']), mex_files(k).folder);
    end
  end
end
