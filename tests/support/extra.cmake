# The test network: the fixture joins the shared test support library, and the
# delaying echo responder is a helper executable that the fixture starts.
add_executable(echo_responder ${CMAKE_CURRENT_LIST_DIR}/echo_responder.cpp)
# The delaying DNS forwarder, started by the fixture and the benchmarks.
add_executable(dns_delay ${CMAKE_CURRENT_LIST_DIR}/dns_delay.cpp)
target_sources(idlix_testsupport PRIVATE ${CMAKE_CURRENT_LIST_DIR}/testnet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/testnet.h)
add_dependencies(idlix_testsupport echo_responder dns_delay)
target_compile_definitions(idlix_testsupport PRIVATE
  IDLIX_ECHO_RESPONDER="$<TARGET_FILE:echo_responder>"
  IDLIX_DNS_DELAY="$<TARGET_FILE:dns_delay>"
  IDLIX_TESTNET_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/testnet.sh")

# The echo benchmark's TPing side (bench/ping_bench.sh builds it on demand).
add_executable(tping_echo EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/tping_echo.cpp)
target_link_libraries(tping_echo PRIVATE idlix_net)
