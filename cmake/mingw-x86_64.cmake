# Cross-compiles for 64-bit Windows with MinGW-w64. The test build uses it: the
# same sources as the 32-bit updater, run natively by 64-bit Wine
# (scripts/wine64), which is fast on every machine; 32-bit Wine needs 32-bit
# execution, which some kernels switch off.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine64)
