# Install and package tests install the built program from the build folder.
add_dependencies(app_test_install idlix)
target_compile_definitions(app_test_install PRIVATE IDLIX_BINARY_DIR="${CMAKE_BINARY_DIR}")
# The headless service's tests start the built program, which hands over to
# idlix-headless (built with it).
foreach(_t app_test_headless app_test_headless_netns)
  if(TARGET ${_t})
    add_dependencies(${_t} idlix)
  endif()
endforeach()
if(TARGET app_test_serviceunits)
  add_dependencies(app_test_serviceunits idlix)
endif()
