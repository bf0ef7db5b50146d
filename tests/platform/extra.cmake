# The data folder rules are checked on copies of a small helper program that
# prints what it sees, each run with an environment of its own.
add_executable(appdir_probe ${CMAKE_CURRENT_LIST_DIR}/appdir_probe.cpp)
target_link_libraries(appdir_probe PRIVATE idlix_platform)
add_dependencies(platform_test_appdir appdir_probe)
target_compile_definitions(platform_test_appdir PRIVATE
  IDLIX_APPDIR_PROBE="$<TARGET_FILE:appdir_probe>")
# A program stuck on its way out, for the second-signal test of the quit signals.
add_executable(quitsignals_probe ${CMAKE_CURRENT_LIST_DIR}/quitsignals_probe.cpp)
target_link_libraries(quitsignals_probe PRIVATE idlix_platform)
add_dependencies(platform_test_quitsignals quitsignals_probe)
target_compile_definitions(platform_test_quitsignals PRIVATE
  IDLIX_QUITSIGNALS_PROBE="$<TARGET_FILE:quitsignals_probe>")
