# Fails when any C++ source of the project differs from what clang-format makes of it.
file(GLOB_RECURSE sources ${SOURCE_DIR}/ixkit/*.cc ${SOURCE_DIR}/ixkit/*.h
     ${SOURCE_DIR}/rtcore/*.cc ${SOURCE_DIR}/rtcore/*.h ${SOURCE_DIR}/kelvra/*.cc
     ${SOURCE_DIR}/kelvra/*.h ${SOURCE_DIR}/tests/*.cc ${SOURCE_DIR}/tests/*.h
     ${SOURCE_DIR}/bench/*.cc ${SOURCE_DIR}/bench/*.h ${SOURCE_DIR}/fuzz/*.cc
     ${SOURCE_DIR}/fuzz/*.h)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${sources}
                RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "unformatted code (run clang-format -i):\n${errors}")
endif()
