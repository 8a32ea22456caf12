# The part of the Windows cross-build's toolchain that both architectures share; the
# architecture's own file sets CMAKE_SYSTEM_PROCESSOR and TOOLCHAIN_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)
find_program(CMAKE_C_COMPILER NAMES ${TOOLCHAIN_PREFIX}-gcc-posix ${TOOLCHAIN_PREFIX}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${TOOLCHAIN_PREFIX}-g++-posix ${TOOLCHAIN_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
# Libraries that Debian ships only for Linux are cross-built by scripts/install-deps.sh into
# $GBSETUP_MINGW_DEPS/<triplet> (default /opt/gbsetup).
if(DEFINED ENV{GBSETUP_MINGW_DEPS})
  set(GBSETUP_MINGW_DEPS $ENV{GBSETUP_MINGW_DEPS}/${TOOLCHAIN_PREFIX})
else()
  set(GBSETUP_MINGW_DEPS /opt/gbsetup/${TOOLCHAIN_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX} ${GBSETUP_MINGW_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Unit tests run under Wine through this wrapper; it picks the Wine of the executable's kind.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
