# Runs `cmake --install` of the build into a staging folder (DESTDIR) and
# checks that the program, the udev rule, the menu entry and the icon land
# where a station needs them.
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
        "${PREFIX}/share/icons/hicolor/64x64/apps/kaldrixplus.png")
    if(NOT EXISTS "${STAGE}${file}")
        message(FATAL_ERROR "not installed: ${file}\n${output}")
    endif()
endforeach()
execute_process(COMMAND test -x "${STAGE}${PREFIX}/bin/kaldrixplus" RESULT_VARIABLE notExecutable)
if(notExecutable)
    message(FATAL_ERROR "the program is not executable")
endif()
message(STATUS "installed: program, udev rule, menu entry, icon")
