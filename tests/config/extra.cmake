# A save of the settings, run under strace to count its writes and to kill it
# at each of its system calls.
add_executable(savesettings_probe ${CMAKE_CURRENT_LIST_DIR}/savesettings_probe.cpp)
target_link_libraries(savesettings_probe PRIVATE idlix_config)
add_dependencies(config_test_optionsfile savesettings_probe)
target_compile_definitions(config_test_optionsfile PRIVATE
  IDLIX_SAVESETTINGS_PROBE="$<TARGET_FILE:savesettings_probe>")
