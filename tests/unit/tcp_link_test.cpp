// The TCP link's lifecycle: socket layer start and stop, a fresh connection per
// command, the pause before a reconnect, and the failure paths.
#include "link/tcp_link.h"
#include "test_support.h"

namespace pq640::test {
namespace {

using TcpLink = LibraryTest;

const Bytes kOk = ResponseFrame(0, 0);

TEST_F(TcpLink, OpenStartsTheLayerWithoutConnecting) {
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2), PQ640_OK);
  ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
  EXPECT_EQ(os().net.startups, 1);
  EXPECT_EQ(os().calls, (std::vector<std::string>{"SocketLayerStartup(2.2)"}));
}

TEST_F(TcpLink, StartupFailureAndWrongVersion) {
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2), PQ640_OK);
  os().net.fail_startup = true;
  EXPECT_EQ(PQ640_OpenPort(), PQ640_TCP_FAILED);
  EXPECT_EQ(os().net.startups, 0);

  os().net.fail_startup = false;
  os().net.granted = {2, 1};
  EXPECT_EQ(PQ640_OpenPort(), PQ640_TCP_FAILED);
  EXPECT_EQ(os().net.startups, 1);  // left started; the close balances it
  EXPECT_EQ(PQ640_ClosePort(), PQ640_OK);
  EXPECT_EQ(os().net.startups, 0);
}

TEST_F(TcpLink, CommandBeforeAnyOpenFailsAtOnce) {
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2), PQ640_OK);
  const std::uint64_t start = Now();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_SOCKET_FAILED);
  EXPECT_EQ(Now(), start);
  EXPECT_FALSE(fake::Called("SleepMs"));
}

TEST_F(TcpLink, ConnectsToTheTerminalAddressAndPort) {
  OpenTcp();
  AnswerOverTcp(kOk);
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  const fake::FakeSocket& s = fake::LastSocket();
  EXPECT_EQ(s.connected_address, kTestAddressValue);
  EXPECT_EQ(s.connected_port, 7413u);
  EXPECT_TRUE(s.blocking);
  EXPECT_EQ(s.receive_buffer_size, 1024u);
  EXPECT_EQ(Port().tcp_socket, s.handle);
  EXPECT_EQ(Port().tcp_wait_ms, 3000u);  // CheckLink's 2000 ms plus 1000
}

TEST_F(TcpLink, OnlyTheSecondCommandPausesBeforeReconnecting) {
  OpenTcp();
  AnswerOverTcp(kOk);
  AnswerOverTcp(kOk);
  std::uint64_t start = Now();
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(Now() - start, 0u);
  EXPECT_FALSE(fake::Called("SleepMs"));

  os().calls.clear();
  start = Now();
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(Now() - start, 400u);
  const auto& calls = os().calls;
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls[0], "SocketShutdown(100)");
  EXPECT_EQ(calls[1], "SleepMs(400)");
  EXPECT_EQ(calls[2], "SocketClose(100)");
  EXPECT_EQ(calls[3], "SocketCreate()");
  EXPECT_TRUE(os().net.sockets[0].closed);
  EXPECT_FALSE(os().net.sockets[1].closed);
}

TEST_F(TcpLink, RefusedConnectionThenRecovery) {
  OpenTcp();
  fake::SocketScript refused;
  refused.attempts = {fake::ConnectOutcome::kRefused, fake::ConnectOutcome::kRefused};
  os().net.scripts.push_back(refused);
  AnswerOverTcp(kOk);

  EXPECT_EQ(PQ640_CheckLink(), PQ640_READ_FAILED);
  EXPECT_EQ(os().net.sockets[0].attempt, 2u);
  EXPECT_TRUE(os().net.sockets[0].closed);  // not left open
  EXPECT_EQ(Port().tcp_socket, os::kInvalidSocket);

  const std::uint64_t start = Now();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(Now(), start);  // nothing to shut down, so no pause
  EXPECT_EQ(os().net.sockets.size(), 2u);
}

TEST_F(TcpLink, SecondAttemptSucceedsOnTheSameSocket) {
  OpenTcp();
  AnswerOverTcp(kOk).attempts = {fake::ConnectOutcome::kRefused,
                                 fake::ConnectOutcome::kInProgressConnected};
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(os().net.sockets.size(), 1u);
  EXPECT_EQ(fake::CountCalls("SocketConnect"), 2);
}

