# SPDX-License-Identifier: MIT
# The test command's stages as CTest tests. A build folder made from a preset of
# CMakePresets.json knows its preset (VMC_STAGE_BUILD); every stage of scripts/stages/stages.list
# that runs in that build becomes the test stage.<name>, labelled "stage" and <name>:
#
#   ctest --preset asan                # every stage of the asan build
#   ctest --preset asan -L '^host$'    # one stage
#
# A stage that cannot run on the machine exits 77 and is reported as skipped, never passed.
# The Windows builds' stages share the fixture wine-prefix (scripts/fixtures/wine-prefix.sh).
set(VMC_STAGE_BUILD "" CACHE STRING
    "The preset this build folder was made from; its stages become CTest tests (none when empty)")
if(NOT VMC_STAGE_BUILD)
    return()
endif()
enable_testing()

set(_vmc_list ${PROJECT_SOURCE_DIR}/scripts/stages/stages.list)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_vmc_list})
file(READ ${_vmc_list} _vmc_text)
# Descriptions may hold ';', which a CMake list would split on.
string(REPLACE ";" "," _vmc_text "${_vmc_text}")
string(REPLACE "\n" ";" _vmc_lines "${_vmc_text}")

set(_vmc_previous "")
foreach(_vmc_line IN LISTS _vmc_lines)
    if(NOT _vmc_line MATCHES "^([^#|][^|]*)\\|([^|]*)\\|")
        continue()
    endif()
    string(STRIP "${CMAKE_MATCH_1}" _vmc_name)
    string(STRIP "${CMAKE_MATCH_2}" _vmc_build)
    if(NOT _vmc_build STREQUAL VMC_STAGE_BUILD)
        continue()
    endif()
    add_test(NAME stage.${_vmc_name}
             COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/stages/run.sh ${_vmc_name} ${CMAKE_BINARY_DIR})
    # One stage at a time (they start servers and measure under load), in the list's order.
    set_tests_properties(stage.${_vmc_name} PROPERTIES LABELS "stage;${_vmc_name}"
                         SKIP_RETURN_CODE 77 TIMEOUT 7200 RUN_SERIAL TRUE
                         DEPENDS "${_vmc_previous}")
    if(VMC_STAGE_BUILD MATCHES "^mingw")
        set_tests_properties(stage.${_vmc_name} PROPERTIES FIXTURES_REQUIRED wine-prefix)
    endif()
    set(_vmc_previous stage.${_vmc_name})
endforeach()

if(VMC_STAGE_BUILD MATCHES "^mingw")
    foreach(_vmc_action setup cleanup)
        add_test(NAME fixture.wine-prefix-${_vmc_action}
                 COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fixtures/wine-prefix.sh ${_vmc_action}
                         ${CMAKE_BINARY_DIR})
    endforeach()
    set_tests_properties(fixture.wine-prefix-setup PROPERTIES FIXTURES_SETUP wine-prefix RUN_SERIAL TRUE)
    set_tests_properties(fixture.wine-prefix-cleanup PROPERTIES FIXTURES_CLEANUP wine-prefix RUN_SERIAL TRUE)
endif()
