# SPDX-License-Identifier: MIT
# Run by cpack after the install step: CPack strips with a plain `strip`,
# which keeps the compiler's .comment section; Debian's own packaging drops
# it, as this does.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program ${programs})
    execute_process(COMMAND objcopy --remove-section=.comment "${program}"
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "objcopy --remove-section=.comment ${program} failed")
    endif()
endforeach()
