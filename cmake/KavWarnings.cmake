# Warning and floating-point flags shared by every target of the project.
add_library(kav_options INTERFACE)

if(MSVC)
  target_compile_options(kav_options INTERFACE /W4 /permissive- /fp:precise)
else()
  target_compile_options(kav_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow
    # The render's results are defined to single-precision rounding of each
    # operation: never fuse a multiply and an add, never relax IEEE semantics.
    -ffp-contract=off -fno-fast-math)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 reports std::string concatenation inside libstdc++ as an
    # overlapping memcpy at -O2 and above (a known false positive).
    target_compile_options(kav_options INTERFACE -Wno-restrict)
  endif()
endif()

option(KAV_WERROR "Treat warnings as errors" OFF)
if(KAV_WERROR)
  if(MSVC)
    target_compile_options(kav_options INTERFACE /WX)
  else()
    target_compile_options(kav_options INTERFACE -Werror)
  endif()
endif()

# Helper: a framework static library. Its headers are included by their path
# from the repository root, which becomes include/kav once installed. The
# warning flags reach the targets of this build only, never a program built
# against an installed framework.
function(kav_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
                                            $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/kav>)
  target_link_libraries(${name} PUBLIC $<BUILD_INTERFACE:kav_options>)
endfunction()
