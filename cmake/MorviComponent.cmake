# One shared library per component folder, exported as morvi::<NAME>.
#
#   morvi_component(NAME results SOURCES src/a.cpp ... PUBLIC_DEPS morvi::datastructures
#                   PRIVATE_DEPS LibXml2::LibXml2)
#
# The folder's include/ directory is the public header root; it is installed as is.
function(morvi_component)
  cmake_parse_arguments(C "" "NAME" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  if(NOT C_SOURCES)
    message(STATUS "morvi: component ${C_NAME} has no sources yet; skipped")
    return()
  endif()
  set(target morvi_${C_NAME})
  add_library(${target} SHARED ${C_SOURCES})
  add_library(morvi::${C_NAME} ALIAS ${target})
  # Only what the public headers declare is exported: they open a default-visibility region,
  # and everything else (the src/ headers, third-party templates) stays inside the library.
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${C_NAME} OUTPUT_NAME morvi_${C_NAME}
    CXX_VISIBILITY_PRESET hidden)
  # Calls between the library's own source files go straight to the function, not through the
  # PLT (the compile side of this is -fno-semantic-interposition).
  target_link_options(${target} PRIVATE -Wl,-Bsymbolic-functions)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${target} PUBLIC ${C_PUBLIC_DEPS} PRIVATE ${C_PRIVATE_DEPS})
  install(TARGETS ${target} EXPORT morvi_reporterTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endfunction()

# One GoogleTest executable per component, registered with CTest.
#
#   morvi_component_tests(NAME results SOURCES tests/a_test.cpp DEPS morvi::results)
function(morvi_component_tests)
  cmake_parse_arguments(T "" "NAME" "SOURCES;DEPS" ${ARGN})
  if(NOT MORVI_BUILD_TESTS)
    return()
  endif()
  set(target ${T_NAME}_tests)
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE ${T_DEPS} morvi::testing GTest::gtest GTest::gmock
                                          GTest::gtest_main)
  # A bound on every test: none may hang a run.
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
