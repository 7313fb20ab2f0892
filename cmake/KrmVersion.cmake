# Everything that shows the version is made from the project's version at configure time: the
# version header (KRM_VERSION and the filter's version text; targets that show the version link
# krm_version) and the man pages, whose first line names the version. KRM_MAN_PAGES lists the
# configured pages for installation.
configure_file(${CMAKE_CURRENT_LIST_DIR}/krm_version.h.in ${PROJECT_BINARY_DIR}/generated/krm_version.h @ONLY)
add_library(krm_version INTERFACE)
target_include_directories(krm_version INTERFACE $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated>)

set(KRM_MAN_PAGES "")
foreach(page oasys2txt.1 oasysinfo.1)
  configure_file(${PROJECT_SOURCE_DIR}/doc/${page} ${PROJECT_BINARY_DIR}/doc/${page} @ONLY)
  list(APPEND KRM_MAN_PAGES ${PROJECT_BINARY_DIR}/doc/${page})
endforeach()
