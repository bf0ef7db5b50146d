# The report's print tests make printers of their own, and its Print button
# loads the print module from beside the program, here the test.
target_link_libraries(antiidle_test_report PRIVATE Qt6::PrintSupport)
add_dependencies(antiidle_test_report idlix-print)
add_custom_command(TARGET antiidle_test_report POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:idlix-print> $<TARGET_FILE_DIR:antiidle_test_report>)
