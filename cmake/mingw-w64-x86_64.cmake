# Cross-compiles the Windows programs with the 64-bit mingw-w64 toolchain (posix threads model).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOLLWICK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLLWICK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLLWICK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLLWICK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLLWICK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry their runtime with them and need only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
