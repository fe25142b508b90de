if(VELMORANT_SANITIZE AND VELMORANT_TSAN)
  message(FATAL_ERROR "VELMORANT_SANITIZE and VELMORANT_TSAN are exclusive")
endif()
if(VELMORANT_FUZZ)
  # Everything instrumented for libFuzzer's coverage, with ASan and UBSan; only the fuzz targets
  # (tools/fuzz) link libFuzzer's main. Needs clang: scripts/fuzz.sh configures it.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VELMORANT_SANITIZE)
  # -O1, AddressSanitizer's recommended level (JUCE's recommended flags keep the code that takes
  # them at -O0): the tests run in 40 % of the time they take at -O0.
  add_compile_options(-O1 -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VELMORANT_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
