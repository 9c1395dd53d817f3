# Shared part of the mingw-w64 toolchain files: Debian's cross compilers with
# the posix thread model (std::thread and std::mutex), everything linked
# statically so the DLL needs nothing beyond the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KOVALITH_MINGW_PROCESSOR})

set(CMAKE_C_COMPILER ${KOVALITH_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOVALITH_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KOVALITH_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KOVALITH_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
# Release DLLs and modules without symbols: they would double their size.
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_MODULE_LINKER_FLAGS_RELEASE_INIT "-s")
