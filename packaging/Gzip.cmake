# cmake -DIN=<file> -DOUT=<file.gz> -P Gzip.cmake: compresses as Debian wants it, at the highest
# level and without the name and time stamp of the input, so that builds repeat byte for byte.
execute_process(COMMAND gzip -9n INPUT_FILE ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${IN}")
endif()
