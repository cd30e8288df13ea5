# Checks that includes between the source folders point only downward: a file includes headers
# of its own folder or of folders below it, never of one above it. Every folder below video/
# includes no Qt headers, and the core libraries (dispatch to session; the caller names them)
# link neither Qt nor the X client library.
#
# cmake -DSOURCE_DIR=<project root> [-DCORE_LINKS=<target>=<libraries joined by |>,...]
#   -P Layering.cmake; fails with the offending lines.
cmake_minimum_required(VERSION 3.20)

# Bottom to top. A folder may include itself and anything listed before it.
set(layers dispatch platform settings discovery media session workspace video app)
# The folders that may use Qt.
set(qt_layers video app)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

set(faults)
foreach(folder IN LISTS layers)
  list(FIND layers ${folder} own_rank)
  file(GLOB_RECURSE files ${SOURCE_DIR}/src/${folder}/*.h ${SOURCE_DIR}/src/${folder}/*.cpp)
  foreach(file IN LISTS files)
    file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
      if(line MATCHES "#[ \t]*include[ \t]*\"([A-Za-z0-9_]+)/")
        list(FIND layers ${CMAKE_MATCH_1} rank)
        if(rank GREATER own_rank)
          list(APPEND faults "${name} includes from ${CMAKE_MATCH_1}/, a folder above ${folder}/: ${line}")
        endif()
      endif()
      if(NOT folder IN_LIST qt_layers AND line MATCHES "#[ \t]*include[ \t]*<Q")
        list(APPEND faults "${name} is below video/ and includes Qt: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()

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

# What the core libraries link directly (what they link through each other is core as well).
if(CORE_LINKS)
  string(REPLACE "," ";" targets "${CORE_LINKS}")
  foreach(entry IN LISTS targets)
    if(entry MATCHES "^([^=]+)=(.*)$")
      set(target ${CMAKE_MATCH_1})
      string(REPLACE "|" ";" libraries "${CMAKE_MATCH_2}")
      foreach(library IN LISTS libraries)
        if(library MATCHES "Qt[0-9]*::|XCB|xcb|X11")
          list(APPEND faults "${target}, a core library, links ${library}")
        endif()
      endforeach()
    endif()
  endforeach()
endif()

if(faults)
  list(JOIN faults "\n" text)
  message(FATAL_ERROR "Includes against the layering:\n${text}")
endif()
list(JOIN layers " < " order)
message(STATUS "Includes point downward only: ${order}")
