# One static library per layer, and include paths that follow the layering.
#
# Every layer's sources say `#include "folder/file.h"`. A layer's headers are reachable only
# through an include root of its own (build/layers/FOLDER, holding one link named FOLDER to the
# source folder), and that root reaches a target only by linking the layer. So a file can include
# the layers it links and nothing above them: a wrong-way include does not compile.
#
# morvane_layer(FOLDER TARGET [BELOW layer targets...]) creates TARGET from the sources the
# folder's CMakeLists.txt adds to it.
function(morvane_layer folder target)
  cmake_parse_arguments(L "" "" "BELOW" ${ARGN})
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  add_library(${target} STATIC)
  target_include_directories(${target} PUBLIC ${root})
  if(L_BELOW)
    target_link_libraries(${target} PUBLIC ${L_BELOW})
  endif()
endfunction()
