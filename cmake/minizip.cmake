# minizip, as the target formwell_minizip (the unzip API; zlib comes with it).
# Linux: Debian's libminizip-dev. Windows: minizip's C sources taken at configure time from the zlib
# tree that Debian's binutils-source carries; they are unpacked into the build tree, never committed.
if(TARGET formwell_minizip)
  return()
endif()

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  find_package(ZLIB REQUIRED)
  add_library(formwell_minizip INTERFACE)
  target_link_libraries(formwell_minizip INTERFACE PkgConfig::MINIZIP ZLIB::ZLIB)
  return()
endif()

# Static zlib: the programs carry no DLL beyond those Windows has.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
file(GLOB binutils_tarball /usr/src/binutils/binutils-*.tar.xz)
if(NOT binutils_tarball)
  message(FATAL_ERROR "minizip's sources come from Debian's binutils-source (run scripts/setup.sh)")
endif()
list(GET binutils_tarball 0 binutils_tarball)
string(REGEX REPLACE "\\.tar\\.xz$" "" binutils_dir "${binutils_tarball}")
get_filename_component(binutils_dir ${binutils_dir} NAME)
set(minizip_src ${CMAKE_BINARY_DIR}/_deps/${binutils_dir}/zlib/contrib/minizip)
set(minizip_files ioapi.c ioapi.h unzip.c unzip.h zip.c zip.h crypt.h)
if(NOT EXISTS ${minizip_src}/unzip.c)
  set(members)
  foreach(f ${minizip_files})
    list(APPEND members ${binutils_dir}/zlib/contrib/minizip/${f})
  endforeach()
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/_deps)
  execute_process(COMMAND tar -xJf ${binutils_tarball} ${members}
                  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/_deps RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "could not unpack minizip's sources from ${binutils_tarball}")
  endif()
endif()

add_library(formwell_minizip STATIC ${minizip_src}/ioapi.c ${minizip_src}/unzip.c)
# The headers are included as <minizip/unzip.h>, as Debian installs them.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/_deps/include)
file(CREATE_LINK ${minizip_src} ${CMAKE_BINARY_DIR}/_deps/include/minizip SYMBOLIC)
target_include_directories(formwell_minizip PUBLIC ${CMAKE_BINARY_DIR}/_deps/include PRIVATE ${minizip_src})
target_compile_definitions(formwell_minizip PRIVATE NOCRYPT NOUNCRYPT)
target_compile_options(formwell_minizip PRIVATE -w)
target_link_libraries(formwell_minizip PUBLIC ZLIB::ZLIB)
