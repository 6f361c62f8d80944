# Tests that talk to the private loopback servers started by peers.py.
#
#   include(${CMAKE_SOURCE_DIR}/tests/peers/Peers.cmake)
#   mt_add_peer_test(NAME SOURCES a.cpp ... LIBS lib...)
#
# builds test_NAME and marks every test in it as needing the fixture
# "mt_peers": ctest starts the servers before the first such test and stops
# them after the last.  Each build tree has its own server directory (and
# ports chosen from it), so a normal and a sanitizer build do not meet.
include_guard(GLOBAL)
include(GoogleTest)

string(MD5 _mt_peers_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_mt_peers_hash}" 0 8 _mt_peers_hash)
# Short on purpose: dovecot and INN put unix sockets below it.
set(MT_PEERS_DIR "/tmp/mtpeers-${_mt_peers_hash}")
set(MT_PEERS_SCRIPT "${CMAKE_SOURCE_DIR}/tests/peers/peers.py")

add_library(test_peers STATIC ${CMAKE_SOURCE_DIR}/tests/peers/PeerState.cpp)
target_link_libraries(test_peers PUBLIC test_common)
target_include_directories(test_peers PUBLIC ${CMAKE_SOURCE_DIR}/tests/peers)
target_compile_definitions(test_peers PUBLIC
  MT_PEERS_DIR="${MT_PEERS_DIR}" MT_PEERS_SCRIPT="${MT_PEERS_SCRIPT}")

add_test(NAME peers_start
  COMMAND /usr/bin/python3 ${MT_PEERS_SCRIPT} start --install --dir ${MT_PEERS_DIR})
# The first run on a fresh machine installs the servers.
set_tests_properties(peers_start PROPERTIES FIXTURES_SETUP mt_peers TIMEOUT 900)
add_test(NAME peers_stop
  COMMAND /usr/bin/python3 ${MT_PEERS_SCRIPT} stop --wipe --dir ${MT_PEERS_DIR})
set_tests_properties(peers_stop PROPERTIES FIXTURES_CLEANUP mt_peers TIMEOUT 120)

function(mt_add_peer_test name)
  cmake_parse_arguments(PT "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(test_${name} ${PT_SOURCES})
  target_link_libraries(test_${name} PRIVATE test_peers ${PT_LIBS})
  gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED mt_peers
               ENVIRONMENT "MT_PEERS_DIR=${MT_PEERS_DIR}")
endfunction()
