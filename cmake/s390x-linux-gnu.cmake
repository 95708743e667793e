# Cross-builds for big-endian IBM Z Linux with Debian's cross compiler
# (g++-s390x-linux-gnu); the tests run under qemu-user (preset linux-s390x).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
