# Compiler settings shared by every target of the project, carried by one interface target.
add_library(zorvid_options INTERFACE)
add_library(Zorvid::options ALIAS zorvid_options)

target_compile_options(zorvid_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                                -Wnon-virtual-dtor -Woverloaded-virtual)
if(ZORVID_WARNINGS_AS_ERRORS)
  target_compile_options(zorvid_options INTERFACE -Werror)
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

find_package(Threads REQUIRED)
target_link_libraries(zorvid_options INTERFACE Threads::Threads)

# Fuzz builds instrument every library for coverage; the fuzz targets add the fuzzer's main.
if(ZORVID_BUILD_FUZZ)
  target_compile_options(zorvid_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
