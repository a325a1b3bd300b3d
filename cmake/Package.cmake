# SPDX-License-Identifier: MIT
# Release packages made by CPack from the install rules (cmake/Install.cmake and the tools):
#   Windows builds: one ZIP per architecture, everything in it (cpack -G ZIP)
#   other systems:  Debian packages, one per install component (cpack -G DEB)
#     libvornmediacapture<major>   the shared libraries (component runtime)
#     libvornmediacapture-dev      headers, CMake package, pkg-config file (component dev)
#     vmcapture                    the capture tool (component tool)
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
foreach(component runtime dev tool)
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
