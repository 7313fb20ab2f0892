# Installs the build into a fresh prefix and builds the liboasys example against it, once with
# pkg-config (the library found at run time through the rpath given at link time) and once with
# find_package (CMake writes the rpath itself); each must write the sample's text as expected.
# Arguments: BUILD_DIR WORK_DIR EXAMPLE_DIR SAMPLE EXPECTED VERSION CC GENERATOR.

include(${CMAKE_CURRENT_LIST_DIR}/../cmake/run_checked.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(PREFIX ${WORK_DIR}/prefix)
run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
file(GLOB pc_file ${PREFIX}/lib*/pkgconfig/oasys.pc ${PREFIX}/lib/*/pkgconfig/oasys.pc)
if(NOT pc_file OR NOT EXISTS ${PREFIX}/include/oasys.h)
  message(FATAL_ERROR "oasys.pc or oasys.h missing under ${PREFIX}")
endif()
get_filename_component(pc_dir ${pc_file} DIRECTORY)

# 1. pkg-config
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs oasys OUTPUT_VARIABLE flags RESULT_VARIABLE rc
                OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND pkg-config --variable=libdir oasys OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND pkg-config --modversion oasys OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0 OR NOT version STREQUAL VERSION)
  message(FATAL_ERROR "pkg-config does not know oasys ${VERSION} (${version})")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run_checked(${CC} -std=c99 -Wall -Werror ${EXAMPLE_DIR}/oasys_example.c ${flags} -Wl,-rpath,${libdir}
            -o ${WORK_DIR}/example_pc)
run_checked(${WORK_DIR}/example_pc ${SAMPLE} ${WORK_DIR}/pc.txt)
run_checked(${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/pc.txt ${EXPECTED})

# 2. find_package
run_checked(${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${WORK_DIR}/example_build -G ${GENERATOR}
            -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_C_COMPILER=${CC})
run_checked(${CMAKE_COMMAND} --build ${WORK_DIR}/example_build)
run_checked(${WORK_DIR}/example_build/oasys_example ${SAMPLE} ${WORK_DIR}/cmake.txt)
run_checked(${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/cmake.txt ${EXPECTED})
