# Runs as a test: install, configure and build the consumer, run it.
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${MORVI_BINARY_DIR} --prefix ${WORK_DIR}/prefix)

# The libraries export their API only: nothing of the libraries they use inside. Names are
# matched mangled, where a symbol's own namespace comes first (demangled, a template's return
# type would). Objects the dynamic linker must keep unique (type u) stay global whatever their
# visibility; Asio asks for default visibility in its own headers, so it is not checked.
file(GLOB libraries ${WORK_DIR}/prefix/lib*/libmorvi_*.so)
if(NOT libraries)
  message(FATAL_ERROR "no libraries installed under ${WORK_DIR}/prefix")
endif()
set(foreign "_Z(T[IVS]|GV)?NK?(8nlohmann|3CLI|8valijson|8simdjson)")
foreach(library IN LISTS libraries)
  run(nm -D --defined-only ${library})
  string(REGEX MATCH "[0-9a-f]+ [A-Z] ${foreign}[^\n]*" leaked "${last_output}")
  if(leaked)
    message(FATAL_ERROR "${library} exports a symbol of a library it uses inside: ${leaked}")
  endif()
endforeach()
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)
if(NOT last_output MATCHES "t1.tc passed\n<\\?xml version=\"1.0\" encoding=\"UTF-8\"\\?>\n<report job=\"job\"/>")
  message(FATAL_ERROR "unexpected consumer output: ${last_output}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
