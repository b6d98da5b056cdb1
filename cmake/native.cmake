# Native build: the decoders compiled for this machine against a small
# stand-in for the few Windows calls they make (tools/nativewin), so they can
# run under sanitizers and libFuzzer and be measured beside their peers.
find_package(GTest REQUIRED)
find_package(PkgConfig REQUIRED)

set(QX_NATIVE_INCLUDES ${CMAKE_SOURCE_DIR}/tools/nativewin ${CMAKE_SOURCE_DIR}/src)
file(GLOB QX_NATIVEWIN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/nativewin/*.cpp)
set(QX_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)

# Optimised decoders for the benchmarks and the command-line tools.
add_library(qximaging STATIC ${QX_IMAGING_PORTABLE} ${QX_NATIVEWIN_SOURCES})
target_include_directories(qximaging PUBLIC ${QX_NATIVE_INCLUDES})
target_compile_options(qximaging PRIVATE ${QX_MODULE_FLAGS} -O2)

# The same code under AddressSanitizer and UBSan for the tests.
add_library(qximaging_san STATIC ${QX_IMAGING_PORTABLE} ${QX_NATIVEWIN_SOURCES})
target_include_directories(qximaging_san PUBLIC ${QX_NATIVE_INCLUDES})
target_compile_options(qximaging_san PRIVATE ${QX_MODULE_FLAGS} ${QX_SANITIZE} -O1 -g)
target_link_options(qximaging_san PUBLIC ${QX_SANITIZE})

file(GLOB QX_NATIVE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
if(QX_NATIVE_TEST_SOURCES)
  add_executable(qx_native_tests ${QX_NATIVE_TEST_SOURCES})
  target_compile_options(qx_native_tests PRIVATE ${QX_SANITIZE} -g)
  target_compile_definitions(qx_native_tests PRIVATE QX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  # The checks of a decode's outcome and the decompressor's driver are shared with the fuzz targets.
  target_include_directories(qx_native_tests PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
  target_link_libraries(qx_native_tests PRIVATE qximaging_san GTest::gtest GTest::gtest_main png z jpeg)
  include(GoogleTest)
  gtest_discover_tests(qx_native_tests PROPERTIES TIMEOUT 600)
endif()

# The shipped 32-bit module's bit buffers are 32-bit words: the decoders are
# built so here as well, for the tests that run them on every kernel level.
add_library(qximaging_word32 STATIC ${QX_IMAGING_PORTABLE} ${QX_NATIVEWIN_SOURCES})
target_include_directories(qximaging_word32 PUBLIC ${QX_NATIVE_INCLUDES})
target_compile_definitions(qximaging_word32 PUBLIC QX_BITWORD_32)
target_compile_options(qximaging_word32 PRIVATE ${QX_MODULE_FLAGS} ${QX_SANITIZE} -O1 -g)
target_link_options(qximaging_word32 PUBLIC ${QX_SANITIZE})
add_executable(qx_native_tests_word32 ${CMAKE_SOURCE_DIR}/tests/native/kernel_paths_test.cpp)
target_compile_options(qx_native_tests_word32 PRIVATE ${QX_SANITIZE} -g)
target_include_directories(qx_native_tests_word32 PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
target_compile_definitions(qx_native_tests_word32 PRIVATE QX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(qx_native_tests_word32 PRIVATE qximaging_word32 GTest::gtest GTest::gtest_main png z jpeg)
gtest_discover_tests(qx_native_tests_word32 TEST_PREFIX word32. PROPERTIES TIMEOUT 600)

# Fuzzers need clang's libFuzzer: one target per decoder from fuzz/decode.cpp,
# and one of the decompressor alone.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  foreach(name bmp jpeg png inflate)
    if(name STREQUAL "inflate")
      add_executable(fuzz_${name} ${CMAKE_SOURCE_DIR}/fuzz/inflate.cpp ${QX_IMAGING_PORTABLE} ${QX_NATIVEWIN_SOURCES})
    else()
      string(TOUPPER ${name} type)
      add_executable(fuzz_${name} ${CMAKE_SOURCE_DIR}/fuzz/decode.cpp ${QX_IMAGING_PORTABLE} ${QX_NATIVEWIN_SOURCES})
      target_compile_definitions(fuzz_${name} PRIVATE QX_FUZZ_TYPE=IMG_TYPE_${type})
    endif()
    target_include_directories(fuzz_${name} PRIVATE ${QX_NATIVE_INCLUDES})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined -g -O1)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    # A short bounded run over the checked-in corpus keeps every fuzzer honest in CI.
    # New inputs go to a scratch directory (libFuzzer writes into its first
    # corpus directory); the committed seeds are only read.
    if(EXISTS ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
      file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz-smoke/${name})
      add_test(NAME fuzz.${name}
        COMMAND fuzz_${name} -runs=20000 -max_len=65536 -timeout=10
                ${CMAKE_BINARY_DIR}/fuzz-smoke/${name} ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
      set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 900)
    endif()
  endforeach()
endif()

# Benchmarks beside the peers (built, not run by the tests: `make bench`).
find_package(benchmark QUIET)
if(benchmark_FOUND)
  file(GLOB QX_BENCHES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
  foreach(src ${QX_BENCHES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(bench_${name} ${src})
    target_compile_definitions(bench_${name} PRIVATE QX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    target_include_directories(bench_${name} PRIVATE ${CMAKE_SOURCE_DIR}/bench /usr/include/stb)
    target_link_libraries(bench_${name} PRIVATE qximaging benchmark::benchmark jpeg png spng z deflate)
  endforeach()
endif()

# Command-line tools over the portable decoders (tools/cli/*.cpp, one each).
file(GLOB QX_CLI_TOOLS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/cli/*.cpp)
foreach(src ${QX_CLI_TOOLS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE qximaging)
endforeach()

# The committed artwork is exactly what resources/make_artwork.py draws.
add_test(NAME artwork_reproducible COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check-artwork.sh)
set_tests_properties(artwork_reproducible PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
