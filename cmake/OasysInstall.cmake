# Install rules of liboasys: the library with its SONAME links, oasys.h, a pkg-config file
# (oasys) and a CMake package (find_package(oasys) -> oasys::oasys). It takes its version from
# the project version, and finds the filter and the host library beside itself at run time.
include(CMakePackageConfigHelpers)

set(OASYS_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/oasys)

install(TARGETS oasys EXPORT oasysTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/Include/oasys.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT oasysTargets NAMESPACE oasys:: DESTINATION ${OASYS_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/oasysConfig.cmake.in ${PROJECT_BINARY_DIR}/oasysConfig.cmake
                              INSTALL_DESTINATION ${OASYS_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/oasysConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/oasysConfig.cmake ${PROJECT_BINARY_DIR}/oasysConfigVersion.cmake
        DESTINATION ${OASYS_PACKAGE_DIR})

# The prefix is found from the pkg-config file's own place, as for krm_zori2.pc (KRM_PC_TO_PREFIX
# comes from KrmInstall.cmake, included first).
configure_file(${CMAKE_CURRENT_LIST_DIR}/oasys.pc.in ${PROJECT_BINARY_DIR}/oasys.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/oasys.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
