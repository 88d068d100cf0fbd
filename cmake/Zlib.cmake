# zlib: the system's on Linux; Debian's static mingw build on Windows, so that
# no zlib DLL has to ship beside the programs.
if(WIN32)
  find_library(ZLIB_STATIC NAMES libz.a REQUIRED)
  add_library(zlib_static STATIC IMPORTED GLOBAL)
  set_target_properties(zlib_static PROPERTIES IMPORTED_LOCATION "${ZLIB_STATIC}")
  add_library(Varnholt::zlib ALIAS zlib_static)
else()
  find_package(ZLIB REQUIRED)
  add_library(Varnholt::zlib ALIAS ZLIB::ZLIB)
endif()
