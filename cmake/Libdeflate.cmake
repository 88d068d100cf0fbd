# libdeflate: the system's (Debian's libdeflate-dev) on Linux. On Windows,
# compiled here as a static library from Debian's source package, which
# scripts/install-deps.sh fetches into .deps/, so that no DLL has to ship
# beside the programs. The version is the one in cmake/libdeflate.version.
if(WIN32)
  file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/libdeflate.version LIBDEFLATE_VERSION LIMIT_COUNT 1)
  set(LIBDEFLATE_SOURCE_DIR ${PROJECT_SOURCE_DIR}/.deps/libdeflate-${LIBDEFLATE_VERSION})
  if(NOT EXISTS ${LIBDEFLATE_SOURCE_DIR}/libdeflate.h)
    message(FATAL_ERROR "libdeflate ${LIBDEFLATE_VERSION} source not found in ${LIBDEFLATE_SOURCE_DIR}: "
                        "run scripts/install-deps.sh")
  endif()
  # Whole-buffer zlib-format decompression only; the CPU feature probes pick
  # the fastest decoder at run time.
  add_library(libdeflate_static STATIC
    ${LIBDEFLATE_SOURCE_DIR}/lib/deflate_decompress.c
    ${LIBDEFLATE_SOURCE_DIR}/lib/zlib_decompress.c
    ${LIBDEFLATE_SOURCE_DIR}/lib/adler32.c
    ${LIBDEFLATE_SOURCE_DIR}/lib/utils.c
    ${LIBDEFLATE_SOURCE_DIR}/lib/x86/cpu_features.c
  )
  # Third-party code: the warnings of its own Makefile, not the project's
  # (-Wextra alone adds some twenty about unused parameters and signedness).
  set_target_properties(libdeflate_static PROPERTIES OUTPUT_NAME deflate
    C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
  set_property(TARGET libdeflate_static PROPERTY COMPILE_OPTIONS
    -Wall -Wundef -Wdeclaration-after-statement -Wimplicit-fallthrough -Wmissing-prototypes
    -Wpedantic -Wshadow -Wstrict-prototypes -Wvla)
  target_compile_definitions(libdeflate_static PRIVATE _ANSI_SOURCE)
  target_include_directories(libdeflate_static PRIVATE ${LIBDEFLATE_SOURCE_DIR})
  target_include_directories(libdeflate_static SYSTEM INTERFACE ${LIBDEFLATE_SOURCE_DIR})
  add_library(Varnholt::libdeflate ALIAS libdeflate_static)
else()
  find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h)
  find_library(LIBDEFLATE_LIBRARY NAMES deflate)
  if(NOT LIBDEFLATE_INCLUDE_DIR OR NOT LIBDEFLATE_LIBRARY)
    message(FATAL_ERROR "libdeflate not found (header: ${LIBDEFLATE_INCLUDE_DIR}, library: ${LIBDEFLATE_LIBRARY}): "
                        "install Debian's libdeflate-dev, e.g. with scripts/install-deps.sh")
  endif()
  add_library(libdeflate_system UNKNOWN IMPORTED GLOBAL)
  set_target_properties(libdeflate_system PROPERTIES
    IMPORTED_LOCATION ${LIBDEFLATE_LIBRARY} INTERFACE_INCLUDE_DIRECTORIES ${LIBDEFLATE_INCLUDE_DIR})
  add_library(Varnholt::libdeflate ALIAS libdeflate_system)
endif()
