# find_package(GBSetup): the builder, and gbsetup_cpack() for CPack.
#
#   find_package(GBSetup REQUIRED)
#   set(CPACK_PACKAGE_VENDOR "...")      # and the other CPACK_* values
#   gbsetup_cpack()                      # before include(CPack)
#   include(CPack)
#
# `cpack` then stages the install tree, writes a JSON project from it and the CPACK_* values,
# runs `gbsetup build` on it, and leaves the setup in the build folder.
cmake_minimum_required(VERSION 3.19)  # CPack's External generator returning its packages

# A build tree writes GBSetupBuildTree.cmake beside a copy of this file; an installed package
# finds the builder in <prefix>/bin.
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/GBSetupBuildTree.cmake")
  include("${CMAKE_CURRENT_LIST_DIR}/GBSetupBuildTree.cmake")
endif()
if(NOT GBSETUP_EXECUTABLE)
  get_filename_component(_gbsetup_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
  find_program(GBSETUP_EXECUTABLE gbsetup HINTS "${_gbsetup_prefix}/bin" NO_CMAKE_FIND_ROOT_PATH)
endif()
set(GBSETUP_CPACK_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/GBSetupCPack.cmake")

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(GBSetup REQUIRED_VARS GBSETUP_EXECUTABLE GBSETUP_CPACK_SCRIPT)

# Chooses CPack's External generator with staging and this package's script, and fills in the
# CPACK_GBSETUP_* values that come from the configuration (the architecture, the builder).
macro(gbsetup_cpack)
  set(CPACK_GENERATOR External)
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_REQUESTED_VERSIONS 1.0)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${GBSETUP_CPACK_SCRIPT}")
  if(NOT CPACK_GBSETUP_EXECUTABLE)
    set(CPACK_GBSETUP_EXECUTABLE "${GBSETUP_EXECUTABLE}")
  endif()
  # The setup's architecture follows the program's: a 64-bit toolchain gives an x64 setup.
  if(NOT CPACK_GBSETUP_ARCH)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(CPACK_GBSETUP_ARCH x64)
    else()
      set(CPACK_GBSETUP_ARCH x86)
    endif()
  endif()
endmacro()
