# Installation: the library, its class headers, the platform headers a host needs, a CMake
# package and a pkg-config file.
include(CMakePackageConfigHelpers)

set(VMC_INSTALL_TARGETS VornMediaCapture)
if(TARGET VornPlatform)
    list(APPEND VMC_INSTALL_TARGETS VornPlatform)
endif()

install(TARGETS ${VMC_INSTALL_TARGETS} EXPORT VornMediaCaptureTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/VornMediaCapture)
install(FILES ${PROJECT_SOURCE_DIR}/platform/include/vornplatform.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/VornMediaCapture)
if(NOT WIN32)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/include/vorn
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/VornMediaCapture)
endif()

install(EXPORT VornMediaCaptureTargets NAMESPACE VornMediaCapture::
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VornMediaCapture)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VornMediaCaptureConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/VornMediaCaptureConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VornMediaCapture)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VornMediaCaptureConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VornMediaCaptureConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/VornMediaCaptureConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VornMediaCapture)

if(WIN32)
    set(VMC_PC_LIBS "-lVornMediaCapture -lole32 -loleaut32 -luuid -lstrmiids -lgdi32 -luser32")
else()
    set(VMC_PC_LIBS "-lVornMediaCapture -lvornplatform -lpthread")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vornmediacapture.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/vornmediacapture.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vornmediacapture.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
