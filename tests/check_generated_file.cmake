# A generated source file must be what its generator writes now.
#   cmake -DPYTHON=python3 -DGENERATOR=tools/x.py -DCOMMITTED=dir/x.cpp
#         -DOUTPUT=build/x.cpp -P check_generated_file.cmake
execute_process(COMMAND ${PYTHON} ${GENERATOR} ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} failed (${status})")
endif()
file(READ ${OUTPUT} generated)
file(READ ${COMMITTED} committed)
if(NOT generated STREQUAL committed)
  message(FATAL_ERROR "${COMMITTED} differs from what ${GENERATOR} writes")
endif()
