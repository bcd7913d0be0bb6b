# Helpers for checks that run a program natively and its Windows build under
# wine and compare what the two print.

function(require_native program)
  if(NOT EXISTS "${program}")
    message(FATAL_ERROR "native program ${program} is missing: build the default preset first")
  endif()
endfunction()

# Runs both command lines (lists: program then arguments); sets native_out and
# windows_out, with the Windows line ends made plain.
function(run_both native_command windows_command)
  execute_process(COMMAND ${native_command} OUTPUT_VARIABLE native_out RESULT_VARIABLE native_rc)
  execute_process(COMMAND wine ${windows_command} OUTPUT_VARIABLE windows_out
    ERROR_VARIABLE windows_err RESULT_VARIABLE windows_rc)
  if(NOT native_rc EQUAL 0)
    message(FATAL_ERROR "native run '${native_command}' failed (${native_rc})")
  endif()
  if(NOT windows_rc EQUAL 0)
    message(FATAL_ERROR "'${windows_command}' under wine failed (${windows_rc}): ${windows_err}")
  endif()
  string(REPLACE "\r" "" windows_out "${windows_out}")
  set(native_out "${native_out}" PARENT_SCOPE)
  set(windows_out "${windows_out}" PARENT_SCOPE)
endfunction()

# The differing lines of both outputs side by side, up to `limit` of them.
function(report_differences native windows limit)
  string(REGEX MATCHALL "[^\n]+" native_lines "${native}")
  string(REGEX MATCHALL "[^\n]+" windows_lines "${windows}")
  set(report "")
  set(count 0)
  foreach(pair IN ZIP_LISTS native_lines windows_lines)
    if(NOT "${pair_0}" STREQUAL "${pair_1}")
      string(APPEND report "  native: ${pair_0}    windows: ${pair_1}\n")
      math(EXPR count "${count} + 1")
      if(count EQUAL limit)
        break()
      endif()
    endif()
  endforeach()
  set(report "${report}" PARENT_SCOPE)
endfunction()

function(count_lines text)
  string(REGEX MATCHALL "\n" lines "${text}")
  list(LENGTH lines count)
  set(count ${count} PARENT_SCOPE)
endfunction()
