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
