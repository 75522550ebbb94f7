# player_include_interface(<target> <folder>)
#
# Gives <target> an include interface of its own: a folder in the build tree holding one
# symbolic link <folder> -> the current source folder, exported as the target's include
# directory. Code then writes #include "<folder>/x.h" as it would against
# the source root, but reaches a library's headers only through the targets it links: a
# header of a library not linked is simply not on the include path, and the build fails.
# <folder> may be nested ("app/logic") so a sub-library exports only its own subfolder.
# INTERFACE libraries export the folder as INTERFACE, others as PUBLIC (the library's own
# sources include their headers the same way).
function(player_include_interface target folder)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  player_link_folder(${root} ${folder} ${CMAKE_CURRENT_SOURCE_DIR})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${root}>)
  else()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
  endif()
endfunction()

# player_link_folder(<root> <folder> <dir>): makes <root>/<folder> a symbolic link to <dir>.
function(player_link_folder root folder dir)
  set(link ${root}/${folder})
  get_filename_component(parent ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(IS_SYMLINK ${link})
    file(READ_SYMLINK ${link} current)
    if(current STREQUAL dir)
      return()
    endif()
    file(REMOVE ${link})
  endif()
  file(CREATE_LINK ${dir} ${link} SYMBOLIC RESULT result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot link ${link} -> ${dir}: ${result}")
  endif()
endfunction()

# player_check_include_roots(): fails the configuration when a target under the current folder
# puts the source root (or the tests' root) on its include path, which would open every
# folder's headers to it and to everything linking it.
function(player_check_include_roots)
  set(dirs ${CMAKE_CURRENT_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      foreach(property INCLUDE_DIRECTORIES INTERFACE_INCLUDE_DIRECTORIES)
        get_target_property(paths ${target} ${property})
        foreach(path ${paths})
          string(REGEX REPLACE "^\\$<BUILD_INTERFACE:(.*)>$" "\\1" path "${path}")
          string(REGEX REPLACE "/$" "" path "${path}")
          if(path STREQUAL CMAKE_SOURCE_DIR OR path STREQUAL "${CMAKE_SOURCE_DIR}/tests")
            message(FATAL_ERROR "${target} puts ${path} on its include path; use "
                                "player_include_interface and link the libraries it includes")
          endif()
        endforeach()
      endforeach()
    endforeach()
  endwhile()
endfunction()
