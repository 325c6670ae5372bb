# Packs the Windows zip into OUT, checks that it holds korvella.exe and the README
# and nothing else, and runs the packed program (with RUN, the emulator, its
# parts separated by "|"): without a DLL beside it, it must start and print its
# banner and usage line.
file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND "${CPACK}" --config "${BUILD_DIR}/CPackConfig.cmake" -B "${OUT}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${result}")
endif()
set(top korvella-${VERSION}-win64)
if(NOT EXISTS "${OUT}/${top}.zip")
  file(GLOB made "${OUT}/*")
  message(FATAL_ERROR "no ${top}.zip, but: ${made}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${top}.zip" WORKING_DIRECTORY "${OUT}"
                OUTPUT_VARIABLE listing)
string(REPLACE "\n" ";" listing "${listing}")
list(REMOVE_ITEM listing "")
list(SORT listing)
if(NOT listing STREQUAL "${top}/README.md;${top}/korvella.exe")
  message(FATAL_ERROR "the zip holds: ${listing}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${top}.zip" WORKING_DIRECTORY "${OUT}")
string(REPLACE "|" ";" run "${RUN}")
execute_process(COMMAND ${run} "${OUT}/${top}/korvella.exe" RESULT_VARIABLE status
                OUTPUT_VARIABLE output)
# CMake folds CR LF into LF when it captures output; the bytes are checked elsewhere.
string(REPLACE "\r" "" output "${output}")
set(expected "korvella 1.0 - measures how alike two files are\nUsage: korvella.exe <file1> <file2>\n")
if(NOT status EQUAL 1 OR NOT output STREQUAL expected)
  message(FATAL_ERROR "packed korvella.exe: status ${status}, output '${output}'")
endif()
file(REMOVE_RECURSE "${OUT}")
