# House rules shared by every module: warnings, sanitizers, tests, fuzz targets, string tables.

option(SUITE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(SUITE_WERROR "Treat warnings as errors" ON)
option(SUITE_TSAN "Build with ThreadSanitizer (the tsan preset: the monitor's libraries and tests)" OFF)
option(SUITE_BENCH "Build the benchmarks (run by hand, never by a test)" ON)
# A test run fuzzes each target for its own SECONDS, but no longer than this: the committed corpus is
# replayed whole either way, and a longer hunt for new inputs is a run of its own (configure with a
# larger value, or start the target by hand).
set(SUITE_FUZZ_SECONDS 5 CACHE STRING "The most seconds a fuzz test fuzzes after replaying its corpus")
option(SUITE_PCH "Precompile GoogleTest's and the standard library's headers for the test programs" ON)

if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND NOT CMAKE_CROSSCOMPILING)
  set(SUITE_FUZZ ON)
else()
  set(SUITE_FUZZ OFF)
endif()

if(SUITE_SANITIZE)
  # -O1: a few times faster under the sanitizers (fuzz targets run that many more inputs), stacks intact.
  add_compile_options(-O1 -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(SUITE_TSAN)
  add_compile_options(-O1 -fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(WIN32)
  # The deliverables carry no runtime DLLs: everything is linked statically.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # _POSIX_THREAD_SAFE_FUNCTIONS: MinGW's localtime_r and gmtime_r, so time code is the same on both targets.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601 _POSIX_THREAD_SAFE_FUNCTIONS)
  if(CMAKE_CROSSCOMPILING)
    # Test executables run under Wine in a private prefix inside the build tree.
    set(SUITE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    # The width of the preset's programs: wine-run starts 64-bit ones with the 64-bit loader itself.
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(SUITE_WINE_BITS 64)
    else()
      set(SUITE_WINE_BITS 32)
    endif()
    configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
    # The lanes the window tests run in (suite_window_tests): one, the display and prefix the tests
    # find; ./test gives CTest a file of two.
    file(WRITE ${CMAKE_BINARY_DIR}/lanes.json
         "{ \"version\": { \"major\": 1, \"minor\": 0 }, \"local\": [ { \"lanes\": [ { \"id\": \"1\", \"slots\": 1 } ] } ] }\n")
  endif()
endif()

# Compiler warnings for the suite's own targets (never for third-party code).
function(suite_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      # -Wrestrict: g++ 12 reports false overlaps inside std::string concatenation at -O3.
      target_compile_options(${target} PRIVATE -Wshadow=local -Wno-restrict)
    endif()
    if(SUITE_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

# suite_library(NAME SOURCES a.cpp ... [LIBS dep ...])
function(suite_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
  suite_warnings(${name})
endfunction()

# One precompiled header for every test program: GoogleTest, GoogleMock and the standard headers most
# tests include, parsed once per build instead of once per test source (made on the first suite_test).
function(suite_test_pch)
  if(TARGET suite_test_pch)
    return()
  endif()
  file(WRITE ${CMAKE_BINARY_DIR}/suite_test_pch.cpp "// The owner of the test programs' precompiled header.\n")
  add_library(suite_test_pch STATIC ${CMAKE_BINARY_DIR}/suite_test_pch.cpp)
  target_link_libraries(suite_test_pch PRIVATE GTest::gmock GTest::gtest)
  target_include_directories(suite_test_pch PRIVATE ${CMAKE_SOURCE_DIR})
  suite_warnings(suite_test_pch)
  target_precompile_headers(suite_test_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h> <string> <vector> <map>
                            <memory> <functional> <algorithm> <chrono> <thread> <fstream> <sstream> <filesystem>)
endfunction()

# suite_test(NAME SOURCES a_test.cpp ... [LIBS dep ...] [LABELS unit ...] [TIMEOUT s])
# One CTest test per executable: under Wine, starting a process costs seconds.
function(suite_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT A_LABELS)
    set(A_LABELS unit)
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} suite_test_main GTest::gmock GTest::gtest)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  suite_warnings(${name})
  # Only with clang: with the header's inline std::string code in front of every source, g++ 12 (native
  # and MinGW) reports false out-of-bounds copies, overflows and over-reads inside std::string in some
  # test sources, which -Werror turns into failed builds.
  if(SUITE_PCH AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    suite_test_pch()
    target_precompile_headers(${name} REUSE_FROM suite_test_pch)
  endif()
  # The 32-bit Windows preset runs only the unit and abi tests: the others are not built there.
  if(SUITE_WINE_BITS EQUAL 32 AND NOT "unit" IN_LIST A_LABELS AND NOT "abi" IN_LIST A_LABELS)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}" TIMEOUT ${A_TIMEOUT}
                       ENVIRONMENT "SUITE_SOURCE_DIR=${CMAKE_SOURCE_DIR};SUITE_BIN_DIR=${SUITE_BIN_DIR}")
  if("windows" IN_LIST A_LABELS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK display)
    suite_window_tests(${name})
  endif()
endfunction()

# suite_window_tests(TEST ...): of these, the tests that hold the lock "display" (they open windows: the
# keyboard focus, the screenshots and the Wine prefix's desktop must be theirs alone) hold a lane instead.
# A lane is a display and a Wine prefix; ./test runs two side by side (wine-run and the window tests'
# preamble read which one CTest gave a test), elsewhere there is one.
function(suite_window_tests)
  foreach(test ${ARGN})
    get_test_property(${test} RESOURCE_LOCK locks)
    if(NOT locks OR NOT "display" IN_LIST locks)
      continue()
    endif()
    list(REMOVE_ITEM locks display)
    set_tests_properties(${test} PROPERTIES RESOURCE_LOCK "${locks}" RESOURCE_GROUPS "lanes:1")
  endforeach()
endfunction()

# suite_fuzz(NAME SOURCES f.cpp ... [LIBS dep ...] [SECONDS n] [MAX_LEN bytes])
# Built only with clang. The CTest test replays the committed corpus fuzz/corpus/NAME, then fuzzes for
# the rest of SECONDS (20 when not given, at most SUITE_FUZZ_SECONDS); new inputs go to the build tree,
# never into the source tree. MAX_LEN bounds the inputs the fuzzer makes (otherwise the largest seed
# sets the bound). fuzz/sanitizer_options.cpp sets the sanitizers' defaults for every target.
function(suite_fuzz name)
  if(NOT SUITE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "" "SECONDS;MAX_LEN" "SOURCES;LIBS" ${ARGN})
  if(NOT A_SECONDS)
    set(A_SECONDS 20)
  endif()
  if(A_SECONDS GREATER SUITE_FUZZ_SECONDS)
    set(A_SECONDS ${SUITE_FUZZ_SECONDS})
  endif()
  set(max_len)
  if(A_MAX_LEN)
    set(max_len -max_len=${A_MAX_LEN})
  endif()
  add_executable(${name} ${A_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/sanitizer_options.cpp)
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  suite_warnings(${name})
  set(corpus ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
  set(work ${CMAKE_BINARY_DIR}/fuzz-work/${name})
  file(MAKE_DIRECTORY ${corpus} ${work}/new ${work}/artifacts)
  add_test(NAME ${name}
           COMMAND ${name} ${work}/new ${corpus} -max_total_time=${A_SECONDS} -rss_limit_mb=2048 ${max_len}
                   -artifact_prefix=${work}/artifacts/ -print_final_stats=0)
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()

# suite_strings(PROGRAM NAME DIR dir)
# One source per language (DIR/strings.<lang>) produces the portable table (library NAME_strings with
# `const StrCatalog& NAME_Strings()`) and, on Windows, the STRINGTABLE resource script NAME_strings.rc.
function(suite_strings)
  cmake_parse_arguments(A "" "PROGRAM;DIR" "" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${A_DIR}/strings.*)
  set(out_cpp ${CMAKE_CURRENT_BINARY_DIR}/${A_PROGRAM}_strings.cpp)
  set(out_rc ${CMAKE_CURRENT_BINARY_DIR}/${A_PROGRAM}_strings.rc)
  add_custom_command(
    OUTPUT ${out_cpp} ${out_rc}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=${A_PROGRAM} -DSRC_DIR=${A_DIR} -DOUT_CPP=${out_cpp} -DOUT_RC=${out_rc}
            -P ${CMAKE_SOURCE_DIR}/cmake/GenStrings.cmake
    DEPENDS ${sources} ${CMAKE_SOURCE_DIR}/cmake/GenStrings.cmake
    COMMENT "Generating string tables for ${A_PROGRAM}")
  add_library(${A_PROGRAM}_strings STATIC ${out_cpp})
  target_link_libraries(${A_PROGRAM}_strings PUBLIC common)
  target_include_directories(${A_PROGRAM}_strings PUBLIC ${CMAKE_SOURCE_DIR})
  set_property(GLOBAL PROPERTY ${A_PROGRAM}_STRINGS_RC ${out_rc})
endfunction()
