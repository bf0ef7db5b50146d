# The print dialog's tests load the module from where the build put it, and
# try a library of the build that is not it.
add_dependencies(desktop_test_printdialog idlix-print)
target_link_libraries(desktop_test_printdialog PRIVATE Qt6::PrintSupport)
target_compile_definitions(desktop_test_printdialog PRIVATE
  IDLIX_PRINT_MODULE="$<TARGET_FILE:idlix-print>"
  IDLIX_NOT_PRINT_MODULE="$<TARGET_LINKER_FILE:Qt6::Core>")
