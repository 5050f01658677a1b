# Third-party code, all from Debian: nlohmann-json and zlib as installed
# packages, pugixml and minizip from the source packages fetched by
# tools/setup.sh, GoogleTest from /usr/src/googletest.

# nlohmann: copy the headers so the cross compiler never sees /usr/include.
set(WEX_HOST_NLOHMANN /usr/include/nlohmann)
if(NOT EXISTS ${WEX_HOST_NLOHMANN}/json.hpp)
  message(FATAL_ERROR "nlohmann-json3-dev is missing: run tools/setup.sh")
endif()
file(COPY ${WEX_HOST_NLOHMANN} DESTINATION ${CMAKE_BINARY_DIR}/third_party_include)
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/third_party_include)

# zlib from libz-mingw-w64-dev (found under the toolchain's root).
find_library(WEX_ZLIB_LIBRARY NAMES libz.a z REQUIRED)
find_path(WEX_ZLIB_INCLUDE zlib.h REQUIRED)
add_library(zlib_static STATIC IMPORTED)
set_target_properties(zlib_static PROPERTIES IMPORTED_LOCATION ${WEX_ZLIB_LIBRARY}
                      INTERFACE_INCLUDE_DIRECTORIES ${WEX_ZLIB_INCLUDE})

file(GLOB WEX_PUGIXML_DIR LIST_DIRECTORIES true "${WEX_THIRD_PARTY_DIR}/pugixml-*")
file(GLOB WEX_MINIZIP_DIR LIST_DIRECTORIES true "${WEX_THIRD_PARTY_DIR}/minizip-*")
if(NOT WEX_PUGIXML_DIR OR NOT WEX_MINIZIP_DIR)
  message(FATAL_ERROR "pugixml or minizip sources missing in ${WEX_THIRD_PARTY_DIR}: run tools/setup.sh")
endif()
list(GET WEX_PUGIXML_DIR 0 WEX_PUGIXML_DIR)
list(GET WEX_MINIZIP_DIR 0 WEX_MINIZIP_DIR)

# pugixml in wide-character mode: the define is public so every includer agrees.
add_library(pugixml_wide STATIC ${WEX_PUGIXML_DIR}/src/pugixml.cpp)
target_include_directories(pugixml_wide SYSTEM PUBLIC ${WEX_PUGIXML_DIR}/src)
target_compile_definitions(pugixml_wide PUBLIC PUGIXML_WCHAR_MODE)
target_compile_options(pugixml_wide PRIVATE -w)

# minizip's unzip layer only; the skin is read from memory through our own
# file-function table, so no Win32 file layer is needed.
add_library(minizip_unzip STATIC ${WEX_MINIZIP_DIR}/unzip.c ${WEX_MINIZIP_DIR}/ioapi.c)
target_include_directories(minizip_unzip SYSTEM PUBLIC ${WEX_MINIZIP_DIR})
target_compile_definitions(minizip_unzip PUBLIC NOUNCRYPT)
target_compile_options(minizip_unzip PRIVATE -w)
target_link_libraries(minizip_unzip PUBLIC zlib_static)

if(WEX_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
