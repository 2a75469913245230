# A room: one folder of src/, one static library. Its headers are reached by
# bare name through the folder's include directory, which only the targets
# that link the room (directly, or through a room that names it PUBLIC) see,
# so an include that goes the wrong way does not build.
#
#   vornterm_room(<target> SOURCES <files> [PUBLIC <targets>] [PRIVATE <targets>])
#
# Files ending in _unix.cpp, _linux.cpp or _win.cpp are built only on their
# platform; everything else on every platform. A room that links Qt Widgets, or
# a room that does, reads the widgets' precompiled headers, any other the
# core's (cmake/PrecompiledHeaders.cmake).
function(vornterm_room target)
  cmake_parse_arguments(ROOM "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  set(sources ${ROOM_SOURCES})
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_(unix|linux)\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
    if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
      list(FILTER sources EXCLUDE REGEX "_linux\\.cpp$")
    endif()
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ROOM_PUBLIC} PRIVATE ${ROOM_PRIVATE})
  target_compile_definitions(${target} PUBLIC QT_NO_KEYWORDS)

  set(kind core)
  foreach(dep IN LISTS ROOM_PUBLIC ROOM_PRIVATE)
    if(dep MATCHES "^Qt6::(Gui|Widgets)$")
      set(kind widgets)
    elseif(TARGET ${dep})
      get_target_property(dep_kind ${dep} VORNTERM_PCH_KIND)
      if(dep_kind STREQUAL "widgets")
        set(kind widgets)
      endif()
    endif()
  endforeach()
  set_target_properties(${target} PROPERTIES VORNTERM_PCH_KIND ${kind})
  vornterm_precompile(${target} ${kind})
endfunction()
