# Every target of ours gets the same strict set; there is no list of exceptions. Warnings stop
# the build only where MERVANE_WERROR asks for it (./test and CI): another compiler version may
# warn about code this one accepts, and a user's build must not fail on that.
function(mervane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(MERVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
