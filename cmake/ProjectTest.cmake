# add_project_test(<name> LABELS <label>... SOURCES <file>... [LIBS <lib>...] [NEEDS_MKREC])
#
# One GoogleTest executable whose cases are registered with CTest, labelled with the
# subsystem folder plus any extra labels ("oracle" for tests checked against FFmpeg's
# tools, "threaded" for tests that also run under ThreadSanitizer).
# Tests find the other executables (e.g. tools/mkrec) in PLAYER_BIN_DIR, and the
# ffmpeg/ffprobe binaries on PATH.
function(add_project_test name)
  cmake_parse_arguments(T "NEEDS_MKREC" "TIMEOUT" "LABELS;SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
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

# add_fuzz_target(<name> SOURCES <file>... LIBS <lib>...): a libFuzzer binary fuzz_<name>.
function(add_fuzz_target name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(fuzz_${name} ${F_SOURCES})
  target_link_libraries(fuzz_${name} PRIVATE ${F_LIBS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
endfunction()

find_package(Threads REQUIRED)
