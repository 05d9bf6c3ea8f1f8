# Cross-compiles the 32-bit updater with MinGW-w64. Its programs run under
# 32-bit Wine in the private 32-bit prefix (scripts/wine32).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine32)
