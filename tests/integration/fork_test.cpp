// A process forked from the host shares its socket descriptor. When such a
// child exits, the library's unload hook runs in it too, and must leave the
// parent's connection alone.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "sim_fixture.h"

namespace pq640::integration {
namespace {

// Forks a child that exits at once through the normal exit path (static
// destructors and exit handlers run), and waits for it. Its exit status is
// not looked at: under the leak checker a child of a threaded process
// reports the threads' memory and exits non-zero after the hook has run.
bool RunExitingChild() {
  const pid_t child = fork();
  if (child == 0) std::exit(0);
  if (child < 0) return false;
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status);
}

TEST_F(SimulatorTest, ExitingChildLeavesTheParentsConnectionAlone) {
  Connect(Link::kTcp);
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);  // the connection stays open after a command
  const os::Socket live = Port().tcp_socket;
  ASSERT_NE(live, os::kInvalidSocket);
  ASSERT_EQ(os::SocketWaitReadable(live, 0), os::WaitResult::kTimedOut);
  ASSERT_TRUE(RunExitingChild());
  // Shut down by the child, the socket would read as closed at once.
  EXPECT_EQ(os::SocketWaitReadable(live, 300), os::WaitResult::kTimedOut);
  EXPECT_EQ(Port().tcp_socket, live);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
}

}  // namespace
}  // namespace pq640::integration
