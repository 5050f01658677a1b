# Shared by the MinGW toolchain files; WEX_TRIPLE and the processor are set first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${WEX_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WEX_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${WEX_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${WEX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Everything static: the exe must run with no MinGW DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
