# Install and package tests install the built program from the build folder.
add_dependencies(app_test_install idlix)
target_compile_definitions(app_test_install PRIVATE IDLIX_BINARY_DIR="${CMAKE_BINARY_DIR}")
