# SPDX-License-Identifier: MIT
# Runs the layering check on small trees that each break one rule and
# expects it to fail naming the file; then on a tree that keeps every rule
# and expects it to pass.
cmake_minimum_required(VERSION 3.25)

function(check name file text expect_fault)
    set(root "${WORK}/${name}")
    file(REMOVE_RECURSE "${root}")
    file(WRITE "${root}/${file}" "${text}\n")
    execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${root} -P ${SCRIPT}
                    RESULT_VARIABLE result ERROR_VARIABLE output)
    if(expect_fault)
        if(result EQUAL 0 OR NOT output MATCHES "${file}")
            message(FATAL_ERROR "${name}: the check let ${file} through:\n${output}")
        endif()
    elseif(NOT result EQUAL 0)
        message(FATAL_ERROR "${name}: the check refused a good tree:\n${output}")
    endif()
endfunction()

check(upward hid/board.h "#include \"station/station_core.h\"" TRUE)
check(peer dialogs/x.cpp "#include \"capture/dialog_cap_view.h\"" TRUE)
check(qt_in_core station/y.cpp "#include <QString>" TRUE)
check(qt_in_model grid/grid_model.h "  #  include <QObject>" TRUE)
check(downward app/z.cpp "#include \"station/station_core.h\"\n#include <QWidget>" FALSE)
check(qt_in_widget grid/color_bar.h "#include <QWidget>" FALSE)
