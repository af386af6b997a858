# A mingw-w64 cross build for MV_MINGW_PROCESSOR, runtime linked in statically so the DLL
# imports from Windows system DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MV_MINGW_PROCESSOR})
set(_triplet ${MV_MINGW_PROCESSOR}-w64-mingw32)
# MV_MINGW_THREADS=posix: the compilers whose runtime has std::mutex and std::thread, which
# GoogleTest needs; a module project's Windows builds, which run their tests, take them.
if(MV_MINGW_THREADS STREQUAL "posix")
  set(_threads -posix)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MV_MINGW_THREADS)
set(CMAKE_C_COMPILER ${_triplet}-gcc${_threads})
set(CMAKE_CXX_COMPILER ${_triplet}-g++${_threads})
set(CMAKE_RC_COMPILER ${_triplet}-windres)
set(MV_OBJDUMP ${_triplet}-objdump)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endforeach()
set(CMAKE_FIND_ROOT_PATH /usr/${_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
