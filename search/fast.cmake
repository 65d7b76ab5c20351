# The fast path of the scanners: the multi-word matcher and the block scanner.
target_sources(korvalen_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/matcher.cpp
               ${CMAKE_CURRENT_LIST_DIR}/fast_scan.cpp ${CMAKE_CURRENT_LIST_DIR}/fast_search.cpp)
