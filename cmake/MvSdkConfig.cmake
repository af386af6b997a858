# The module SDK as a CMake package, for a module project of its own:
#   find_package(MvSdk CONFIG REQUIRED)
# found through MvSdk_DIR, from a checkout of this repository (<checkout>/cmake) or from an
# installed prefix (<prefix>/share/mvsdk/cmake, or CMAKE_PREFIX_PATH=<prefix>); both hold the
# same files. It gives
#   - mv_add_module (mv_add_module.cmake) and mv_add_module_test (below);
#   - the framework (mv_framework, mv_exports, mv_enum_list, mv_panel) and the authors' test
#     kit (mv_test_kit), built from source with the project's compiler and flags;
#   - GoogleTest, from the system's sources (libgtest-dev);
#   - mvmhost, the host that checks the project's libraries: the build for this target, found
#     in the prefix (lib/mvsdk/<kind>/) or, from a checkout, built there in build/<kind>;
#     linked into the project's build folder;
#   - in the Windows builds, MV_WINE: the tests run under wine in a prefix of the project's.
# The toolchain files are in cmake/toolchains/ beside this file.
include_guard(GLOBAL)
get_filename_component(MV_SDK_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

option(MV_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(MV_WERROR "Treat warnings as errors" ON)
option(MV_TESTS "Build the module's tests and check its libraries" ON)
include(${MV_SDK_DIR}/cmake/mv_settings.cmake)
include(${MV_SDK_DIR}/cmake/mv_add_module.cmake)

include_directories(${MV_SDK_DIR})
if(NOT CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
if(NOT CMAKE_LIBRARY_OUTPUT_DIRECTORY)
  set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()

# mv_add_module_test(<name> MODULE <module target> SOURCES <source>... [LIBS <library>...])
#
# One GoogleTest program, linked to the test kit, testing one module library as a host meets
# it: MV_MODULE_LIBRARY names the library file to load. One CTest entry, under wine for the
# Windows builds.
function(mv_add_module_test name)
  cmake_parse_arguments(PARSE_ARGV 1 T "" "MODULE" "SOURCES;LIBS")
  if(T_UNPARSED_ARGUMENTS OR NOT T_MODULE OR NOT T_SOURCES)
    message(FATAL_ERROR "mv_add_module_test(${name}): needs MODULE and SOURCES, "
                        "and knows nothing of '${T_UNPARSED_ARGUMENTS}'")
  endif()
  if(NOT MV_TESTS)
    return()
  endif()
  if(NOT TARGET mv_test_kit)
    message(FATAL_ERROR "mv_add_module_test(${name}): this SDK has no test kit (tools/mvmhost/kit)")
  endif()
  set(_library ${T_MODULE}_mvm)
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE mv_test_kit GTest::gtest_main ${T_LIBS})
  add_dependencies(${name} ${_library})
  target_compile_definitions(${name} PRIVATE
    MV_MODULE_LIBRARY="./$<TARGET_FILE_NAME:${_library}>")
  add_test(NAME ${name} COMMAND ${MV_WINE} $<TARGET_FILE:${name}>
           WORKING_DIRECTORY $<TARGET_FILE_DIR:${_library}>)
  if(MV_WINE)
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
endfunction()

set(_sdk_build ${CMAKE_BINARY_DIR}/mv_sdk)
add_subdirectory(${MV_SDK_DIR}/framework ${_sdk_build}/framework EXCLUDE_FROM_ALL)
add_subdirectory(${MV_SDK_DIR}/host ${_sdk_build}/host EXCLUDE_FROM_ALL)
if(NOT MV_TESTS)
  return()
endif()

# The test kit drives a library through mvmhost's own hosting layers.
foreach(_layer base runtime signal_io kit)
  add_subdirectory(${MV_SDK_DIR}/tools/mvmhost/${_layer} ${_sdk_build}/mvmhost_${_layer}
                   EXCLUDE_FROM_ALL)
endforeach()
if(NOT TARGET GTest::gtest_main)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${_sdk_build}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
enable_testing()

# mvmhost for this build's target.
mv_host_kind(MV_HOST_KIND)
set(MVMHOST "" CACHE FILEPATH
    "The mvmhost that checks this build's libraries; empty: the SDK's build for ${MV_HOST_KIND}")
set(_host mvmhost${CMAKE_EXECUTABLE_SUFFIX})
get_filename_component(_prefix ${MV_SDK_DIR}/../.. ABSOLUTE)
if(MVMHOST)
  set(_host_path ${MVMHOST})
elseif(EXISTS ${_prefix}/lib/mvsdk/${MV_HOST_KIND}/${_host})
  set(_host_path ${_prefix}/lib/mvsdk/${MV_HOST_KIND}/${_host})
elseif(EXISTS ${MV_SDK_DIR}/CMakePresets.json)
  # A checkout: its own build of the preset of that name, shared by every module project and
  # by its demo, made here when missing and brought up to date by every build.
  set(_host_build ${MV_SDK_DIR}/build/${MV_HOST_KIND})
  set(_host_path ${_host_build}/${_host})
  if(NOT EXISTS ${_host_build}/CMakeCache.txt)
    message(STATUS "Configuring the SDK's ${MV_HOST_KIND} build in ${_host_build}")
    execute_process(COMMAND ${CMAKE_COMMAND} --preset ${MV_HOST_KIND}
                    WORKING_DIRECTORY ${MV_SDK_DIR} OUTPUT_QUIET RESULT_VARIABLE _configured)
    if(NOT _configured EQUAL 0)
      message(FATAL_ERROR "cmake --preset ${MV_HOST_KIND} failed in ${MV_SDK_DIR}")
    endif()
  endif()
  if(NOT EXISTS ${_host_path})
    message(STATUS "mvmhost for ${MV_HOST_KIND} is not built yet: the first build makes it in "
                   "${_host_build} (about 2 minutes on two cores, 5 for native), once")
  endif()
  add_custom_target(mv_sdk_mvmhost ALL
    COMMAND ${CMAKE_COMMAND} --build ${_host_build} --target mvmhost
    COMMENT "mvmhost for ${MV_HOST_KIND}, in ${_host_build}" USES_TERMINAL VERBATIM)
else()
  message(FATAL_ERROR "No mvmhost for ${MV_HOST_KIND} in ${_prefix}/lib/mvsdk: run "
                      "cmake --install build/${MV_HOST_KIND} --prefix ${_prefix} in the SDK, "
                      "or give -DMVMHOST=PATH")
endif()
add_executable(mvmhost IMPORTED GLOBAL)
set_target_properties(mvmhost PROPERTIES IMPORTED_LOCATION ${_host_path})
# Beside the project's own libraries, for render, fuzz, compare by hand.
file(CREATE_LINK ${_host_path} ${CMAKE_BINARY_DIR}/${_host} SYMBOLIC)

if(WIN32)
  set(MV_WINEPREFIX ${CMAKE_BINARY_DIR}/../wine-prefix CACHE PATH
      "The wine prefix the Windows builds' tests run in, made on first use")
  set(MV_WINE ${MV_SDK_DIR}/cmake/mv_wine.sh ${MV_WINEPREFIX} ${CMAKE_SYSTEM_PROCESSOR})
endif()
