# One version for everything: `--version`, the Windows version resource, the man pages and the
# package names all come from the project version. morvane_version is an interface target whose
# include path holds the generated "morvane_version.h".
set(MORVANE_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/morvane_version.h.in
               ${MORVANE_GENERATED_DIR}/morvane_version.h @ONLY)
add_library(morvane_version INTERFACE)
target_include_directories(morvane_version INTERFACE ${MORVANE_GENERATED_DIR})
