# Tests of the scanners' fast path.
korvalen_test(fast_scan_test ${CMAKE_CURRENT_LIST_DIR}/fast_scan_test.cpp)
korvalen_test(fast_diff_test ${CMAKE_CURRENT_LIST_DIR}/fast_diff_test.cpp)
korvalen_test(fast_utf8_test ${CMAKE_CURRENT_LIST_DIR}/fast_utf8_test.cpp)
