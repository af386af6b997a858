# cmake --install of a build: the SDK a module project of its own finds with
# find_package(MvSdk CONFIG), laid out under <prefix>/share/mvsdk as in a checkout (the cmake
# files and toolchains, the framework's, host's and test kit's sources, the export
# inspections), and this build's mvmhost in <prefix>/lib/mvsdk/<kind>/ (the release build's
# in <prefix>/bin too). Installing each preset's build adds its mvmhost.
include(CMakePackageConfigHelpers)
set(_share share/mvsdk)
install(DIRECTORY cmake/ DESTINATION ${_share}/cmake USE_SOURCE_PERMISSIONS)
install(DIRECTORY framework host DESTINATION ${_share})
install(DIRECTORY tools/mvmhost/base tools/mvmhost/runtime tools/mvmhost/signal_io
        tools/mvmhost/kit DESTINATION ${_share}/tools/mvmhost)
install(PROGRAMS tests/host/check_elf.sh tests/host/check_pe.sh DESTINATION ${_share}/tests/host)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/MvSdkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${PROJECT_BINARY_DIR}/MvSdkConfigVersion.cmake DESTINATION ${_share}/cmake)

mv_host_kind(_kind)
install(TARGETS mvmhost RUNTIME DESTINATION lib/mvsdk/${_kind})
if(_kind STREQUAL "release")
  install(TARGETS mvmhost RUNTIME DESTINATION bin)
endif()
