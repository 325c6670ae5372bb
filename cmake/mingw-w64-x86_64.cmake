# Cross-compiles korvella.exe for Windows x86-64 with MinGW-w64 (the -posix
# compilers) and runs what it builds under Wine, in a prefix of the build's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Where there is no futex, GCC 12's libstdc++ builds std::binary_semaphore on its
# atomic wait, and a hand-over between two threads hangs (seen under Wine); its
# POSIX-semaphore build (winpthreads) works. For every file alike: the two differ
# in layout.
set(CMAKE_CXX_FLAGS_INIT -D_GLIBCXX_USE_POSIX_SEMAPHORE=1)

# No DLL beside korvella.exe: the C++ runtime and winpthreads go inside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run;${CMAKE_BINARY_DIR}/wine")
