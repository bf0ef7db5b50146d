# The scripted loopback server joins the shared test support library; the
# response parser gets a libFuzzer target when the compiler is clang.
target_sources(idlix_testsupport PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/scriptserver.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/scriptserver.h)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(net_fuzz_http ${CMAKE_CURRENT_LIST_DIR}/fuzz_http.cpp)
  target_compile_options(net_fuzz_http PRIVATE -fsanitize=fuzzer,address)
  target_link_options(net_fuzz_http PRIVATE -fsanitize=fuzzer,address)
  target_link_libraries(net_fuzz_http PRIVATE idlix_net)
endif()
