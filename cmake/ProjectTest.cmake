# add_project_test(<name> LABELS <label>... SOURCES <file>... [LIBS <lib>...] [HELPERS <folder>...]
#                  [NEEDS_MKREC])
#
# One GoogleTest executable whose cases are registered with CTest, labelled with the
# subsystem folder plus any extra labels ("oracle" for tests checked against FFmpeg's
# tools, "threaded" for tests that also run under ThreadSanitizer).
# Tests find the other executables (e.g. tools/mkrec) in PLAYER_BIN_DIR, and the
# ffmpeg/ffprobe binaries on PATH.
# Every test links test_common ("common/x.h"). LIBS must name every library whose headers the
# test includes. The helpers of the test's own folder under tests/ are included as
# "<folder>/x.h"; HELPERS names other test folders whose helpers it uses.
function(add_project_test name)
  cmake_parse_arguments(T "NEEDS_MKREC" "TIMEOUT" "LABELS;SOURCES;LIBS;HELPERS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  find_package(Threads REQUIRED)
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_common GTest::gtest GTest::gtest_main Threads::Threads)
  file(RELATIVE_PATH _folder ${CMAKE_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "/.*" "" _folder "${_folder}")
  player_test_helpers(${name} ${_folder} ${T_HELPERS})
  player_test_code(${name})
  # The application's tests are compiled as Qt wants (-fPIC), which the shared header is not.
  if(NOT _folder STREQUAL "app")
    target_precompile_headers(${name} REUSE_FROM test_pch)
  endif()
  target_compile_definitions(${name} PRIVATE PLAYER_BIN_DIR="${PLAYER_BIN_DIR}"
                                             PLAYER_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if("threaded" IN_LIST T_LABELS)
    set_property(GLOBAL APPEND PROPERTY PLAYER_THREADED_TEST_TARGETS ${name})
  endif()
  if(T_NEEDS_MKREC)
    add_dependencies(${name} mkrec)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # gtest_discover_tests flattens list-valued PROPERTIES (only the first label and
  # environment entry would survive), so the properties are set by a script of our own that
  # ctest includes after discovery, on the test names discovery left in <name>_TESTS.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  set(_env "QT_QPA_PLATFORM=offscreen;SDL_AUDIODRIVER=dummy;TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/scripts/tsan.supp;UBSAN_OPTIONS=print_stacktrace=1")
  set(_props ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${_props}
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES\n"
    "    LABELS [==[${T_LABELS}]==] TIMEOUT ${T_TIMEOUT}\n"
    "    ENVIRONMENT [==[${_env}]==])\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_props})
endfunction()

# player_test_code(<target>): how a test's own code is compiled. It is built unoptimised: it
# only drives the libraries, which keep the build's optimisation, and optimising the GoogleTest
# code took most of each test's compile (under the sanitizers, most of that build's time).
# The precompiled header the tests share (test_pch) is built the same way, or gcc would not
# take it; so every test defines _REENTRANT, as those using SDL2 must.
function(player_test_code target)
  target_compile_options(${target} PRIVATE -O0)
  target_compile_definitions(${target} PRIVATE _REENTRANT)
endfunction()

# player_test_helpers(<target> <folder>...): lets <target> include the test helpers kept in
# tests/<folder>/ as "<folder>/x.h" (beside the library of that name, which it must still link).
function(player_test_helpers target)
  foreach(folder ${ARGN})
    set(root ${CMAKE_BINARY_DIR}/include/tests_${folder})
    player_link_folder(${root} ${folder} ${CMAKE_SOURCE_DIR}/tests/${folder})
    target_include_directories(${target} PRIVATE ${root})
  endforeach()
endfunction()

# add_fuzz_target(<name> SOURCES <file>... LIBS <lib>...): a libFuzzer binary fuzz_<name>.
function(add_fuzz_target name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(fuzz_${name} ${F_SOURCES})
  target_link_libraries(fuzz_${name} PRIVATE ${F_LIBS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
endfunction()

