# Runs the scenarios through the DLL under wine and through the native build,
# and fails unless every digest line is the same. With DECODER, the decoder
# filter's chain scenarios instead.
include(${CMAKE_CURRENT_LIST_DIR}/compare_builds.cmake)

require_native("${NATIVE}")
if(DEFINED DECODER)
  run_both("${NATIVE}" "${HOST};${PLUGIN};--chain;${DECODER}")
else()
  run_both("${NATIVE}" "${HOST};${PLUGIN}")
endif()
if(NOT native_out STREQUAL windows_out)
  report_differences("${native_out}" "${windows_out}" 20)
  message(FATAL_ERROR "digests differ between the builds\n${report}")
endif()
count_lines("${native_out}")
message(STATUS "${count} scenarios give the same digests on both builds")
