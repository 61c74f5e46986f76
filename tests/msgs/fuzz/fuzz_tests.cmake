# Registers a short run of every message fuzz target with CTest.
#
# With QUIRAL_BUILD_FUZZ=ON the project is built with clang++ and the fuzz
# targets are part of it. Otherwise they are built by a separate clang++
# sub-build, so that the ordinary g++ build and test run still exercise
# them. Each target runs a few seconds from a seed corpus of valid payloads.
include(${CMAKE_CURRENT_LIST_DIR}/decoders.cmake)

set(QUIRAL_FUZZ_SECONDS 3 CACHE STRING "Seconds each message fuzz target runs in the test suite")

add_executable(msgs_fuzz_seeds ${CMAKE_CURRENT_LIST_DIR}/write_seeds.cpp)
target_link_libraries(msgs_fuzz_seeds PRIVATE quiral_msgs)
quiral_target_warnings(msgs_fuzz_seeds)
set(msgs_fuzz_corpus ${CMAKE_BINARY_DIR}/msgs-fuzz-corpus)
add_test(NAME msgs_fuzz_seeds COMMAND msgs_fuzz_seeds ${msgs_fuzz_corpus})
set_tests_properties(msgs_fuzz_seeds PROPERTIES FIXTURES_SETUP msgs_fuzz_corpus)

if(QUIRAL_BUILD_FUZZ)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR} ${CMAKE_BINARY_DIR}/msgs-fuzz)
  set(msgs_fuzz_bin ${CMAKE_BINARY_DIR}/fuzz)
else()
  find_program(QUIRAL_FUZZ_CLANGXX NAMES clang++ clang++-14)
  set(fuzz_toolchain_ok FALSE)
  if(QUIRAL_FUZZ_CLANGXX)
    # libFuzzer comes with clang's runtime package (libclang-rt-14-dev).
    set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/libfuzzer_probe.cpp)
    file(WRITE ${probe} "#include <cstddef>\n#include <cstdint>\n"
         "extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n")
    execute_process(
      COMMAND ${QUIRAL_FUZZ_CLANGXX} -fsanitize=fuzzer,address ${probe} -o ${CMAKE_BINARY_DIR}/CMakeFiles/libfuzzer_probe
      RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
    if(probe_result EQUAL 0)
      set(fuzz_toolchain_ok TRUE)
    endif()
  endif()
  if(NOT fuzz_toolchain_ok)
    # The fuzz runs are part of the test suite: a machine that cannot build
    # them cannot run every test.
    message(FATAL_ERROR "clang++ with libFuzzer (Debian packages clang and libclang-rt-14-dev) "
                        "was not found, so the message fuzz tests cannot be built. Run "
                        "scripts/install-deps.sh to install them.")
  endif()
  message(STATUS "Message fuzz targets: built with ${QUIRAL_FUZZ_CLANGXX} in a separate sub-build")

  include(ExternalProject)
  set(msgs_fuzz_bin ${CMAKE_BINARY_DIR}/msgs-fuzz/fuzz)
  set(byproducts)
  foreach(decoder IN LISTS QUIRAL_MSGS_FUZZ_DECODERS)
    list(APPEND byproducts ${msgs_fuzz_bin}/fuzz_${decoder})
  endforeach()
  ExternalProject_Add(msgs_fuzz_build
    SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/msgs-fuzz
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${QUIRAL_FUZZ_CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${byproducts}
    INSTALL_COMMAND "")
endif()

foreach(decoder IN LISTS QUIRAL_MSGS_FUZZ_DECODERS)
  add_test(NAME msgs_fuzz_${decoder}
           COMMAND ${QUIRAL_NETNS_RUN} ${msgs_fuzz_bin}/fuzz_${decoder}
                   -max_total_time=${QUIRAL_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048
                   -malloc_limit_mb=256 -print_final_stats=1
                   ${msgs_fuzz_corpus}/found/${decoder} ${msgs_fuzz_corpus}/seeds/${decoder})
  set_tests_properties(msgs_fuzz_${decoder} PROPERTIES
                       FIXTURES_REQUIRED msgs_fuzz_corpus TIMEOUT 120 LABELS fuzz)
endforeach()
