# The tool tests press keys and click captions with Qt's test helpers.
find_package(Qt6 REQUIRED COMPONENTS Test)
foreach(t tools_test_pingtool tools_test_latency tools_test_tools_netns)
  if(TARGET ${t})
    target_link_libraries(${t} PRIVATE Qt6::Test)
  endif()
endforeach()
