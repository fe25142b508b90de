# GoogleTest for the test executables, and how each executable is registered with CTest.
# Linux uses Debian's installed GoogleTest. The Windows cross build compiles the sources Debian ships
# in /usr/src/googletest with MinGW, and CTest runs the executables through Wine (the toolchain's
# CMAKE_CROSSCOMPILING_EMULATOR).
if(WIN32)
  set(VELMORANT_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's googletest package)")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory("${VELMORANT_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  foreach(lib IN ITEMS gtest gtest_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# velmorant_register_test(target [case ...]): on Linux every test case becomes its own CTest test,
# but for the cases named, which the sanitizer build leaves to the Release build (slow numerical
# checks whose code other cases run under the sanitizers). Under Wine every process start costs a
# Wine start-up, so there an executable is one CTest test that runs all its cases (and nothing runs
# under Wine at build time).
function(velmorant_register_test target)
  set(filter "")
  if(VELMORANT_SANITIZE AND ARGN)
    list(JOIN ARGN ":" cases)
    set(filter TEST_FILTER "-${cases}")
  endif()
  if(CMAKE_CROSSCOMPILING)
    # A whole executable runs in one Wine process, and the multi-threaded cases are slow there
    # (Wine's locks hand over slowly under contention): 4 to 6 minutes on 8 cores, more on 2.
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES TIMEOUT 2400)
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 ${filter} PROPERTIES TIMEOUT 600)
  endif()
endfunction()
