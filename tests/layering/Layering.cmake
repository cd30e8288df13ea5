# Checks that the source folders depend on each other only downward:
# - a file includes headers of its own folder or of folders below it, never of one above it,
#   whether it writes "folder/X.h", <folder/X.h> or a path through "..";
# - no folder below video/ includes Qt headers, and the test camera (tools/) includes only the
#   core folders;
# - a library links only libraries of its own folder's rank or below, and the core libraries
#   (dispatch to webcam) link neither Qt nor the X client library.
#
# cmake -DSOURCE_DIR=<project root> [-DLINKS=<target>=<libraries joined by |>,...]
#   -P Layering.cmake; fails with the offending lines.
cmake_minimum_required(VERSION 3.20)

# Bottom to top. A folder may include itself and anything listed before it. The files directly
# in src/ (the program's main) sit on top of all of them.
set(layers dispatch platform settings discovery media session publish webcam workspace video app)
# The folders that may use Qt.
set(qt_layers video app)
# The core: what builds, and what the test camera may use, without Qt.
set(core_layers dispatch platform settings discovery media session publish webcam)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

set(faults)

# Checks the includes of `files` (paths under SOURCE_DIR) for a file of `folder`, at `rank`;
# `allowed` lists the folders it may include from (empty: those up to its rank).
function(check_includes folder rank allowed)
  set(found)
  foreach(file IN LISTS ARGN)
    file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
      if(line MATCHES "#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"]")
        set(path ${CMAKE_MATCH_1})
        if(path MATCHES "(^|/)\\.\\.?/")
          list(APPEND found "${name} includes through a relative path: ${line}")
        elseif(path MATCHES "^([A-Za-z0-9_]+)/" AND CMAKE_MATCH_1 IN_LIST layers)
          set(target ${CMAKE_MATCH_1})
          list(FIND layers ${target} target_rank)
          if(allowed AND NOT target IN_LIST allowed)
            list(APPEND found "${name} includes from ${target}/, which ${folder} may not use: ${line}")
          elseif(NOT allowed AND target_rank GREATER rank)
            list(APPEND found "${name} includes from ${target}/, a folder above ${folder}/: ${line}")
          endif()
        endif()
        if(NOT folder IN_LIST qt_layers AND NOT folder STREQUAL "src" AND path MATCHES "^Q")
          list(APPEND found "${name} is below video/ and includes Qt: ${line}")
        endif()
      endif()
    endforeach()
  endforeach()
  set(faults ${faults} ${found} PARENT_SCOPE)
endfunction()

foreach(folder IN LISTS layers)
  list(FIND layers ${folder} rank)
  file(GLOB_RECURSE files ${SOURCE_DIR}/src/${folder}/*.h ${SOURCE_DIR}/src/${folder}/*.cpp)
  check_includes(${folder} ${rank} "" ${files})
endforeach()
list(LENGTH layers top)
file(GLOB files ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp)
check_includes(src ${top} "" ${files})
file(GLOB_RECURSE files ${SOURCE_DIR}/tools/*.h ${SOURCE_DIR}/tools/*.cpp)
check_includes(tools ${top} "${core_layers}" ${files})

# Every folder under src/ must have its place above, so that a new one is not left unchecked.
file(GLOB entries LIST_DIRECTORIES true ${SOURCE_DIR}/src/*)
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY ${entry})
    get_filename_component(folder ${entry} NAME)
    if(NOT folder IN_LIST layers)
      list(APPEND faults "src/${folder}/ has no place in the list of layers in ${CMAKE_CURRENT_LIST_FILE}")
    endif()
  endif()
endforeach()

# Within video/, no class includes another that includes it back, directly or through others
# (the camera window, its view controller, the view and the renderer): a part that needs its
# owner reaches it through a forward declaration or a small interface. A class is its .h and
# .cpp together.
set(ring_free_folders video)
foreach(folder IN LISTS ring_free_folders)
  file(GLOB files ${SOURCE_DIR}/src/${folder}/*.h ${SOURCE_DIR}/src/${folder}/*.cpp)
  set(classes)
  foreach(file IN LISTS files)
    get_filename_component(class ${file} NAME_WE)
    list(APPEND classes ${class})
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"${folder}/")
    foreach(line IN LISTS includes)
      if(line MATCHES "\"${folder}/([A-Za-z0-9_]+)\\.h\"" AND NOT CMAKE_MATCH_1 STREQUAL class)
        list(APPEND uses_${class} ${CMAKE_MATCH_1})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES classes)
  # Takes away, round after round, the classes that include none of those left: what stays is
  # in a ring, or includes one.
  set(left ${classes})
  set(changed TRUE)
  while(changed)
    set(changed FALSE)
    foreach(class IN LISTS left)
      set(includes_left FALSE)
      foreach(used IN LISTS uses_${class})
        if(used IN_LIST left)
          set(includes_left TRUE)
          break()
        endif()
      endforeach()
      if(NOT includes_left)
        list(REMOVE_ITEM left ${class})
        set(changed TRUE)
      endif()
    endforeach()
  endwhile()
  if(left)
    list(JOIN left ", " names)
    list(APPEND faults "src/${folder}/ has classes that include each other in a ring (or include one): ${names}")
  endif()
  foreach(class IN LISTS classes)
    unset(uses_${class})
  endforeach()
endforeach()

# What each library links directly: vistamo_<folder> libraries of its own rank or below, and for
# the core no Qt or X client library.
if(LINKS)
  string(REPLACE "," ";" targets "${LINKS}")
  foreach(entry IN LISTS targets)
    if(entry MATCHES "^vistamo_([a-z]+)=(.*)$")
      set(folder ${CMAKE_MATCH_1})
      string(REPLACE "|" ";" libraries "${CMAKE_MATCH_2}")
      list(FIND layers ${folder} rank)
      if(rank LESS 0)
        list(APPEND faults "vistamo_${folder} is the library of no folder in the list of layers")
        continue()
      endif()
      foreach(library IN LISTS libraries)
        if(library MATCHES "^vistamo_([a-z]+)$")
          list(FIND layers ${CMAKE_MATCH_1} library_rank)
          if(library_rank GREATER rank)
            list(APPEND faults "vistamo_${folder} links ${library}, a library above it")
          endif()
        endif()
        if(folder IN_LIST core_layers AND library MATCHES "Qt[0-9]*::|XCB|xcb|X11")
          list(APPEND faults "vistamo_${folder}, a core library, links ${library}")
        endif()
      endforeach()
    endif()
  endforeach()
endif()

if(faults)
  list(JOIN faults "\n" text)
  message(FATAL_ERROR "Dependencies against the layering:\n${text}")
endif()
list(JOIN layers " < " order)
message(STATUS "Includes and links point downward only: ${order}")
