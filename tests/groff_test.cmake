# groff -ww warns on standard error; any warning fails the test.
execute_process(COMMAND "${GROFF}" -ww -mandoc -Tutf8 "${PAGE}"
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE warnings)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff: ${result} ${warnings}")
endif()
