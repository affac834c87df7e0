# Fails when a vector path's object file defines any symbol the linker could
# share with other code besides the path's table of entry points: a global or
# weak function there (an inline function or template instance of a shared
# header, say) could be merged with the generic copy of the same name, and
# generic code on a CPU without the instruction set would then run wide
# instructions. Everything else in those units must be local.
# -DNM=<nm> -DOBJECTS=<object files, ;-separated>
set(checked 0)
foreach(object IN LISTS OBJECTS)
  if(NOT object MATCHES "ao_vector_([a-z0-9]+)\\.cpp\\.")
    continue()
  endif()
  set(path "${CMAKE_MATCH_1}")
  string(SUBSTRING "${path}" 0 1 first)
  string(TOUPPER "${first}" first)
  string(SUBSTRING "${path}" 1 -1 rest)
  # The path's table, AoBench::k<Path>PathEntries, under the name nm lists:
  # its Itanium C++ ABI mangling, which GCC and Clang use on every supported
  # system.
  set(table_name "AoBench::k${first}${rest}PathEntries")
  set(table_identifier "k${first}${rest}PathEntries")
  string(LENGTH "${table_identifier}" table_length)
  set(table "_ZN7AoBench${table_length}${table_identifier}E")
  execute_process(COMMAND "${NM}" --defined-only "${object}" OUTPUT_VARIABLE listing RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} could not read ${object}")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  set(shared "")
  set(found_table FALSE)
  foreach(line IN LISTS lines)
    # "<address> <type> <name>"; upper-case types and the weak and unique
    # kinds are visible to the linker.
    if(line MATCHES "^[0-9a-fA-F]* ([A-Zuvw]) (.+)$")
      set(name "${CMAKE_MATCH_2}")
      if(name STREQUAL table)
        set(found_table TRUE)
      elseif(name STREQUAL "__odr_asan.${table}")
        # AddressSanitizer's one-definition-rule marker of the table itself.
      elseif(name MATCHES "^DW\\.ref\\.")
        # The unwinder's pointer to the C++ personality routine, data that
        # every unit with a cleanup shares: no code of the unit's.
      else()
        string(APPEND shared "\n  ${CMAKE_MATCH_1} ${name}")
      endif()
    endif()
  endforeach()
  if(shared)
    message(FATAL_ERROR "${object} defines symbols other code could share:${shared}")
  endif()
  if(NOT found_table)
    message(FATAL_ERROR "${object} does not define ${table_name} (${table})")
  endif()
  message(STATUS "${object}: only ${table_name} is visible to the linker")
  math(EXPR checked "${checked} + 1")
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no vector path object among: ${OBJECTS}")
endif()
