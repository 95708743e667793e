# Cross-builds for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu); the tests run under qemu-user (preset linux-aarch64).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
