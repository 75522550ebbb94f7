# cmake -DPLAYER_SOURCE_DIR=<root> -DWORK_DIR=<dir> -DGENERATOR=<g> -DCXX=<compiler> -P check_includes.cmake
#
# Configures the probe project and builds its targets one by one: the include of a linked
# library's header must compile, the includes of headers not reachable through the links
# must fail, and fail on that very include (not on something else).
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/probe -B ${WORK_DIR} -G ${GENERATOR}
          -DCMAKE_CXX_COMPILER=${CXX} -DPLAYER_SOURCE_DIR=${PLAYER_SOURCE_DIR}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the probe project does not configure:\n${out}")
endif()

function(build target)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR} --target ${target}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(build_rc ${rc} PARENT_SCOPE)
  set(build_out "${out}" PARENT_SCOPE)
endfunction()

build(probe_linked)
if(NOT build_rc EQUAL 0)
  message(FATAL_ERROR "a header of a linked library does not compile:\n${build_out}")
endif()

foreach(probe "probe_not_linked;platform/log.h" "probe_private;streaminfo/h264_stream.h")
  list(GET probe 0 target)
  list(GET probe 1 header)
  build(${target})
  if(build_rc EQUAL 0)
    message(FATAL_ERROR "${target} included ${header} without linking its library")
  endif()
  # gcc: "x.h: No such file or directory"; clang: "'x.h' file not found".
  string(REGEX MATCH "${header}'?:? (No such file|file not found)" missing "${build_out}")
  if(NOT missing)
    message(FATAL_ERROR "${target} failed, but not on ${header}:\n${build_out}")
  endif()
  message(STATUS "${target}: ${header} is out of reach, as it should be")
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
