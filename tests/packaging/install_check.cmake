# SPDX-License-Identifier: MIT
# Runs `cmake --install` of the build into a staging folder (DESTDIR) and
# checks that the program, the udev rule, the menu entry, the icon, the brand
# pictures and the manual pages land where a station needs them.
#   cmake -DBUILD=<build dir> -DSTAGE=<folder> -DPREFIX=<install prefix>
#         -DRULES=<udev rules dir> -P install_check.cmake
file(REMOVE_RECURSE "${STAGE}")
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE} ${CMAKE_COMMAND} --install ${BUILD}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()
foreach(file
        "${PREFIX}/bin/kaldrixplus"
        "${RULES}/70-kaldrixplus.rules"
        "${PREFIX}/share/applications/kaldrixplus.desktop"
        "${PREFIX}/share/icons/hicolor/64x64/apps/kaldrixplus.png"
        "${PREFIX}/share/kaldrixplus/brand/default.png"
        "${PREFIX}/share/man/man1/kaldrixplus.1.gz"
        "${PREFIX}/share/man/man1/kaldrix-probe.1.gz"
        "${PREFIX}/share/man/man1/kaldrix-records.1.gz")
    if(NOT EXISTS "${STAGE}${file}")
        message(FATAL_ERROR "not installed: ${file}\n${output}")
    endif()
endforeach()
# The package's own files (component deb) stay out of a plain install: a rule
# under the prefix would be one udev never reads.
foreach(file "${PREFIX}/lib/udev/rules.d/70-kaldrixplus.rules"
             "${PREFIX}/share/doc/kaldrixplus/copyright")
    if(EXISTS "${STAGE}${file}")
        message(FATAL_ERROR "installed, but only the package should: ${file}")
    endif()
endforeach()
execute_process(COMMAND test -x "${STAGE}${PREFIX}/bin/kaldrixplus" RESULT_VARIABLE notExecutable)
if(notExecutable)
    message(FATAL_ERROR "the program is not executable")
endif()
message(STATUS "installed: program, udev rule, menu entry, icon, pictures, manual pages")
