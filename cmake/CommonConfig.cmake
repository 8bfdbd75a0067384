# One INTERFACE target carries the warnings and defines that every module of the project uses.
add_library(vk_common INTERFACE)
target_compile_options(vk_common INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
target_compile_definitions(vk_common INTERFACE
  VK_PRODUCT_NAME="${PROJECT_PRODUCT_NAME}"
  VK_PRODUCT_VERSION="${PROJECT_VERSION}"
  VK_COPYRIGHT="${PROJECT_COPYRIGHT}")

# Sanitizer builds are selected by presets through this cache variable.
set(VK_SANITIZE "" CACHE STRING "Sanitizers to build with: address,undefined or thread")
if(VK_SANITIZE)
  add_compile_options(-fsanitize=${VK_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${VK_SANITIZE})
  if(VK_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# Fuzz targets (tests/fuzz) as libFuzzer programs, for clang; scripts/fuzz.sh builds and runs
# them. Every module is instrumented for coverage, so the fuzzer sees into the libraries.
option(VK_FUZZ "Build the fuzz targets with libFuzzer (needs clang)" OFF)
if(VK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VK_FUZZ needs clang: -DCMAKE_CXX_COMPILER=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
