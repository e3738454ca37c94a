function extensions = phasekit_extensions ()
% PHASEKIT_EXTENSIONS  The commands of the phasekit toolbox and how each is built:
% one row per command, with its name, its sources (relative to the folder that holds
% unwrap/, smooth/ and movie/) and whether it runs parallel loops (OpenMP).
%
%   extensions = phasekit_extensions ()   % N x 3 cell: name, sources, openmp

  extensions = {
    'phasemend', {'unwrap/phasemend.cpp', 'unwrap/pixel_reliability.cpp', ...
                  'unwrap/edge_list.cpp', 'unwrap/edge_ordering.cpp', ...
                  'unwrap/group_merging.cpp', 'unwrap/unwrapped_result.cpp'}, true;
    'kernsmooth_c', {'smooth/kernsmooth_c.cpp', 'smooth/kernel_filter.cpp'}, true;
    'clipforge', {'movie/clipforge.cpp', 'movie/avi_writer.cpp', 'movie/jpeg_probe.cpp'}, false;
  };
end
