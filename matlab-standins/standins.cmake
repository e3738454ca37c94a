# Stand-ins of MATLAB's libmx.so, libmex.so and libut.so on Linux, for the builds that link
# extension files as MATLAB's mex does (the prebuilt files of make dist, and the
# replay of a user's mex build in the tests):
# - to link against, in matlab-standins/ of the build: libraries of MATLAB's file
#   names (and so SONAMEs, which become the extensions' NEEDED entries) holding one
#   empty function for each name the lists here export, what MATLAB's own export and
#   nothing else, so a host operation MATLAB lacks fails the link;
# - to run on, in matlab-host/: the standalone host as libmx.so (all of it: the matrix
#   operations under MATLAB's names and the host's own API), libmex.so (the message
#   operations, forwarded to it) and libut.so (the interrupt query, forwarded to it),
#   with matlab_golden_test and matlab_mexrun, which load
#   such files as MATLAB would, with matlab-host/ on LD_LIBRARY_PATH as MATLAB has its
#   own library folders.
set(STANDIN_LINK_DIR ${CMAKE_BINARY_DIR}/matlab-standins)
set(STANDIN_HOST_DIR ${CMAKE_BINARY_DIR}/matlab-host)

foreach(lib mx mex ut)
  set(list ${CMAKE_SOURCE_DIR}/matlab-standins/lib${lib}.def)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list})
  file(STRINGS ${list} lines)
  set(stub "// Made from matlab-standins/lib${lib}.def: a link-time stand-in, never run.\nextern \"C\" {\n")
  set(exports OFF)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "EXPORTS")
      set(exports ON)
    elseif(exports AND line MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
      string(APPEND stub "__attribute__((visibility(\"default\"))) void ${line}() {}\n")
    endif()
  endforeach()
  string(APPEND stub "}\n")
  file(WRITE ${STANDIN_LINK_DIR}/lib${lib}_stub.cpp "${stub}")
  add_library(lib${lib}_standin SHARED ${STANDIN_LINK_DIR}/lib${lib}_stub.cpp)
  set_target_properties(lib${lib}_standin PROPERTIES OUTPUT_NAME ${lib}
    LIBRARY_OUTPUT_DIRECTORY ${STANDIN_LINK_DIR})
endforeach()

add_library(libmx_host SHARED minihost/minihost.cpp)
set_target_properties(libmx_host PROPERTIES OUTPUT_NAME mx LIBRARY_OUTPUT_DIRECTORY ${STANDIN_HOST_DIR}
  CXX_VISIBILITY_PRESET default)
target_include_directories(libmx_host PUBLIC ${CMAKE_SOURCE_DIR}/host ${CMAKE_SOURCE_DIR}/minihost)
target_link_libraries(libmx_host PUBLIC ${CMAKE_DL_LIBS})
add_library(libmex_host SHARED matlab-standins/libmex.cpp)
set_target_properties(libmex_host PROPERTIES OUTPUT_NAME mex LIBRARY_OUTPUT_DIRECTORY ${STANDIN_HOST_DIR}
  CXX_VISIBILITY_PRESET hidden)
target_link_libraries(libmex_host PRIVATE libmx_host)
add_library(libut_host SHARED matlab-standins/libut.cpp)
set_target_properties(libut_host PROPERTIES OUTPUT_NAME ut LIBRARY_OUTPUT_DIRECTORY ${STANDIN_HOST_DIR}
  CXX_VISIBILITY_PRESET hidden)
target_link_libraries(libut_host PRIVATE libmx_host)

add_executable(matlab_golden_test tests/golden/golden_test.cpp)
target_link_libraries(matlab_golden_test PRIVATE libmx_host)
add_dependencies(matlab_golden_test libmex_host libut_host)
add_executable(matlab_mexrun minihost/mexrun.cpp minihost/npy.cpp)
target_link_libraries(matlab_mexrun PRIVATE libmx_host)
add_dependencies(matlab_mexrun libmex_host libut_host)
