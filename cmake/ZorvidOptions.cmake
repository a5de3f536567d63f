# Compiler settings shared by every target of the project, carried by one interface target.
add_library(zorvid_options INTERFACE)
add_library(Zorvid::options ALIAS zorvid_options)

target_compile_options(zorvid_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                                -Wnon-virtual-dtor -Woverloaded-virtual)
if(ZORVID_WARNINGS_AS_ERRORS)
  target_compile_options(zorvid_options INTERFACE -Werror)
endif()

# Outside the sanitizer and fuzz builds everything is compiled and linked with Debian's build
# flags, the hardening included (lintian checks it), so that the tests run on the very code the
# package ships and the package needs no build of its own.
if(NOT ZORVID_SANITIZE AND NOT ZORVID_BUILD_FUZZ)
  find_program(ZORVID_DPKG_BUILDFLAGS dpkg-buildflags)
  if(ZORVID_DPKG_BUILDFLAGS)
    foreach(_zorvid_kind CXXFLAGS CPPFLAGS LDFLAGS)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${ZORVID_DPKG_BUILDFLAGS} --get ${_zorvid_kind}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE _zorvid_debian_${_zorvid_kind} OUTPUT_STRIP_TRAILING_WHITESPACE
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    string(APPEND CMAKE_CXX_FLAGS " ${_zorvid_debian_CXXFLAGS} ${_zorvid_debian_CPPFLAGS}")
    string(APPEND CMAKE_EXE_LINKER_FLAGS " ${_zorvid_debian_LDFLAGS}")
    string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${_zorvid_debian_LDFLAGS}")
  endif()
endif()

# Test code (targets whose property ZORVID_TEST_CODE is on, see tests/) is compiled for the
# speed of building, which CI does three times, not of running: with line tables only, and
# lightly optimised where the code under test is optimised (-Og keeps _FORTIFY_SOURCE working).
set(_zorvid_test_code "$<BOOL:$<TARGET_PROPERTY:ZORVID_TEST_CODE>>")
target_compile_options(zorvid_options INTERFACE "$<${_zorvid_test_code}:-g1>")
if(NOT ZORVID_SANITIZE AND NOT ZORVID_BUILD_FUZZ)
  target_compile_options(zorvid_options INTERFACE "$<${_zorvid_test_code}:-Og>")
endif()

if(ZORVID_SANITIZE)
  list(JOIN ZORVID_SANITIZE "," _zorvid_sanitizers)
  set(_zorvid_sanitize_flags -fsanitize=${_zorvid_sanitizers} -fno-omit-frame-pointer)
  if("undefined" IN_LIST ZORVID_SANITIZE)
    list(APPEND _zorvid_sanitize_flags -fno-sanitize-recover=undefined)
  endif()
  target_compile_options(zorvid_options INTERFACE ${_zorvid_sanitize_flags})
  target_link_options(zorvid_options INTERFACE ${_zorvid_sanitize_flags})
endif()

# mold links the many test programs several times faster than the default linker, which links
# where mold is not installed.
find_program(ZORVID_MOLD mold)
if(ZORVID_MOLD)
  add_link_options(-fuse-ld=mold)
endif()

find_package(Threads REQUIRED)
target_link_libraries(zorvid_options INTERFACE Threads::Threads)

# Fuzz builds instrument every library for coverage; the fuzz targets add the fuzzer's main.
if(ZORVID_BUILD_FUZZ)
  target_compile_options(zorvid_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
