# Install and package tests install the built program from the build folder.
add_dependencies(app_test_install idlix)
target_compile_definitions(app_test_install PRIVATE IDLIX_BINARY_DIR="${CMAKE_BINARY_DIR}")
# The headless service's tests start the built program, which hands over to
# idlix-headless (built with it).
foreach(_t app_test_headless app_test_headless_netns app_test_headless_everykind_netns)
  if(TARGET ${_t})
    add_dependencies(${_t} idlix)
  endif()
endforeach()
if(TARGET app_test_serviceunits)
  add_dependencies(app_test_serviceunits idlix)
endif()

# The README's package command on a fresh copy of the sources, packing the
# program this build made. Not a test_* file: it gets a time-out of its own.
add_executable(app_package_check ${CMAKE_CURRENT_LIST_DIR}/package_check.cpp)
target_link_libraries(app_package_check PRIVATE idlix_testmain idlix_app)
add_dependencies(app_package_check idlix)
target_compile_definitions(app_package_check PRIVATE IDLIX_BINARY_DIR="${CMAKE_BINARY_DIR}")
add_test(NAME app.package_check COMMAND app_package_check)
set_tests_properties(app.package_check PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
  TIMEOUT 600 SKIP_RETURN_CODE 77)
