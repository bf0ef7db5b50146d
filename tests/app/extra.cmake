# The window tests drive the widgets with simulated keys and mouse clicks.
find_package(Qt6 REQUIRED COMPONENTS Test)
foreach(t app_test_mainform app_test_settings app_test_holdform)
  if(TARGET ${t})
    target_link_libraries(${t} PRIVATE Qt6::Test)
  endif()
endforeach()
