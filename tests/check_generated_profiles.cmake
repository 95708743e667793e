execute_process(
  COMMAND ${PYTHON} ${SOURCE_DIR}/tools/generate_profiles.py ${OUTPUT}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "tools/generate_profiles.py failed (${status})")
endif()
file(READ ${OUTPUT} generated)
file(READ ${SOURCE_DIR}/encoding/profiles.cpp committed)
if(NOT generated STREQUAL committed)
  message(FATAL_ERROR "encoding/profiles.cpp differs from what tools/generate_profiles.py writes")
endif()
