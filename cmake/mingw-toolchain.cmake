# Cross-compiles for Windows with Debian's mingw-w64 (posix thread model).
# The target is chosen by ZOLT_WINDOWS_ARCH (x86_64 or i686, default x86_64);
# the libraries come from the cache that packaging/windows/build fills.
#   cmake -S . -B build-win -G Ninja --toolchain cmake/mingw-toolchain.cmake -DZOLT_WINDOWS_ARCH=i686
set(CMAKE_SYSTEM_NAME Windows)

if(NOT ZOLT_WINDOWS_ARCH)
  set(ZOLT_WINDOWS_ARCH "$ENV{ZOLT_WINDOWS_ARCH}")
endif()
if(NOT ZOLT_WINDOWS_ARCH)
  set(ZOLT_WINDOWS_ARCH x86_64)
endif()
if(NOT ZOLT_WINDOWS_ARCH MATCHES "^(x86_64|i686)$")
  message(FATAL_ERROR "ZOLT_WINDOWS_ARCH must be x86_64 or i686, not '${ZOLT_WINDOWS_ARCH}'")
endif()
if(NOT ZOLT_WINDOWS_DEPS)
  set(ZOLT_WINDOWS_DEPS "$ENV{ZOLT_WINDOWS_DEPS}")
endif()
if(NOT ZOLT_WINDOWS_DEPS)
  set(ZOLT_WINDOWS_DEPS /var/cache/zoltupdate/windows-deps)
endif()
# try_compile projects read this file again: hand the choices down to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZOLT_WINDOWS_ARCH ZOLT_WINDOWS_DEPS)

set(CMAKE_SYSTEM_PROCESSOR ${ZOLT_WINDOWS_ARCH})
set(_zolt_triplet ${ZOLT_WINDOWS_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${_zolt_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_zolt_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_zolt_triplet}-windres)

# The cache holds one prefix per library and Debian version; the build script
# lists the current ones in prefixes.cmake.
set(ZOLT_WINDOWS_PREFIXES "")
if(EXISTS "${ZOLT_WINDOWS_DEPS}/${ZOLT_WINDOWS_ARCH}/prefixes.cmake")
  include("${ZOLT_WINDOWS_DEPS}/${ZOLT_WINDOWS_ARCH}/prefixes.cmake")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${_zolt_triplet} ${ZOLT_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The executables run with no DLL beside them, on Windows as under Wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
