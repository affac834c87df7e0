# GoogleTest for the tests. A native build with the system's own standard
# library uses the installed package (libgtest-dev). A cross build, or one
# with another standard library (libc++), cannot link that package's
# binaries: there GoogleTest is compiled from Debian's sources (package
# googletest, /usr/src/googletest) into the build tree, with the build's own
# compiler and flags.
set(kav_gtest_default OFF)
if(CMAKE_CROSSCOMPILING)
  set(kav_gtest_default ON)
endif()
option(KAV_GTEST_FROM_SOURCE "Compile GoogleTest from its sources into the build tree" ${kav_gtest_default})
set(KAV_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest's sources, for KAV_GTEST_FROM_SOURCE")

if(KAV_GTEST_FROM_SOURCE)
  if(NOT EXISTS "${KAV_GTEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest's sources are not in ${KAV_GTEST_SOURCE_DIR}: "
                        "install them with scripts/install-deps.sh (Debian package googletest) "
                        "or set KAV_GTEST_SOURCE_DIR")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory("${KAV_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  # Its own warnings are not this project's to fix.
  foreach(target gtest gtest_main)
    if(NOT MSVC)
      target_compile_options(${target} PRIVATE -w)
    endif()
  endforeach()
  set(GTest_FOUND TRUE)
else()
  find_package(GTest)
endif()
