# Warnings for the project's own targets (not for JUCE's module sources).
add_library(velmorant_warnings INTERFACE)
target_compile_options(velmorant_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Woverloaded-virtual -Wnull-dereference -Wdouble-promotion -Wformat=2)
# Summation order matters in the engine: never let the compiler reassociate.
add_compile_options(-fno-fast-math)
