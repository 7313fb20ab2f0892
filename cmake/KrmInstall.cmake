# Install rules: both libraries with their SONAME links, the public headers under
# include/krm_zori2/, a pkg-config file and a CMake package configuration, so that other
# projects can build against an installed filter with either tool.
include(CMakePackageConfigHelpers)

set(KRM_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/krm_zori2)

install(TARGETS krm_host krm_zori2 EXPORT krm_zori2Targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/krm_zori2)

# The filter finds its host library beside itself wherever the tree is installed.
set_target_properties(krm_zori2 PROPERTIES INSTALL_RPATH "$ORIGIN")

# The failure switches of our host library are for its own tests, not for hosts.
install(FILES ${PROJECT_SOURCE_DIR}/Include/krm_types.h ${PROJECT_SOURCE_DIR}/Include/krm_host.h
              ${PROJECT_SOURCE_DIR}/Include/krm_zori2.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/krm_zori2)

install(EXPORT krm_zori2Targets NAMESPACE krm_zori2:: DESTINATION ${KRM_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/krm_zori2Config.cmake.in
                              ${PROJECT_BINARY_DIR}/krm_zori2Config.cmake
                              INSTALL_DESTINATION ${KRM_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/krm_zori2ConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/krm_zori2Config.cmake ${PROJECT_BINARY_DIR}/krm_zori2ConfigVersion.cmake
        DESTINATION ${KRM_PACKAGE_DIR})

# The pkg-config file finds the prefix from its own place, so the tree can be moved (and installed
# with cmake --install --prefix) without stale paths in it.
file(RELATIVE_PATH KRM_PC_TO_PREFIX /krm_prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /krm_prefix)
string(REGEX REPLACE "/$" "" KRM_PC_TO_PREFIX "${KRM_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/krm_zori2.pc.in ${PROJECT_BINARY_DIR}/krm_zori2.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/krm_zori2.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
