# The data folder rules are checked on copies of a small helper program that
# prints what it sees, each run with an environment of its own.
add_executable(appdir_probe ${CMAKE_CURRENT_LIST_DIR}/appdir_probe.cpp)
target_link_libraries(appdir_probe PRIVATE idlix_platform)
add_dependencies(platform_test_appdir appdir_probe)
target_compile_definitions(platform_test_appdir PRIVATE
  IDLIX_APPDIR_PROBE="$<TARGET_FILE:appdir_probe>")
