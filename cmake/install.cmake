# What `cmake --install` puts in place: libappbridge.so with its shared-object version, the headers
# of its C interface that an agent or another caller compiles against (include/appbridge: the
# types and attribute-list utilities in zpaapi.h, every entry point in be_zpaapi.h), the
# watcher p_orvoebs (its rule stands beside the program in the top file), and the package files:
# find_package(appbridge) gives the target appbridge::appbridge, pkg-config the module appbridge.
#
# The stand-ins of platform/ are not installed. The library needs the OCI client (libclntsh.so)
# and the string-encryption library (liborvsecure.so), besides Expat and libcrypto; on a real
# machine the installation provides the first two (the OCI client usually through
# LD_LIBRARY_PATH), and the dynamic linker finds them when the library is linked and loaded. A
# consumer links libappbridge alone.
include(CMakePackageConfigHelpers)

set(APPBRIDGE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/appbridge)
set(APPBRIDGE_INTERFACE_HEADERS osunix/src/cmpltfrm.h common/src/zpalist.h zpaapi/src/zpaapi.h be_duz/src/be_zpaapi.h)
list(TRANSFORM APPBRIDGE_INTERFACE_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/)

install(TARGETS appbridge EXPORT appbridgeTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${APPBRIDGE_INTERFACE_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/appbridge)

install(EXPORT appbridgeTargets NAMESPACE appbridge:: DESTINATION ${APPBRIDGE_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/appbridgeConfig.cmake.in
    ${PROJECT_BINARY_DIR}/appbridgeConfig.cmake INSTALL_DESTINATION ${APPBRIDGE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/appbridgeConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/appbridgeConfig.cmake ${PROJECT_BINARY_DIR}/appbridgeConfigVersion.cmake
        DESTINATION ${APPBRIDGE_CMAKE_DIR})

# The pkg-config file finds its prefix from its own folder, so an install moved elsewhere
# (`cmake --install --prefix`) stays usable.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  message(FATAL_ERROR "CMAKE_INSTALL_LIBDIR and CMAKE_INSTALL_INCLUDEDIR must be relative to the prefix")
endif()
file(RELATIVE_PATH APPBRIDGE_PC_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" APPBRIDGE_PC_PREFIX "${APPBRIDGE_PC_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/appbridge.pc.in ${PROJECT_BINARY_DIR}/appbridge.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/appbridge.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
