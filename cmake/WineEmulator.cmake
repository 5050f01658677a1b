# Test executables run under Wine in a private prefix inside the build tree.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(WEX_WINE_LOADER /usr/lib/wine/wine64)
else()
  set(WEX_WINE_LOADER /usr/lib/wine/wine)
endif()
set(WEX_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
