# SPDX-License-Identifier: MIT
# pybind11 and Python's headers, for the package of python/: VMC_WITH_PYTHON is true where they
# are found (VMC_PYTHON AUTO) and required (ON). Not on Windows yet, and not without the capture
# layer's conversions (libyuv), which write every frame into its array.
set(VMC_WITH_PYTHON FALSE)
if(NOT WIN32 AND NOT VMC_PYTHON STREQUAL "OFF")
    find_package(Python3 COMPONENTS Interpreter Development.Module)
    if(Python3_FOUND)
        find_package(pybind11 CONFIG QUIET)
    endif()
    get_target_property(VMC_CAPTURE_DEFINITIONS VornCaptureLayer INTERFACE_COMPILE_DEFINITIONS)
    if(Python3_FOUND AND pybind11_FOUND AND "VORN_CAPTURE_HAS_CONVERT=1" IN_LIST VMC_CAPTURE_DEFINITIONS)
        set(VMC_WITH_PYTHON TRUE)
        message(STATUS "Python ${Python3_VERSION}, pybind11 ${pybind11_VERSION}: building vorncapture")
    elseif(VMC_PYTHON STREQUAL "ON")
        message(FATAL_ERROR "VMC_PYTHON is ON but Python's headers, pybind11 or libyuv were not "
                            "found (Debian: python3-dev pybind11-dev libyuv-dev)")
    else()
        message(STATUS "pybind11 or Python's headers not found: no Python package")
    endif()
endif()
