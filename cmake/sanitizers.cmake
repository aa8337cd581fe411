# KAVIROS_SANITIZE=ON builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer; any report fails the test that caused it.
option(KAVIROS_SANITIZE "Build with ASan and UBSan" OFF)
if(KAVIROS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
