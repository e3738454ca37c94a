# The Windows build, included from the top CMakeLists.txt when cross-building with
# MinGW-w64 (cmake/x86_64-w64-mingw32.cmake):
# - NAME.mexw64 for the four commands: DLLs that import the host operations from
#   libmx.dll, libmex.dll and libut.dll (import libraries made from the .def files, as
#   MATLAB's), export only mexFunction, and link every runtime statically (libgomp,
#   winpthread, libstdc++, libgcc), so that a MATLAB user needs no other DLL;
# - the standalone host as libmx.dll (all of it), libmex.dll (the message operations,
#   forwarded) and libut.dll (the interrupt query, forwarded), golden_test.exe and
#   mexrun.exe, which Wine runs.
set(CMAKE_POSITION_INDEPENDENT_CODE OFF)
find_program(DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)

foreach(dll libmx libmex libut)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/import/${dll}.dll.a
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/import
    COMMAND ${DLLTOOL} -d ${CMAKE_SOURCE_DIR}/matlab-standins/${dll}.def -l ${CMAKE_BINARY_DIR}/import/${dll}.dll.a
    DEPENDS ${CMAKE_SOURCE_DIR}/matlab-standins/${dll}.def
    COMMENT "Import library for ${dll}.dll" VERBATIM)
endforeach()
add_custom_target(host_import_libraries DEPENDS ${CMAKE_BINARY_DIR}/import/libmx.dll.a
  ${CMAKE_BINARY_DIR}/import/libmex.dll.a ${CMAKE_BINARY_DIR}/import/libut.dll.a)

set(RUNTIMES_STATIC -static -static-libgcc -static-libstdc++)

function(add_windows_extension name)
  cmake_parse_arguments(X "OPENMP" "" "SOURCES" ${ARGN})
  add_library(${name} MODULE ${X_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".mexw64" CXX_STANDARD 11
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/host ${CMAKE_SOURCE_DIR}/unwrap
    ${CMAKE_SOURCE_DIR}/smooth ${CMAKE_SOURCE_DIR}/movie)
  add_dependencies(${name} host_import_libraries)
  if(X_OPENMP)
    target_compile_options(${name} PRIVATE -fopenmp)
    target_link_options(${name} PRIVATE -fopenmp)
  endif()
  target_link_options(${name} PRIVATE ${RUNTIMES_STATIC} ${CMAKE_SOURCE_DIR}/windows/mexFunction.def)
  target_link_libraries(${name} PRIVATE ${CMAKE_BINARY_DIR}/import/libmx.dll.a
    ${CMAKE_BINARY_DIR}/import/libmex.dll.a ${CMAKE_BINARY_DIR}/import/libut.dll.a)
endfunction()

add_windows_extension(phasemend OPENMP SOURCES unwrap/phasemend.cpp ${UNWRAP_STAGE_SOURCES})
add_windows_extension(phasemend3 OPENMP SOURCES unwrap/phasemend3.cpp ${UNWRAP_STAGE_SOURCES})
add_windows_extension(kernsmooth_c OPENMP SOURCES smooth/kernsmooth_c.cpp ${SMOOTH_STAGE_SOURCES})
add_windows_extension(clipforge SOURCES movie/clipforge.cpp ${MOVIE_STAGE_SOURCES})

# The host: libmx.dll exports everything of minihost (the matrix operations under
# MATLAB's names and the host's own API); libmex.dll forwards the messages to it.
add_library(libmx SHARED minihost/minihost.cpp)
set_target_properties(libmx PROPERTIES PREFIX "" OUTPUT_NAME libmx CXX_VISIBILITY_PRESET default)
target_include_directories(libmx PUBLIC ${CMAKE_SOURCE_DIR}/host ${CMAKE_SOURCE_DIR}/minihost)
target_link_options(libmx PRIVATE ${RUNTIMES_STATIC} -Wl,--export-all-symbols
  -Wl,--exclude-libs,libgcc_eh.a:libgcc.a:libstdc++.a:libwinpthread.a:libmingwex.a)

add_library(libmex SHARED matlab-standins/libmex.cpp)
set_target_properties(libmex PROPERTIES PREFIX "" OUTPUT_NAME libmex)
target_link_libraries(libmex PRIVATE libmx)
target_link_options(libmex PRIVATE ${RUNTIMES_STATIC})
add_library(libut SHARED matlab-standins/libut.cpp)
set_target_properties(libut PROPERTIES PREFIX "" OUTPUT_NAME libut)
target_link_libraries(libut PRIVATE libmx)
target_link_options(libut PRIVATE ${RUNTIMES_STATIC})

# The command line runner, for Windows users without MATLAB (and for the check below).
add_executable(mexrun minihost/mexrun.cpp minihost/npy.cpp)
target_link_libraries(mexrun PRIVATE libmx)
target_link_options(mexrun PRIVATE ${RUNTIMES_STATIC})
add_dependencies(mexrun phasemend phasemend3 kernsmooth_c clipforge libmex libut)

add_executable(golden_test tests/golden/golden_test.cpp)
target_link_libraries(golden_test PRIVATE libmx)
target_link_options(golden_test PRIVATE ${RUNTIMES_STATIC})
add_dependencies(golden_test phasemend phasemend3 kernsmooth_c clipforge libmex libut)

# Under Wine, with a prefix of the build's own (made on first use), quiet.
enable_testing()
set(WINE_ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all")
add_test(NAME golden_outputs COMMAND golden_test .)
set_tests_properties(golden_outputs PROPERTIES ENVIRONMENT "${WINE_ENVIRONMENT}")
add_test(NAME mexrun_under_wine COMMAND ${CMAKE_COMMAND} -DMEXRUN=mexrun.exe
  -DDATA=${CMAKE_SOURCE_DIR}/tests/data -DOUT=mexrun_unwrapped.npy
  -P ${CMAKE_SOURCE_DIR}/windows/check_mexrun.cmake)
set_tests_properties(mexrun_under_wine PROPERTIES ENVIRONMENT "${WINE_ENVIRONMENT}")
# What each extension file imports and exports: the host's two DLLs and system DLLs
# every Windows has, and mexFunction alone.
add_test(NAME extension_imports_and_exports
  COMMAND sh ${CMAKE_SOURCE_DIR}/windows/check_dll_interfaces.sh ${CMAKE_OBJDUMP}
    phasemend.mexw64 phasemend3.mexw64 kernsmooth_c.mexw64 clipforge.mexw64)
set_property(TEST extension_imports_and_exports PROPERTY WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
