# The language, visibility and warning settings every build of framework and module code has,
# this repository's and a module project's alike. Reads MV_WERROR and MV_SANITIZE.
include_guard(DIRECTORY)

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)

add_compile_options(-Wall -Wextra)
if(MV_WERROR)
  add_compile_options(-Werror)
endif()
if(MV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# mv_host_kind(<var>): which build of mvmhost runs this build's module libraries, named as
# this repository's preset that makes it: windows-i686, windows-x86_64, linux-i686, native
# (the sanitizers: a sanitized library needs a sanitized host) or release.
function(mv_host_kind var)
  if(WIN32)
    set(_kind windows-${CMAKE_SYSTEM_PROCESSOR})
  elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_kind linux-i686)
  elseif(MV_SANITIZE)
    set(_kind native)
  else()
    set(_kind release)
  endif()
  set(${var} ${_kind} PARENT_SCOPE)
endfunction()
