# SPDX-License-Identifier: MIT
# Reads every #include of the code's folders and fails when a folder
# includes one above it, or a file that must build without Qt includes a Qt
# header. The build runs it before it compiles anything (target
# kx_layering); tests/layering shows it failing on a planted upward include.
#
#   cmake -DROOT=<source folder> [-DSTAMP=<file to touch>] -P layering.cmake
#
# Levels, from the bottom; a folder may include its own files and those of
# lower levels, never a folder of its own level or above.
cmake_minimum_required(VERSION 3.25)

set(levels
    core:0
    hid:1 grid:1 config:1 records:1
    sim:2
    station:3
    ui:4
    dialogs:5 capture:5
    app:6
    tools:7)

# Folders without Qt, and the Qt-free files of folders that also hold widgets.
set(qt_free_folders core hid config records sim station)
set(qt_free_files
    grid/grid_fixture grid/grid_layout grid/grid_model
    ui/typed_value
    dialogs/baseline_calc dialogs/change_log dialogs/raw_data_file dialogs/reading_table)

if(NOT ROOT)
    message(FATAL_ERROR "layering.cmake: ROOT is not set")
endif()

foreach(entry IN LISTS levels)
    string(REPLACE ":" ";" pair "${entry}")
    list(GET pair 0 folder)
    list(GET pair 1 level)
    set(level_${folder} ${level})
    list(APPEND folders ${folder})
endforeach()

set(faults "")
foreach(folder IN LISTS folders)
    file(GLOB files RELATIVE "${ROOT}" "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
    foreach(file IN LISTS files)
        string(REGEX REPLACE "\\.(h|cpp)$" "" stem "${file}")
        set(qt_free FALSE)
        if(folder IN_LIST qt_free_folders OR stem IN_LIST qt_free_files)
            set(qt_free TRUE)
        endif()
        file(STRINGS "${ROOT}/${file}" lines REGEX "^[ \t]*#[ \t]*include")
        foreach(line IN LISTS lines)
            if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([a-z_]+)/")
                set(to "${CMAKE_MATCH_1}")
                if(DEFINED level_${to} AND NOT to STREQUAL folder
                   AND NOT level_${to} LESS level_${folder})
                    list(APPEND faults "${file}: ${folder}/ may not include ${to}/ (${line})")
                endif()
            elseif(qt_free AND line MATCHES "^[ \t]*#[ \t]*include[ \t]*<Q")
                list(APPEND faults "${file}: builds without Qt and may not include ${line}")
            endif()
        endforeach()
    endforeach()
endforeach()

if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "Includes against the folders' layering:\n  ${text}\n"
                        "See each folder's README for what it may include.")
endif()
if(STAMP)
    file(TOUCH "${STAMP}")
endif()
