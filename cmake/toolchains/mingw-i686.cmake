# The product: a PE32 DLL for i386, SSE2 math (x87 excess precision would change the
# counter's results).
set(MV_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
foreach(lang C CXX)
  set(CMAKE_${lang}_FLAGS_INIT "-msse2 -mfpmath=sse")
endforeach()
