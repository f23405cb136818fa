# Runs PROGRAM with ARGS (words separated by blanks) and writes what it prints to OUTPUT,
# compressed with gzip -9n (no name, no time stamp) when OUTPUT ends in ".gz".
# The program is this build's own: in a sanitizer build its leak check is
# switched off, since a build step is no place to report leaks.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")
set(ENV{QT_QPA_PLATFORM} "offscreen")
string(REGEX REPLACE "\\.gz$" "" plain "${OUTPUT}")
separate_arguments(args UNIX_COMMAND "${ARGS}")
execute_process(COMMAND "${PROGRAM}" ${args} OUTPUT_FILE "${plain}.tmp" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ${ARGS} failed: ${rc}")
endif()
if(OUTPUT MATCHES "\\.gz$")
  execute_process(COMMAND gzip -9n -c "${plain}.tmp" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip ${plain}.tmp failed: ${rc}")
  endif()
  file(REMOVE "${plain}.tmp")
else()
  file(RENAME "${plain}.tmp" "${OUTPUT}")
endif()
