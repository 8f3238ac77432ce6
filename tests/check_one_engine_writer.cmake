# Fails unless the TFTP engine's record is named in exactly one file of tftp/, its owner: every
# other file can only ask the owner's procedures, so nothing else can write the engine's state.
#   cmake -DSOURCE_DIR=<tftp folder> -P check_one_engine_writer.cmake
set(owner "tftp_port_owner.cpp")
file(GLOB sources "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.h")
set(naming "")
foreach(source ${sources})
  file(READ ${source} text)
  if(text MATCHES "PortRecord")
    get_filename_component(name ${source} NAME)
    list(APPEND naming ${name})
  endif()
endforeach()
if(NOT naming STREQUAL owner)
  message(FATAL_ERROR "the engine's record is named in: ${naming} (only ${owner} may)")
endif()
message(STATUS "the engine's record has one writer: tftp/${owner}")
