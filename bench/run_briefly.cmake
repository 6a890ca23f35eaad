# Runs every benchmark once, briefly, to show that each still builds and runs (the test
# Bench.EachRunsOnceBriefly): one repetition of one iteration, and of a benchmark registered with
# several sizes only its first, the smallest, so that a run under the sanitizers takes seconds.
#   cmake -DBENCH=<appbridge_bench> -P run_briefly.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${BENCH} --benchmark_list_tests=true OUTPUT_VARIABLE listed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${BENCH} could not list its benchmarks (${status})")
endif()
string(REPLACE "\n" ";" listed "${listed}")
set(families)
set(kept)
foreach(line IN LISTS listed)
  # Benchmark names have no blanks; the lines printed after the list (the figures' titles) have.
  if(NOT line MATCHES "^[A-Za-z_][A-Za-z0-9_]*(/[^ ]*)?$")
    continue()
  endif()
  string(REGEX REPLACE "/.*" "" family "${line}")
  if(NOT family IN_LIST families)
    list(APPEND families ${family})
    list(APPEND kept ${line})
  endif()
endforeach()
if(NOT kept)
  message(FATAL_ERROR "${BENCH} listed no benchmark")
endif()
list(JOIN kept "|" filter)
execute_process(COMMAND ${BENCH} --benchmark_min_time=0 --benchmark_repetitions=1 "--benchmark_filter=^(${filter})$"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${BENCH} failed (${status})")
endif()
