# Generated source files must be what their generator writes now.
#   cmake -DPYTHON=python3 -DGENERATOR=tools/x.py -DCOMMITTED=dir/x.cpp|dir/y.cpp
#         -DOUTPUT=build/x.cpp|build/y.cpp -P check_generated_file.cmake
string(REPLACE "|" ";" committed_files "${COMMITTED}")
string(REPLACE "|" ";" output_files "${OUTPUT}")
execute_process(COMMAND ${PYTHON} ${GENERATOR} ${output_files} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} failed (${status})")
endif()
foreach(committed_file output_file IN ZIP_LISTS committed_files output_files)
  file(READ ${output_file} generated)
  file(READ ${committed_file} committed)
  if(NOT generated STREQUAL committed)
    message(FATAL_ERROR "${committed_file} differs from what ${GENERATOR} writes")
  endif()
endforeach()
