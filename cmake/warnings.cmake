# Every target of ours gets the same strict set; there is no list of exceptions.
function(mervane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                           -Werror)
endfunction()
