# The prebuilt Linux MATLAB files of the toolbox zip, included from the top
# CMakeLists.txt when configured with -DPHASEKIT_MATLAB_LINUX=ON (make dist does):
# NAME.mexa64 for the four commands, linked as MATLAB's mex links them, against
# stand-ins of MATLAB's libraries: libmx.so, libmex.so and libut.so (matlab-standins/;
# every command asks libut whether Ctrl-C was pressed), and for
# MATLAB's OpenMP runtime libiomp5.so, GCC's libgomp under that name, so that the
# OpenMP entry points bind to the GNU interface versions (GOMP_4.0, OMP_1.0, ...) that
# Intel's runtime provides for code compiled by GCC. They need nothing else but the C
# and C++ runtimes, ask for no symbol version beyond glibc 2.17 (glibc_floor.cpp) and
# export mexFunction alone (matlab-linux/check_elf_interfaces.sh says so or fails).
# They run on the stand-ins' host (matlab-host/), with LLVM's OpenMP runtime (Intel's,
# open-sourced) there as libiomp5.so (tests/dist_check.sh).
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR NOT CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  message(FATAL_ERROR "The prebuilt MATLAB files are for Linux x86-64; build them on such a machine")
endif()
find_library(LLVM_OPENMP NAMES libomp.so.5 PATHS /usr/lib/llvm-14/lib /usr/lib/llvm-15/lib)
find_library(GNU_OPENMP NAMES libgomp.so.1)
find_program(PATCHELF patchelf)
if(NOT LLVM_OPENMP OR NOT GNU_OPENMP OR NOT PATCHELF)
  message(FATAL_ERROR "The prebuilt MATLAB files need LLVM's OpenMP runtime and patchelf "
    "as the stand-in of MATLAB's libiomp5.so (Debian: apt-get install libomp-dev patchelf)")
endif()
get_filename_component(LLVM_OPENMP_FILE ${LLVM_OPENMP} REALPATH)
get_filename_component(GNU_OPENMP_FILE ${GNU_OPENMP} REALPATH)

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(matlab-standins/standins.cmake)

# MATLAB's OpenMP runtime, renamed (its SONAME too, which is what a NEEDED entry
# records): libgomp to link against, LLVM's runtime to run on. Linked against LLVM's
# own, the entry points would bind to its default version node instead of the GNU
# ones.
foreach(pair "${STANDIN_LINK_DIR}|${GNU_OPENMP_FILE}" "${STANDIN_HOST_DIR}|${LLVM_OPENMP_FILE}")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 folder)
  list(GET pair 1 runtime)
  add_custom_command(OUTPUT ${folder}/libiomp5.so
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${CMAKE_COMMAND} -E copy ${runtime} ${folder}/libiomp5.so
    COMMAND ${PATCHELF} --set-soname libiomp5.so ${folder}/libiomp5.so
    DEPENDS ${runtime}
    COMMENT "${folder}/libiomp5.so: ${runtime} as MATLAB's OpenMP runtime" VERBATIM)
endforeach()
add_custom_target(libiomp5_standin ALL DEPENDS ${STANDIN_LINK_DIR}/libiomp5.so
  ${STANDIN_HOST_DIR}/libiomp5.so)

# mex links LDFLAGS, the objects, then the libraries, with --as-needed (Debian's and
# Ubuntu's gcc default, MATLAB's LINKLIBS too) and --no-undefined; the OpenMP code is
# compiled with -fopenmp but linked against libiomp5.so, not libgomp. No run-time
# path: MATLAB's own library folders are on its search path.
function(add_matlab_extension name)
  cmake_parse_arguments(X "OPENMP" "" "SOURCES" ${ARGN})
  add_library(${name} MODULE ${X_SOURCES} matlab-linux/glibc_floor.cpp)
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".mexa64" CXX_STANDARD 11
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} SKIP_BUILD_RPATH ON)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/host ${CMAKE_SOURCE_DIR}/unwrap
    ${CMAKE_SOURCE_DIR}/smooth ${CMAKE_SOURCE_DIR}/movie)
  target_link_options(${name} PRIVATE -pthread -Wl,--as-needed -Wl,--no-undefined
    -Wl,--version-script=${CMAKE_SOURCE_DIR}/host/mexfunction.map -Wl,--wrap=stat -Wl,--wrap=fstat)
  target_link_libraries(${name} PRIVATE libmx_standin libmex_standin libut_standin)
  if(X_OPENMP)
    target_compile_options(${name} PRIVATE -fopenmp)
    add_dependencies(${name} libiomp5_standin)
    target_link_libraries(${name} PRIVATE ${STANDIN_LINK_DIR}/libiomp5.so)
  endif()
endfunction()

add_matlab_extension(phasemend OPENMP SOURCES unwrap/phasemend.cpp ${UNWRAP_STAGE_SOURCES})
add_matlab_extension(phasemend3 OPENMP SOURCES unwrap/phasemend3.cpp ${UNWRAP_STAGE_SOURCES})
add_matlab_extension(kernsmooth_c OPENMP SOURCES smooth/kernsmooth_c.cpp ${SMOOTH_STAGE_SOURCES})
add_matlab_extension(clipforge SOURCES movie/clipforge.cpp ${MOVIE_STAGE_SOURCES})
