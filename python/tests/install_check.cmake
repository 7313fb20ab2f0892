# Installs the build into a fresh prefix and imports oasysdoc from the site folder there: the
# package and its module come from the prefix, the module finds liboasys in the prefix's library
# folder (its rpath, not the build tree's), and the sample's text is as expected.
# Arguments: BUILD_DIR WORK_DIR SITE_DIR PYTHON SAMPLE EXPECTED. (python -P: not the package of the
# current folder, which is the build tree.)
include(${CMAKE_CURRENT_LIST_DIR}/../../Tests/cmake/run_checked.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(PREFIX ${WORK_DIR}/prefix)
run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
set(ENV{PYTHONPATH} ${PREFIX}/${SITE_DIR})
unset(ENV{LD_LIBRARY_PATH})
run_checked(${PYTHON} -P -c [[
import sys, oasysdoc
prefix, sample, text = sys.argv[1:]
assert oasysdoc.__file__.startswith(prefix), oasysdoc.__file__
with oasysdoc.open(sample) as document, open(text, "wb") as out:
    out.write(document.text_bytes())
loaded = [line.split()[-1] for line in open("/proc/self/maps") if "liboasys" in line]
assert loaded and all(path.startswith(prefix) for path in loaded), loaded
]] ${PREFIX} ${SAMPLE} ${WORK_DIR}/sample.txt)
run_checked(${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/sample.txt ${EXPECTED})
