# regbench_add_umockdev_test(name SOURCES ... LIBS ... [TIMEOUT s]): a Qt Test executable run headless under
# umockdev's preload. Run by hand without the wrapper, such a test exits 77 and CTest counts it as skipped.
include_guard(GLOBAL)

find_program(REGBENCH_UMOCKDEV_WRAPPER umockdev-wrapper REQUIRED)
if(REGBENCH_SANITIZE)
  # ASan must come first in LD_PRELOAD, which the wrapper would not do.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                  OUTPUT_VARIABLE REGBENCH_LIBASAN OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

function(regbench_add_umockdev_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test regbench_warnings ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(environment "QT_QPA_PLATFORM=offscreen")
  if(REGBENCH_SANITIZE)
    add_test(NAME ${name} COMMAND ${name})
    list(APPEND environment "LD_PRELOAD=${REGBENCH_LIBASAN}:libumockdev-preload.so.0")
  else()
    add_test(NAME ${name} COMMAND ${REGBENCH_UMOCKDEV_WRAPPER} $<TARGET_FILE:${name}>)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT ${T_TIMEOUT}
                                          SKIP_RETURN_CODE 77)
endfunction()
