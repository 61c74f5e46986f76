# Registers a short run of every fuzz target with CTest.
#
# With QUIRAL_BUILD_FUZZ=ON the project is built with clang++ and the fuzz
# targets are part of it. Otherwise they are built by a separate clang++
# sub-build, so that the ordinary g++ build and test run still exercise
# them. Each target runs a few seconds from its seed corpus: valid payloads
# for the decoders, the files in seeds/<name> for the parsers.
include(${CMAKE_CURRENT_LIST_DIR}/targets.cmake)

set(QUIRAL_FUZZ_SECONDS 3 CACHE STRING "Seconds each fuzz target runs in the test suite")

if(QUIRAL_BUILD_FUZZ)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR} ${CMAKE_BINARY_DIR}/fuzz-build)
  set(fuzz_bin ${CMAKE_BINARY_DIR}/fuzz)
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
                        "was not found, so the fuzz tests cannot be built. Run "
                        "scripts/install-deps.sh to install them.")
  endif()
  message(STATUS "Fuzz targets: built with ${QUIRAL_FUZZ_CLANGXX} in a separate sub-build")

  include(ExternalProject)
  set(fuzz_bin ${CMAKE_BINARY_DIR}/fuzz-build/fuzz)
  set(byproducts ${fuzz_bin}/fuzz_seeds)
  foreach(target IN LISTS QUIRAL_FUZZ_TARGETS)
    list(APPEND byproducts ${fuzz_bin}/fuzz_${target})
  endforeach()
  ExternalProject_Add(fuzz_build
    SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz-build
    # The targets set their own optimisation and debug flags; no NDEBUG, so
    # that the libraries' assertions (Eigen's among them) stay armed.
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${QUIRAL_FUZZ_CLANGXX} -DCMAKE_BUILD_TYPE=Release
               "-DCMAKE_CXX_FLAGS_RELEASE="
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${byproducts}
    INSTALL_COMMAND "")
endif()

set(fuzz_corpus ${CMAKE_BINARY_DIR}/fuzz-corpus)
add_test(NAME fuzz_seeds COMMAND ${fuzz_bin}/fuzz_seeds ${fuzz_corpus} ${QUIRAL_FUZZ_PARSERS})
set_tests_properties(fuzz_seeds PROPERTIES FIXTURES_SETUP fuzz_corpus)

foreach(target IN LISTS QUIRAL_FUZZ_TARGETS)
  set(seeds ${fuzz_corpus}/seeds/${target})
  if(target IN_LIST QUIRAL_FUZZ_PARSERS)
    set(seeds ${CMAKE_CURRENT_LIST_DIR}/seeds/${target})
  endif()
  add_test(NAME fuzz_${target}
           COMMAND ${fuzz_bin}/fuzz_${target}
                   -max_total_time=${QUIRAL_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048
                   -malloc_limit_mb=256 -print_final_stats=1
                   ${fuzz_corpus}/found/${target} ${seeds})
  set_tests_properties(fuzz_${target} PROPERTIES
                       FIXTURES_REQUIRED fuzz_corpus TIMEOUT 120 LABELS fuzz)
endforeach()
