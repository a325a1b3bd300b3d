# SPDX-License-Identifier: MIT
# Installation: the library, its class headers, the platform headers a host needs, a CMake
# package and a pkg-config file. Each file belongs to a component, which the release packages
# (cmake/Package.cmake) follow: runtime (what a host's users need), dev (what a host's build
# needs), tool (the capture tool and, on Windows, the virtual devices). Whatever was built is
# installed: the library and its platform layer always come with a build (everything links
# them), while the tool and the GStreamer plugin are installed OPTIONAL, so that a build of
# one target (--target vmcapture) installs without the other.
include(CMakePackageConfigHelpers)

set(VMC_INSTALL_TARGETS VornMediaCapture)
if(TARGET VornPlatform)
    list(APPEND VMC_INSTALL_TARGETS VornPlatform)
endif()

if(NOT WIN32)
    # The installed library finds the platform layer beside itself, wherever the prefix is. Both
    # shared libraries carry a versioned name, so a host binds to the interface it was built with.
    set_target_properties(VornMediaCapture PROPERTIES INSTALL_RPATH "$ORIGIN")
    set_target_properties(${VMC_INSTALL_TARGETS} PROPERTIES
        VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

install(TARGETS ${VMC_INSTALL_TARGETS} EXPORT VornMediaCaptureTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/VornMediaCapture COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/platform/include/vornplatform.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/VornMediaCapture COMPONENT dev)
if(NOT WIN32)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/include/vorn
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/VornMediaCapture COMPONENT dev)
endif()

install(EXPORT VornMediaCaptureTargets NAMESPACE VornMediaCapture::
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VornMediaCapture COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VornMediaCaptureConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/VornMediaCaptureConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VornMediaCapture)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VornMediaCaptureConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VornMediaCaptureConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/VornMediaCaptureConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VornMediaCapture COMPONENT dev)

if(WIN32)
    # The import library by its file name: "-lVornMediaCapture" is not searched for it when a
    # host links with -static.
    set(VMC_PC_LIBS "-l:$<TARGET_LINKER_FILE_NAME:VornMediaCapture> -lole32 -loleaut32 -luuid -lstrmiids -lgdi32 -luser32")
else()
    set(VMC_PC_LIBS "-lVornMediaCapture -lvornplatform -lpthread")
endif()
# The pkg-config file names its prefix relative to its own folder, so that an installation
# works wherever it is put (cmake --install --prefix, DESTDIR, a moved folder).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(VMC_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
    file(RELATIVE_PATH VMC_PC_UP "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
    string(REGEX REPLACE "/$" "" VMC_PC_UP "${VMC_PC_UP}")
    set(VMC_PC_PREFIX "\${pcfiledir}/${VMC_PC_UP}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vornmediacapture.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/vornmediacapture.pc.configured @ONLY)
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/vornmediacapture.pc
    INPUT ${CMAKE_CURRENT_BINARY_DIR}/vornmediacapture.pc.configured)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vornmediacapture.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
