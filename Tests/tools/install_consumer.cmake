# Installs the build into a fresh prefix, checks what landed there, then builds the consumer once
# with pkg-config and once with find_package and compares the text each extracts from a sample.
# Arguments: BUILD_DIR VERSION WORK_DIR CONSUMER_DIR SAMPLE EXPECTED CC GENERATOR.

include(${CMAKE_CURRENT_LIST_DIR}/../cmake/run_checked.cmake)

function(expect_same_text produced)
  run_checked(${CMAKE_COMMAND} -E compare_files ${produced} ${EXPECTED})
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(PREFIX ${WORK_DIR}/prefix)
run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})

file(GLOB pc_files ${PREFIX}/lib*/pkgconfig/krm_zori2.pc ${PREFIX}/lib/*/pkgconfig/krm_zori2.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
  message(FATAL_ERROR "no single krm_zori2.pc under ${PREFIX}: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
get_filename_component(LIBDIR ${pc_dir} DIRECTORY)

string(REGEX MATCH "^[0-9]+" major ${VERSION})
foreach(lib krm_zori2 krm_host)
  foreach(link lib${lib}.so.${major} lib${lib}.so)
    if(NOT EXISTS ${LIBDIR}/lib${lib}.so.${VERSION} OR NOT IS_SYMLINK ${LIBDIR}/${link})
      message(FATAL_ERROR "missing ${LIBDIR}/lib${lib}.so.${VERSION} or its link ${link}")
    endif()
  endforeach()
endforeach()
foreach(file include/krm_zori2/krm_zori2.h include/krm_zori2/krm_host.h include/krm_zori2/krm_types.h
             bin/oasys2txt bin/oasysinfo share/man/man1/oasys2txt.1 share/man/man1/oasysinfo.1
             ${LIBDIR}/cmake/krm_zori2/krm_zori2Config.cmake)
  if(NOT EXISTS ${PREFIX}/${file} AND NOT EXISTS ${file})
    message(FATAL_ERROR "missing ${file}")
  endif()
endforeach()
# Every installed place that names the version names the project's.
foreach(page oasys2txt oasysinfo)
  file(STRINGS ${PREFIX}/share/man/man1/${page}.1 title LIMIT_COUNT 1)
  if(NOT title MATCHES "\"krm_zori2 ${VERSION}\"")
    message(FATAL_ERROR "man page ${page}.1 does not name version ${VERSION}: ${title}")
  endif()
endforeach()
if(EXISTS ${PREFIX}/include/krm_zori2/krm_host_testing.h)
  message(FATAL_ERROR "the testing header must not be installed")
endif()

# 1. pkg-config
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs krm_zori2 RESULT_VARIABLE rc OUTPUT_VARIABLE flags
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know krm_zori2")
endif()
execute_process(COMMAND pkg-config --modversion krm_zori2 OUTPUT_VARIABLE pc_version
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT pc_version STREQUAL VERSION)
  message(FATAL_ERROR "pkg-config gives version ${pc_version}, not ${VERSION}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run_checked(${CC} ${CONSUMER_DIR}/consumer.c ${flags} -o ${WORK_DIR}/consumer_pc)
set(ENV{LD_LIBRARY_PATH} ${LIBDIR})
run_checked(${WORK_DIR}/consumer_pc ${SAMPLE} ${WORK_DIR}/pc.txt)
expect_same_text(${WORK_DIR}/pc.txt)

# 2. find_package
unset(ENV{LD_LIBRARY_PATH})
run_checked(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer_build -G ${GENERATOR}
            -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_C_COMPILER=${CC})
run_checked(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer_build)
run_checked(${WORK_DIR}/consumer_build/consumer ${SAMPLE} ${WORK_DIR}/cmake.txt)
expect_same_text(${WORK_DIR}/cmake.txt)

# 3. the installed tool finds its libraries by itself
run_checked(${PREFIX}/bin/oasys2txt ${SAMPLE} ${WORK_DIR}/tool.txt)
expect_same_text(${WORK_DIR}/tool.txt)
message(STATUS "install into ${PREFIX} and both consumers: fine")
