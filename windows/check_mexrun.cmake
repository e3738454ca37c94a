# check_mexrun.cmake: mexrun.exe under Wine, as a Windows user runs it: it finds
# phasemend.mexw64 beside itself, reads a .npy map and writes the unwrapped one,
# byte for byte the file the Linux build writes (tests/data/unwrapped_ramp.npy);
# an extension's error gives exit status 1 and "Error using NAME".
# Run with -DMEXRUN=... -DDATA=... -DOUT=... (cmake -P), in the build folder.
execute_process(COMMAND wine ${MEXRUN} phasemend ${DATA}/wrapped_ramp.npy 1 1 -o ${OUT}
  RESULT_VARIABLE status OUTPUT_VARIABLE printed ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "mexrun phasemend: exit status ${status}\n${printed}${errors}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${DATA}/unwrapped_ramp.npy
  RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "mexrun phasemend wrote other bytes than the Linux build")
endif()
execute_process(COMMAND wine ${MEXRUN} kernsmooth_c ${DATA}/wrapped_ramp.npy
  RESULT_VARIABLE status OUTPUT_VARIABLE printed ERROR_VARIABLE errors)
if(NOT status EQUAL 1 OR NOT errors MATCHES "Error using kernsmooth_c")
  message(FATAL_ERROR "mexrun kernsmooth_c with one argument: exit status ${status}\n${errors}")
endif()
message(STATUS "mexrun.exe: phasemend output as on Linux; an extension error gives status 1")
