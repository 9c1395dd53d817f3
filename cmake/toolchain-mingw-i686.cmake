# 32-bit Windows (i686). Float arithmetic in SSE registers, as on x86-64;
# only long double stays on the x87 unit.
set(KOVALITH_MINGW_TRIPLE i686-w64-mingw32)
set(KOVALITH_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
