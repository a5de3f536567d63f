# zorvid_program_version(TARGET VERSION a.b.c.d): gives an executable its program version, the
# counterpart of a version resource in the program file. The About window reads it through
# ui/ProgramVersion.h; each executable that links the user interface states its own, so a test
# program can carry a version of its own.
set(_zorvid_program_version_template ${CMAKE_CURRENT_LIST_DIR}/ProgramVersion.cpp.in)

function(zorvid_program_version target)
  cmake_parse_arguments(ARG "" "VERSION" "" ${ARGN})
  string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$" _match "${ARG_VERSION}")
  if(NOT _match)
    message(FATAL_ERROR "zorvid_program_version: '${ARG_VERSION}' is not a four-part version")
  endif()
  set(ZORVID_VERSION_MAJOR ${CMAKE_MATCH_1})
  set(ZORVID_VERSION_MINOR ${CMAKE_MATCH_2})
  set(ZORVID_VERSION_RELEASE ${CMAKE_MATCH_3})
  set(ZORVID_VERSION_BUILD ${CMAKE_MATCH_4})
  set(_source ${CMAKE_CURRENT_BINARY_DIR}/${target}_ProgramVersion.cpp)
  configure_file(${_zorvid_program_version_template} ${_source} @ONLY)
  target_sources(${target} PRIVATE ${_source})
endfunction()
