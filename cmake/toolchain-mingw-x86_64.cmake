# 64-bit Windows (x86-64).
set(KOVALITH_MINGW_TRIPLE x86_64-w64-mingw32)
set(KOVALITH_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
