# Precompiled headers: the Qt and standard headers that most files include,
# made once per kind of code and used by every file of that kind. A compiler
# cache cannot keep what is built against a precompiled header (the header's
# image differs at every build), so AUTO makes them only when no cache is in
# use or it is turned off (CCACHE_DISABLE): a cold build gains, a warm one
# keeps its hits.
set(IDLIX_PCH AUTO CACHE STRING "Precompiled headers: AUTO, ON or OFF")
set_property(CACHE IDLIX_PCH PROPERTY STRINGS AUTO ON OFF)
set(idlix_use_pch ${IDLIX_PCH})
if(IDLIX_PCH STREQUAL "AUTO")
  set(idlix_use_pch ON)
  if(CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache" AND NOT "$ENV{CCACHE_DISABLE}")
    set(idlix_use_pch OFF)
  endif()
endif()

# A library that only makes the precompiled header HEADER with the given link
# libraries (which decide the header's Qt modules and compile flags).
function(idlix_pch_host name header)
  add_library(${name} STATIC ${CMAKE_SOURCE_DIR}/cmake/pch/pchhost.cpp)
  set_target_properties(${name} PROPERTIES AUTOMOC OFF)
  target_link_libraries(${name} PRIVATE ${ARGN})
  target_precompile_headers(${name} PRIVATE ${header})
endfunction()

# Whether TARGET links Qt Widgets, directly or through the layers it links.
function(idlix_links_widgets target out)
  set(seen "")
  set(todo ${target})
  set(found OFF)
  while(todo)
    list(POP_FRONT todo t)
    if(t IN_LIST seen OR NOT TARGET ${t})
      continue()
    endif()
    list(APPEND seen ${t})
    if(t STREQUAL "Qt6::Widgets")
      set(found ON)
      break()
    endif()
    get_target_property(deps ${t} INTERFACE_LINK_LIBRARIES)
    if(deps)
      list(APPEND todo ${deps})
    endif()
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Every layer library takes the header of its kind.
function(idlix_layers_use_pch)
  if(NOT idlix_use_pch)
    return()
  endif()
  idlix_pch_host(idlix_pch_core ${CMAKE_SOURCE_DIR}/cmake/pch/pch_core.h Qt6::Core)
  idlix_pch_host(idlix_pch_widgets ${CMAKE_SOURCE_DIR}/cmake/pch/pch_widgets.h Qt6::Widgets)
  foreach(layer ${ARGN})
    get_target_property(type idlix_${layer} TYPE)
    if(NOT type STREQUAL "STATIC_LIBRARY")
      continue()
    endif()
    idlix_links_widgets(idlix_${layer} widgets)
    if(widgets)
      target_precompile_headers(idlix_${layer} REUSE_FROM idlix_pch_widgets)
    else()
      target_precompile_headers(idlix_${layer} REUSE_FROM idlix_pch_core)
    endif()
  endforeach()
endfunction()
