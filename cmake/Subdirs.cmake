# Folders that only belong to the Linux build: the model data and image generators (their output is
# platform-independent and comes from the Linux build), the fuzzer, the benchmarks and the tests of
# the generator and of the scripts. The Windows cross build leaves them out (and of tests/editor
# builds only the editor test that runs under Wine's X11 driver).
set(VELMORANT_LINUX_ONLY_DIRS bench tools/modelgen tools/imagegen tools/fuzz tests/modelgen tests/scripts)
# Folders that no test runs: the sanitizer build, made for its tests, leaves them out.
set(VELMORANT_UNTESTED_DIRS bench tools/imagegen)

# velmorant_add_subdir(dir): adds dir (relative to the current folder) when it has a CMakeLists.txt
# and belongs to the platform being built.
function(velmorant_add_subdir dir)
  set(full "${CMAKE_CURRENT_SOURCE_DIR}/${dir}")
  file(RELATIVE_PATH fromRoot "${CMAKE_SOURCE_DIR}" "${full}")
  if((WIN32 AND fromRoot IN_LIST VELMORANT_LINUX_ONLY_DIRS) OR
     (VELMORANT_SANITIZE AND fromRoot IN_LIST VELMORANT_UNTESTED_DIRS))
    return()
  endif()
  if(IS_DIRECTORY "${full}" AND EXISTS "${full}/CMakeLists.txt")
    add_subdirectory(${dir})
  endif()
endfunction()

# velmorant_add_subdirs(): adds every direct subfolder that has a CMakeLists.txt, so that each
# tool, test area and component can be owned and grown on its own.
function(velmorant_add_subdirs)
  file(GLOB children LIST_DIRECTORIES true RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}/*")
  list(SORT children)
  foreach(child IN LISTS children)
    velmorant_add_subdir(${child})
  endforeach()
endfunction()
