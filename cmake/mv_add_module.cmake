# mv_add_module(<target> FILE <file name> SOURCES <source>... [AVX2_SOURCES <source>...]
#               [LIBS <library>...] [OWN_EXPORTS] [NO_TESTS])
#
# One module library, from the sources of one folder. Makes two targets:
#
#   <target>      a static library of SOURCES and AVX2_SOURCES, linked to mv_framework and to
#                 LIBS: what the module's tests link, the very code the loadable library ships.
#   <target>_mvm  the loadable library, written as FILE (e.g. COUNTreset1.mvm) beside the
#                 other programs of the build. It exports exactly getModuleProperties and
#                 makeModule, undecorated: on Windows through a .def made from module.def.in,
#                 which puts FILE in the export table as the library's own name, with the
#                 runtime linked in statically; elsewhere through module.map.
#
# The sources define the library's mv::libraryModule (host/library.h) and get the two exports
# of host/exports.cpp; OWN_EXPORTS: they define the two exports themselves instead (libraries
# that fail a host on purpose). Everything is built without exception support, with SSE2 math
# on 32-bit x86. Only AVX2_SOURCES are compiled for AVX2: call their code only where the
# processor has it.
#
# With MV_TESTS on, every module library gets these checks, unless NO_TESTS (for libraries
# made to fail them):
#   <target>_exports  the export inspection (tests/host/check_elf.sh, or check_pe.sh on Windows)
#   <target>_check    mvmhost check --strict on the library. A module project runs it under
#                     wine for the Windows builds (MV_WINE, set by MvSdkConfig.cmake); this
#                     repository's Windows builds run it instead in the one wine process of
#                     their mvmhost_wine test, which reads the list of libraries from the
#                     global property MV_CHECKED_MODULES.
#
# Example, in modules/<name>/CMakeLists.txt:
#   mv_add_module(my_module FILE MyModule1.mvm SOURCES my_module.cpp)

include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/mv_settings.cmake)
# The SDK's root, a checkout or an installed share/mvsdk: both hold cmake/ and tests/host/.
get_filename_component(MV_SDK_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

function(mv_add_module target)
  cmake_parse_arguments(PARSE_ARGV 1 M "OWN_EXPORTS;NO_TESTS" "FILE" "SOURCES;AVX2_SOURCES;LIBS")
  if(M_UNPARSED_ARGUMENTS OR NOT M_FILE OR NOT M_SOURCES)
    message(FATAL_ERROR "mv_add_module(${target}): needs FILE and SOURCES, "
                        "and knows nothing of '${M_UNPARSED_ARGUMENTS}'")
  endif()

  add_library(${target} STATIC ${M_SOURCES} ${M_AVX2_SOURCES})
  target_link_libraries(${target} PUBLIC mv_framework ${M_LIBS})
  # 64-bit Windows cannot align the stack for 32-byte spills, so they are assembled unaligned.
  set(_avx2_flags -mavx2 $<$<BOOL:${WIN32}>:-Wa,-muse-unaligned-vector-move>)
  if(M_AVX2_SOURCES)
    set_source_files_properties(${M_AVX2_SOURCES} PROPERTIES COMPILE_OPTIONS "${_avx2_flags}")
  endif()

  set(_library ${target}_mvm)
  if(M_OWN_EXPORTS)
    # Nothing outside the module's code asks for its exports: take all of its objects.
    add_library(${_library} SHARED $<TARGET_OBJECTS:${target}>)
  else()
    add_library(${_library} SHARED $<TARGET_OBJECTS:mv_exports>)
  endif()
  target_link_libraries(${_library} PRIVATE ${target})
  get_filename_component(_stem ${M_FILE} NAME_WE)
  get_filename_component(_ext ${M_FILE} LAST_EXT)
  set_target_properties(${_library} PROPERTIES PREFIX "" OUTPUT_NAME ${_stem} SUFFIX ${_ext})

  foreach(_t ${target} ${_library})
    target_compile_options(${_t} PRIVATE -fno-exceptions)
    # x87 excess precision would change a module's results.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
      target_compile_options(${_t} PRIVATE -msse2 -mfpmath=sse)
    endif()
  endforeach()

  if(WIN32)
    set(MV_MODULE_FILE ${M_FILE})
    set(_def ${CMAKE_CURRENT_BINARY_DIR}/${_library}.def)
    configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/module.def.in ${_def} @ONLY)
    target_sources(${_library} PRIVATE ${_def})
    target_link_options(${_library} PRIVATE -s -static -static-libgcc -static-libstdc++)
  else()
    set(_map ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/module.map)
    target_link_options(${_library} PRIVATE -Wl,--no-undefined -Wl,--version-script=${_map})
    set_target_properties(${_library} PROPERTIES LINK_DEPENDS ${_map})
  endif()

  if(NOT MV_TESTS OR M_NO_TESTS)
    return()
  endif()
  if(WIN32)
    add_test(NAME ${target}_exports
      COMMAND ${MV_SDK_DIR}/tests/host/check_pe.sh ${MV_OBJDUMP}
              $<TARGET_FILE:${_library}> ${M_FILE} ${CMAKE_SYSTEM_PROCESSOR})
  else()
    add_test(NAME ${target}_exports
      COMMAND ${MV_SDK_DIR}/tests/host/check_elf.sh $<TARGET_FILE:${_library}>)
  endif()
  if(WIN32 AND NOT MV_WINE)
    set_property(GLOBAL APPEND PROPERTY MV_CHECKED_MODULES ${_library})
  else()
    # Wine maps no Unix path onto a drive: the library is named from its own folder.
    add_test(NAME ${target}_check
      COMMAND ${MV_WINE} $<TARGET_FILE:mvmhost> check ./$<TARGET_FILE_NAME:${_library}> --strict
      WORKING_DIRECTORY $<TARGET_FILE_DIR:${_library}>)
    if(MV_WINE)
      set_tests_properties(${target}_check PROPERTIES SKIP_RETURN_CODE 77)
    endif()
  endif()
endfunction()
