# Build for WebAssembly with Debian's Emscripten (package emscripten, em++
# 3.1.6), threads included. Programs run under Node.js, which CTest uses as
# the emulator for every test (run-under-node.sh); they reach the host's
# files directly (NODERAWFS), so a test or the benchmark sees the same folders
# as on the other systems. The web page links its own entry point without
# NODERAWFS (web/CMakeLists.txt).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/run-under-node.sh)
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

# Emscripten's optimizer is a Node.js program that needs Debian's acorn,
# which this Node finds only through NODE_PATH.
set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
set(CMAKE_C_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
set(CMAKE_C_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)

# Threads: every unit is compiled for shared memory. C++ exceptions are
# caught (Emscripten's default compiles them as aborts).
set(CMAKE_CXX_FLAGS_INIT "-pthread -fexceptions")
set(CMAKE_C_FLAGS_INIT "-pthread -fexceptions")
# PTHREAD_POOL_SIZE: the workers are started with the program, before main,
# because a thread start beyond the pool would wait for the JavaScript event
# loop, which a blocked caller never gives back; PTHREAD_POOL_SIZE_STRICT=2
# refuses such a start instead (EAGAIN), which the framework reports like any
# thread the system refuses. The benchmark needs four, the tests at most
# eleven; a test program that holds more threads at once links a larger pool
# of its own (kav_add_test's THREADS). EXIT_RUNTIME: the program ends when
# main returns, pool or not.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-pthread -fexceptions -sPTHREAD_POOL_SIZE=12 -sPTHREAD_POOL_SIZE_STRICT=2 -sEXIT_RUNTIME=1 -sNODERAWFS=1 -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2GB -sINITIAL_MEMORY=64MB -Wno-pthreads-mem-growth")
