# WebAssembly for the npm package, with Debian's clang, wasi-libc and the
# wasm32 builds of libc++ (packages clang, lld, wasi-libc,
# libc++-14-dev-wasm32, libc++abi-14-dev-wasm32, libclang-rt-14-dev-wasm32).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_EXECUTABLE_SUFFIX .wasm)
# The try-compile of the compiler check links no program with an entry.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
