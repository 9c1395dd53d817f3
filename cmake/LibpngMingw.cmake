# libpng for the Windows cross builds, compiled from Debian's own libpng1.6
# source package (scripts/fetch-libpng-source.sh unpacks it and passes the
# directory as KOVALITH_LIBPNG_SOURCE_DIR), against zlib from
# libz-mingw-w64-dev. Provides the static target kovalith_libpng.
set(KOVALITH_LIBPNG_SOURCE_DIR "" CACHE PATH "Unpacked libpng1.6 source package")
if(NOT EXISTS "${KOVALITH_LIBPNG_SOURCE_DIR}/png.h")
  message(FATAL_ERROR "KOVALITH_LIBPNG_SOURCE_DIR='${KOVALITH_LIBPNG_SOURCE_DIR}' holds no libpng source; "
                      "scripts/build-windows.sh fetches it")
endif()
# Static zlib only: the DLL must not import zlib1.dll.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
find_package(ZLIB REQUIRED)

set(libpng_config_dir ${CMAKE_BINARY_DIR}/libpng-config)
configure_file(${KOVALITH_LIBPNG_SOURCE_DIR}/scripts/pnglibconf.h.prebuilt
               ${libpng_config_dir}/pnglibconf.h COPYONLY)

set(libpng_sources "")
foreach(name png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset pngtrans
             pngwio pngwrite pngwtran pngwutil)
  list(APPEND libpng_sources ${KOVALITH_LIBPNG_SOURCE_DIR}/${name}.c)
endforeach()
# Built only when something links it (the toolkit, the Windows tests).
add_library(kovalith_libpng STATIC EXCLUDE_FROM_ALL ${libpng_sources})
target_include_directories(kovalith_libpng SYSTEM PUBLIC ${KOVALITH_LIBPNG_SOURCE_DIR} ${libpng_config_dir})
target_link_libraries(kovalith_libpng PUBLIC ZLIB::ZLIB)
# Third-party code: its own warnings are not ours to fix.
target_compile_options(kovalith_libpng PRIVATE -w)