TEST_F(TcpLink, UnreachableTerminalWaitsFiveSecondsPerAttempt) {
  OpenTcp();
  fake::SocketScript silent;
  silent.attempts = {fake::ConnectOutcome::kInProgressTimeout,
                     fake::ConnectOutcome::kInProgressFailed};
  os().net.scripts.push_back(silent);
  const std::uint64_t start = Now();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_READ_FAILED);
  EXPECT_EQ(Now() - start, 5000u);
  EXPECT_EQ(fake::CountCalls("SocketWaitConnected(100,5000)"), 2);
}

TEST_F(TcpLink, ModeSwitchFailuresCloseTheSocket) {
  OpenTcp();
  fake::SocketScript no_nonblocking;
  no_nonblocking.fail_set_nonblocking = true;
  os().net.scripts.push_back(no_nonblocking);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_TCP_FAILED);
  EXPECT_TRUE(fake::LastSocket().closed);
  EXPECT_FALSE(fake::Called("SocketConnect"));

  fake::SocketScript no_blocking;
  no_blocking.fail_set_blocking = true;
  os().net.scripts.push_back(no_blocking);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_TCP_FAILED);
  EXPECT_TRUE(fake::LastSocket().closed);
  EXPECT_EQ(Port().tcp_socket, os::kInvalidSocket);
}

TEST_F(TcpLink, CloseDropsTheConnectionSoALaterCommandFailsWithoutPause) {
  OpenTcp();
  AnswerOverTcp(kOk);
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  os().calls.clear();
  EXPECT_EQ(PQ640_ClosePort(), PQ640_OK);
  EXPECT_TRUE(os().net.sockets[0].shut_down);
  EXPECT_TRUE(os().net.sockets[0].closed);
  EXPECT_EQ(Port().tcp_socket, os::kInvalidSocket);
  EXPECT_EQ(os().net.startups, 0);
  // Closed by the library before the layer stopped: never a stale close later.
  EXPECT_EQ(os().calls, (std::vector<std::string>{"SocketShutdown(100)", "SocketClose(100)",
                                                  "SocketLayerCleanup()"}));

  const std::uint64_t start = Now();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_SOCKET_FAILED);
  EXPECT_EQ(Now(), start);
}

TEST_F(TcpLink, CloseWithoutAnOpenStillSucceeds) {
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2), PQ640_OK);
  EXPECT_EQ(PQ640_ClosePort(), PQ640_OK);
  EXPECT_EQ(os().net.startups, 0);
}

TEST_F(TcpLink, StartupsAreCountedAcrossOpens) {
  OpenTcp();
  ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
  EXPECT_EQ(os().net.startups, 2);
  EXPECT_EQ(PQ640_ClosePort(), PQ640_OK);
  AnswerOverTcp(kOk);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);  // one start-up still stands
  EXPECT_EQ(PQ640_ClosePort(), PQ640_OK);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_SOCKET_FAILED);
}

TEST_F(TcpLink, ReopenClosesAStillOpenConnection) {
  OpenTcp();
  AnswerOverTcp(kOk);
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
  EXPECT_TRUE(os().net.sockets[0].closed);
  EXPECT_EQ(Port().tcp_socket, os::kInvalidSocket);
}

TEST_F(TcpLink, SocketCreationFailureIsReported) {
  OpenTcp();
  os().net.fail_create = true;
  EXPECT_EQ(PQ640_CheckLink(), PQ640_SOCKET_FAILED);
}


// The receive buffer's size must be in place before the handshake agrees the
// window scale; set afterwards it would leave the sender stalling.
TEST_F(TcpLink, ReceiveBufferIsSetBeforeConnecting) {
  OpenTcp();
  AnswerOverTcp(kOk);
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  const auto& calls = os().calls;
  const auto position = [&](const std::string& prefix) {
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].rfind(prefix, 0) == 0) return i;
    }
    return calls.size();
  };
  ASSERT_LT(position("SocketSetReceiveBufferSize(100,1024)"), calls.size());
  EXPECT_LT(position("SocketSetReceiveBufferSize"), position("SocketConnect"));
  EXPECT_EQ(fake::CountCalls("SocketSetReceiveBufferSize"), 1);
}

}  // namespace
}  // namespace pq640::test
