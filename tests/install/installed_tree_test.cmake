# Installs the build into a fresh prefix and checks that it works there on its own: the versioned
# libraries are in place, no program or library holds a run path into the build tree, and the
# installed drivemap loads the installed library (through $ORIGIN) to build the map of a tree.
#   cmake -DBUILD_DIR=<build> -DWORK_DIR=<scratch> -DVERSION=<x.y.z> -P installed_tree_test.cmake
cmake_minimum_required(VERSION 3.25)
string(REGEX MATCH "^[0-9]+" major "${VERSION}")
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/tree/APP)
file(WRITE ${WORK_DIR}/tree/APP/README.TXT "a file to map\n")

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} OUTPUT_QUIET
                COMMAND_ERROR_IS_FATAL ANY)

foreach(file bin/drivemap lib/libpwdvmp32.so.${major} lib/libwin32host.so.${major})
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
  file(READ_ELF ${prefix}/${file} RUNPATH runpath RPATH rpath)
  foreach(entry IN LISTS runpath rpath)
    if(NOT entry MATCHES "^\\$ORIGIN")
      message(FATAL_ERROR "${file} has a run path that is not relative to itself: ${entry}")
    endif()
  endforeach()
endforeach()

execute_process(COMMAND ${prefix}/bin/drivemap --version OUTPUT_VARIABLE version COMMAND_ERROR_IS_FATAL ANY)
if(NOT version STREQUAL "drivemap ${VERSION}\n")
  message(FATAL_ERROR "installed drivemap --version says: ${version}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH
                        ${prefix}/bin/drivemap --drive C=${WORK_DIR}/tree --state ${WORK_DIR}/state --quiet --json build
                OUTPUT_VARIABLE stats RESULT_VARIABLE status)
string(JSON files ERROR_VARIABLE error GET "${stats}" total files)
if(NOT status EQUAL 0 OR NOT files EQUAL 1)
  message(FATAL_ERROR "the installed drivemap's build failed (${status}), or mapped ${files} files: ${stats}")
endif()
