# The same sources for 64-bit Windows. Used to run the tests on hosts that
# cannot execute 32-bit processes (and so cannot run 32-bit Wine).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(WEX_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
