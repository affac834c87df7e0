# GoogleTest for the tests: the installed package (libgtest-dev) where there
# is one, else compiled from Debian's sources (package googletest, which
# libgtest-dev brings along) into the build tree with the build's own
# compiler and flags. A cross build, or one with another standard library
# (libc++), cannot link the package's binaries: those always compile the
# sources (KAV_GTEST_FROM_SOURCE, on by default when cross-compiling).
include(FetchContent)

set(kav_gtest_default OFF)
if(CMAKE_CROSSCOMPILING)
  set(kav_gtest_default ON)
endif()
option(KAV_GTEST_FROM_SOURCE "Compile GoogleTest from its sources into the build tree" ${kav_gtest_default})
set(KAV_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest's sources, where no package is used")

if(KAV_GTEST_FROM_SOURCE)
  set(FETCHCONTENT_TRY_FIND_PACKAGE_MODE NEVER)
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
FetchContent_Declare(googletest SOURCE_DIR "${KAV_GTEST_SOURCE_DIR}" SYSTEM FIND_PACKAGE_ARGS NAMES GTest)
FetchContent_MakeAvailable(googletest)

if(TARGET gtest)
  # Compiled here: its own warnings are not this project's to fix.
  foreach(target gtest gtest_main)
    if(NOT MSVC)
      target_compile_options(${target} PRIVATE -w)
    endif()
  endforeach()
endif()
