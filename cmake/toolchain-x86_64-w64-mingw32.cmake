# Cross build for 64-bit Windows (x64) with Debian's mingw-w64, posix thread model (std::thread, std::mutex).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
