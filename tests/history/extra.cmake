# The session program the crash test kills.
add_executable(history_child ${CMAKE_CURRENT_LIST_DIR}/history_child.cpp)
target_link_libraries(history_child PRIVATE idlix_history)
add_dependencies(history_test_crash history_child)
target_compile_definitions(history_test_crash PRIVATE HISTORY_CHILD="$<TARGET_FILE:history_child>")
