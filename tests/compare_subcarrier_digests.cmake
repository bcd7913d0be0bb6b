# Builds the subcarrier tables of every freq and phase natively and in the
# Windows build under wine, and fails unless every digest is the same. On a
# difference it shows the first pair's differing columns.
include(${CMAKE_CURRENT_LIST_DIR}/compare_builds.cmake)

require_native("${NATIVE}")
run_both("${NATIVE}" "${WINDOWS}")
if(NOT native_out STREQUAL windows_out)
  report_differences("${native_out}" "${windows_out}" 10)
  set(message "subcarrier tables differ between the builds\n${report}")
  string(REGEX MATCH "^  native: ([0-9]+) (-?[0-9]+) " first "${report}")
  if(first)
    set(freq "${CMAKE_MATCH_1}")
    set(phase "${CMAKE_MATCH_2}")
    run_both("${NATIVE};--entries;${freq};${phase}" "${WINDOWS};--entries;${freq};${phase}")
    report_differences("${native_out}" "${windows_out}" 20)
    string(APPEND message "columns (x cos sin) of freq ${freq} phase ${phase}:\n${report}")
  endif()
  message(FATAL_ERROR "${message}")
endif()
count_lines("${native_out}")
message(STATUS "${count} (freq, phase) tables are the same on both builds")
