# Fails when a shipped program (or the platform build it links) holds a test hook, and checks
# that the test executables' platform build does hold them, so an empty symbol list cannot pass
# for a clean one. Stripped executables list no symbols; the platform archive always does.
#   cmake -DNM=nm -DSHIPPED="file;file..." -DHOOKED=archive -P check_no_test_hooks.cmake
set(hooks "InjectFailure|ClearInjectedFailures|ShouldFail|CallCount|OpenSocketCount|NetStartupCount|CountOpenSockets|CountNetStartups")

function(symbols_of file out)
  execute_process(COMMAND ${NM} -g --defined-only ${file} OUTPUT_VARIABLE listing ERROR_VARIABLE errors
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 AND NOT errors MATCHES "no symbols")
    message(FATAL_ERROR "${NM} ${file} failed: ${errors}")
  endif()
  set(${out} "${listing}" PARENT_SCOPE)
endfunction()

symbols_of(${HOOKED} listing)
if(NOT listing MATCHES "ShouldFail")
  message(FATAL_ERROR "${HOOKED}: no test hooks found; the check itself is broken")
endif()
foreach(file ${SHIPPED})
  symbols_of(${file} listing)
  string(REGEX MATCHALL "[^\n]*(${hooks})[^\n]*" found "${listing}")
  if(found)
    list(JOIN found "\n  " lines)
    message(FATAL_ERROR "${file} carries test hooks:\n  ${lines}")
  endif()
  message(STATUS "${file}: no test hooks")
endforeach()
