# Fails when a source file includes a header of a layer above its own, or of
# a sibling layer: every include points downward. From the bottom: the
# contract check and the bit cast (base/contract.h, base/bit_cast.h),
# base/thread, base/stream, base/sl, then 3d/bitmap and base/util side by
# side, framework, and app.
# -DSOURCE_DIR=<repository root>
# Which layers each folder may include, besides its own.
set(allowed_base/thread base/contract.h base/bit_cast.h)
set(allowed_base/stream ${allowed_base/thread} base/thread)
set(allowed_base/sl ${allowed_base/stream} base/stream)
set(allowed_3d/bitmap ${allowed_base/sl} base/sl)
set(allowed_base/util ${allowed_base/sl} base/sl)
set(allowed_framework ${allowed_3d/bitmap} 3d/bitmap base/util)
set(allowed_app ${allowed_framework} framework)

set(violations "")
foreach(folder base/thread base/stream base/sl 3d/bitmap base/util framework app)
  file(GLOB sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^#include \"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
      set(ok FALSE)
      foreach(prefix ${folder} ${allowed_${folder}})
        if(header STREQUAL prefix OR header MATCHES "^${prefix}/")
          set(ok TRUE)
        endif()
      endforeach()
      if(NOT ok)
        file(RELATIVE_PATH name "${SOURCE_DIR}" "${source}")
        string(APPEND violations "\n  ${name} includes ${header}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(violations)
  message(FATAL_ERROR "includes that point up or sideways:${violations}")
endif()
message(STATUS "every include points downward")
