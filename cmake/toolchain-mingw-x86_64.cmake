# 64-bit Windows programs built with mingw-w64: the same sources as the shipped 32-bit build,
# for the Wine test runs on machines whose kernel cannot start 32-bit programs.
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
