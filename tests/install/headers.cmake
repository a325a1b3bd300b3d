# SPDX-License-Identifier: MIT
# Lists every header that an installation of VornMediaCapture offers a host, so that the host
# build compiles each of them (all together, and each one alone in its own source file).
#
# Input:  INCLUDE_DIR (the installed include folder), OUTPUT_DIR.
# Output: OUTPUT_DIR/vmc_all_headers.h including them all, OUTPUT_DIR/each/<header>.cpp
#         including one each, and VMC_EACH_SOURCES (the list of those sources).
# Works both through include() and as a script: cmake -DINCLUDE_DIR=.. -DOUTPUT_DIR=.. -P headers.cmake
cmake_policy(VERSION 3.20)
if(NOT IS_DIRECTORY "${INCLUDE_DIR}")
    message(FATAL_ERROR "No installed include folder at '${INCLUDE_DIR}'")
endif()

# The class and interface headers at the top, and the control API where the platform layer is ours.
file(GLOB VMC_HEADERS RELATIVE "${INCLUDE_DIR}" "${INCLUDE_DIR}/*.h" "${INCLUDE_DIR}/vorn/control/*.h")
list(SORT VMC_HEADERS)
if(NOT "tqzlocker.h" IN_LIST VMC_HEADERS)
    message(FATAL_ERROR "The installation at '${INCLUDE_DIR}' lacks the class headers (no tqzlocker.h)")
endif()

set(all "// Generated from the installed headers: every one of them.\n#pragma once\n")
set(VMC_EACH_SOURCES)
file(GLOB stale "${OUTPUT_DIR}/each/*.cpp")
foreach(h IN LISTS VMC_HEADERS)
    string(APPEND all "#include \"${h}\"\n")
    string(MAKE_C_IDENTIFIER "${h}" id)
    set(src "${OUTPUT_DIR}/each/${id}.cpp")
    file(CONFIGURE OUTPUT "${src}" CONTENT "#include \"${h}\"\n")
    list(APPEND VMC_EACH_SOURCES "${src}")
    list(REMOVE_ITEM stale "${src}")
endforeach()
if(stale)
    file(REMOVE ${stale})
endif()
file(CONFIGURE OUTPUT "${OUTPUT_DIR}/vmc_all_headers.h" CONTENT "${all}")
list(LENGTH VMC_HEADERS count)
message(STATUS "Installed headers compiled by the host: ${count}")
