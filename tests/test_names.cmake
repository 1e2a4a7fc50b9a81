# Runs as a test: every registered test name is stable from one discovery to the next, so no
# parameterised test may be named by the bytes of its parameter.
execute_process(COMMAND ${CMAKE_CTEST_COMMAND} -N WORKING_DIRECTORY ${MORVI_BINARY_DIR}
                OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "ctest -N failed")
endif()
string(REGEX MATCHALL "[^\n]*-byte object <[^\n]*" unstable "${listing}")
if(unstable)
  list(JOIN unstable "\n" lines)
  message(FATAL_ERROR "test names carry raw parameter bytes; give the parameter a PrintTo:\n${lines}")
endif()
