# SPDX-License-Identifier: MIT
# Every source file of the station carries its licence line at the top.
cmake_minimum_required(VERSION 3.25)

set(folders core hid grid config sim station ui dialogs capture app tools tests bench resources)
set(missing "")
foreach(folder IN LISTS folders)
    file(GLOB_RECURSE files RELATIVE "${ROOT}" "${ROOT}/${folder}/*.cpp" "${ROOT}/${folder}/*.h"
         "${ROOT}/${folder}/*.sh" "${ROOT}/${folder}/*.cmake" "${ROOT}/${folder}/CMakeLists.txt")
    foreach(file IN LISTS files)
        file(STRINGS "${ROOT}/${file}" head LIMIT_COUNT 2)
        if(NOT head MATCHES "SPDX-License-Identifier: MIT")
            list(APPEND missing "${file}")
        endif()
    endforeach()
endforeach()
if(missing)
    list(JOIN missing "\n  " text)
    message(FATAL_ERROR "Without the SPDX line at the top:\n  ${text}")
endif()
