# The objects compiled for one instruction set must define nothing that the
# linker could hand to code of another: no function or object of external
# linkage but the kernel table itself. An inline function in a header would
# show here as a weak symbol (in a build that does not inline it), and the
# linker may keep that AVX2 copy for every caller.
#   cmake -DNM=nm -DOBJECTS="a.o|b.o" -P check_kernel_symbols.cmake
string(REPLACE "|" ";" objects "${OBJECTS}")
set(checked 0)
foreach(object IN LISTS objects)
  if(NOT object MATCHES "kernels_(sse2|avx2)")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  execute_process(COMMAND ${NM} --defined-only -C ${object}
    OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REPLACE "\n" ";" symbols "${symbols}")
  foreach(line IN LISTS symbols)
    # Upper-case types are external; DW.ref.* is the exception handling's,
    # __odr_asan.* AddressSanitizer's mark beside each global.
    if(NOT line MATCHES "^[0-9a-f]* [A-Z] (.*)$")
      continue()
    endif()
    set(name "${CMAKE_MATCH_1}")
    if(NOT name MATCHES
       "^(my::.*k(SSE2|AVX2)Kernels|__odr_asan\\..*k(SSE2|AVX2)KernelsE|DW\\.ref\\.__gxx_personality_v0)$")
      message(SEND_ERROR "${object} defines ${name}")
    endif()
  endforeach()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no instruction set's objects among ${OBJECTS}")
endif()
