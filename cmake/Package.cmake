# SPDX-License-Identifier: MIT
# Release packages made by CPack from the install rules (cmake/Install.cmake and the tools):
#   Windows builds: one ZIP per architecture, everything in it (cpack -G ZIP)
#   other systems:  Debian packages, one per install component (cpack -G DEB)
#     libvornmediacapture<major>   the shared libraries (component runtime)
#     libvornmediacapture-dev      headers, CMake package, pkg-config file (component dev)
#     vmcapture                    the capture tool (component tool)
#     python3-vorncapture          the Python package, where the build has it (component pydist)
# Run from a build folder: cpack --config CPackConfig.cmake -B <output folder>.
set(CPACK_PACKAGE_NAME VornMediaCapture)
set(CPACK_PACKAGE_VENDOR "VornMediaCapture developers")
set(CPACK_PACKAGE_CONTACT "VornMediaCapture developers <vornmediacapture@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL runtime dev tool)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(VMC_PACKAGE_ARCH x86_64)
    else()
        set(VMC_PACKAGE_ARCH i686)
    endif()
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Media capture from video and audio inputs, the desktop and windows")
    set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
    set(CPACK_PACKAGE_FILE_NAME VornMediaCapture-${PROJECT_VERSION}-windows-${VMC_PACKAGE_ARCH})
    # What a Windows developer reads first, at the top of the archive, with the licence and
    # the documents the README links to.
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        ${PROJECT_SOURCE_DIR}/cmake/VornVirtualDevices.txt DESTINATION . COMPONENT tool)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs COMPONENT tool
        FILES_MATCHING PATTERN "*.md")
    include(CPack)
    return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(VMC_DEB_runtime libvornmediacapture${PROJECT_VERSION_MAJOR})
set(VMC_DEB_dev libvornmediacapture-dev)
set(VMC_DEB_tool vmcapture)
set(VMC_DEB_COMPONENTS runtime dev tool)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${VMC_DEB_runtime})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# Descriptions: the synopsis, then the lines of the long description; CPack indents them and
# marks the empty line between paragraphs.
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "media capture library for host applications
VornMediaCapture lists capture sources (video and audio inputs, the desktop,
top-level windows), opens one and delivers raw media: 24-bit RGB frames and
PCM audio, pushed to a callback, pulled per call or queued by a worker thread.

This package holds the shared libraries.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${VMC_DEB_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "media capture library for host applications (development files)
VornMediaCapture lists capture sources and delivers raw media from them.

This package holds the headers, the CMake package and the pkg-config file.")
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${VMC_DEB_tool})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION video)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "command-line capture tool of VornMediaCapture
vmcapture lists capture sources and records them: the desktop, windows and
cameras to Y4M or BMP files, microphones to WAV.")
# Debian's packages install under /usr (CPack's default, named for the Python package's scripts).
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
if(VMC_WITH_PYTHON)
    set(VMC_DEB_pydist python3-vorncapture)
    set(VMC_DEB_PY_DIR ${CPACK_PACKAGING_INSTALL_PREFIX}/lib/python3/dist-packages/vorncapture)
    list(APPEND VMC_DEB_COMPONENTS pydist)
    list(APPEND CPACK_COMPONENTS_ALL pydist)
    set(CPACK_DEBIAN_PYDIST_PACKAGE_NAME ${VMC_DEB_pydist})
    set(CPACK_DEBIAN_PYDIST_PACKAGE_SECTION python)
    # The native module is built for one version of the interpreter (its file name says which)
    # and imports NumPy; the libraries come from the component's dependency on runtime.
    math(EXPR VMC_PY_NEXT_MINOR "${Python3_VERSION_MINOR} + 1")
    set(CPACK_DEBIAN_PYDIST_PACKAGE_DEPENDS
        "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), python3 (<< ${Python3_VERSION_MAJOR}.${VMC_PY_NEXT_MINOR}), python3-numpy")
    set(CPACK_DEBIAN_PYDIST_DESCRIPTION "Python package of VornMediaCapture
vorncapture gives Python the screen, windows, cameras and microphones as
NumPy frames and audio blocks, with one API and one clock per source.")
    # Byte-code as Debian's Python packages have it: compiled when the package is configured,
    # and removed (with whatever an interpreter wrote beside the files) before it goes, so that
    # removal leaves no folder behind.
    set(dir ${CMAKE_BINARY_DIR}/debian-control/${VMC_DEB_pydist})
    file(WRITE ${dir}/postinst "#!/bin/sh\nset -e\n"
        "if [ \"$1\" = configure ] && command -v py3compile >/dev/null 2>&1; then\n"
        "    py3compile -p ${VMC_DEB_pydist}\n"
        "fi\n")
    file(WRITE ${dir}/prerm "#!/bin/sh\nset -e\n"
        "if command -v py3clean >/dev/null 2>&1; then\n"
        "    py3clean -p ${VMC_DEB_pydist}\n"
        "else\n"
        "    rm -rf ${VMC_DEB_PY_DIR}/__pycache__\n"
        "fi\n")
    set(CPACK_DEBIAN_PYDIST_PACKAGE_CONTROL_EXTRA ${dir}/postinst ${dir}/prerm)
endif()
# Dependencies on system libraries from dpkg-shlibdeps; a shlibs file (and the ldconfig
# trigger) for the package that holds shared libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The linker cache is refreshed by dpkg's trigger, as Debian asks (CPack's own maintainer scripts
# call ldconfig besides, which is harmless).
file(WRITE ${CMAKE_BINARY_DIR}/debian-control/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian-control/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The tool's own library is found in the build, where no package owns it; the dependency on
# it comes from the component's dependency below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})

# Each package carries its copyright file and changelog in its documentation folder, as
# Debian's policy asks; a plain installation leaves them out.
string(TIMESTAMP VMC_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(component ${VMC_DEB_COMPONENTS})
    set(pkg ${VMC_DEB_${component}})
    set(dir ${CMAKE_BINARY_DIR}/debian-doc/${pkg})
    file(MAKE_DIRECTORY ${dir})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/debian-copyright ${dir}/copyright COPYONLY)
    file(WRITE ${dir}/changelog.Debian
        "${pkg} (${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}) unstable; urgency=medium\n\n"
        "  * Release ${PROJECT_VERSION}.\n\n"
        " -- ${CPACK_PACKAGE_CONTACT}  ${VMC_DEB_DATE}\n")
    execute_process(COMMAND gzip -9nf ${dir}/changelog.Debian RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "gzip could not compress ${dir}/changelog.Debian")
    endif()
    install(FILES ${dir}/copyright ${dir}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${pkg} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${VMC_DEB_dev} COMPONENT dev EXCLUDE_FROM_ALL)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${VMC_DEB_dev}/docs
    COMPONENT dev EXCLUDE_FROM_ALL FILES_MATCHING PATTERN "*.md")

include(CPack)
cpack_add_component(runtime DISPLAY_NAME "Shared libraries")
cpack_add_component(dev DISPLAY_NAME "Development files" DEPENDS runtime)
cpack_add_component(tool DISPLAY_NAME "Capture tool" DEPENDS runtime)
if(VMC_WITH_PYTHON)
    cpack_add_component(pydist DISPLAY_NAME "Python package" DEPENDS runtime)
endif()
