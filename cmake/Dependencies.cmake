# Third-party libraries that are not JUCE, as one target each, so that the Linux build and the
# MinGW-w64 cross build differ only here.
find_package(Threads REQUIRED)

if(WIN32)
  # Windows binaries import only system DLLs: the C and C++ runtimes, winpthreads and zlib are
  # linked in statically.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

if(WIN32)
  # gmm++ is header-only, so Debian's headers serve the cross build too, seen through a folder that
  # exposes nothing else of the Linux /usr/include.
  set(VELMORANT_GMM_INCLUDE "${CMAKE_BINARY_DIR}/gmm-include")
  file(MAKE_DIRECTORY "${VELMORANT_GMM_INCLUDE}")
  file(CREATE_LINK /usr/include/gmm "${VELMORANT_GMM_INCLUDE}/gmm" SYMBOLIC)
  include_directories(SYSTEM "${VELMORANT_GMM_INCLUDE}")
endif()

add_library(velmorant_fann INTERFACE)
if(WIN32)
  # Static FANN float variant built from Debian's source package by scripts/build-windows-deps.sh.
  find_library(VELMORANT_FANN_LIBRARY NAMES libfloatfann.a floatfann REQUIRED)
  find_path(VELMORANT_FANN_INCLUDE floatfann.h REQUIRED)
  # SYSTEM, as /usr/include is on Linux: FANN's own headers are not held to the project's warnings.
  target_include_directories(velmorant_fann SYSTEM INTERFACE "${VELMORANT_FANN_INCLUDE}")
  target_link_libraries(velmorant_fann INTERFACE "${VELMORANT_FANN_LIBRARY}")
else()
  target_link_libraries(velmorant_fann INTERFACE floatfann m)
endif()
