# Fails when a vector path's object code holds an aligned vector move.
# Windows builds by GCC must have none (see app/CMakeLists.txt): the stack
# slots GCC spills wide registers to are not aligned there.
# -DOBJDUMP=<objdump> -DOBJECTS=<object files, ;-separated>
set(checked 0)
foreach(object IN LISTS OBJECTS)
  if(NOT object MATCHES "ao_vector_")
    continue()
  endif()
  execute_process(COMMAND "${OBJDUMP}" -d --no-show-raw-insn "${object}"
                  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} could not read ${object}")
  endif()
  # vmovaps, vmovapd, vmovdqa, vmovdqa32, vmovdqa64, and their legacy SSE
  # forms; the non-temporal moves demand alignment too.
  string(REGEX MATCHALL "[ \t](v?movap[sd]|v?movdqa(32|64)?|v?movntp[sd]|v?movntdq)[ \t][^\n]*" found "${listing}")
  list(LENGTH found count)
  if(count GREATER 0)
    list(SUBLIST found 0 5 sample)
    message(FATAL_ERROR "${object}: ${count} aligned vector moves, for example:\n${sample}")
  endif()
  string(REGEX MATCHALL "[ \t]vmov[a-z0-9]*[ \t]" moves "${listing}")
  list(LENGTH moves move_count)
  message(STATUS "${object}: ${move_count} vector moves, none aligned")
  math(EXPR checked "${checked} + 1")
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no vector path object among: ${OBJECTS}")
endif()
