# The network-namespace guard, seen from outside: a probe that links only the guard reports where
# it ended up when started in namespaces of different kinds.
add_executable(netns_probe support/NetnsProbe.cpp)
target_link_libraries(netns_probe PRIVATE qv_netns_guard)
qv_add_test(netns_guard_test SOURCES support/NetnsGuardTest.cpp)
add_dependencies(netns_guard_test netns_probe)
target_compile_definitions(netns_guard_test PRIVATE QV_NETNS_PROBE="$<TARGET_FILE:netns_probe>")
