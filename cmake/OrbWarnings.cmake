# Warnings for our own targets only; third-party headers come in as SYSTEM.
function(orb_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(ORB_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
