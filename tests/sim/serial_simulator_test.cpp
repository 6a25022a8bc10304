// The simulator on a pseudo-terminal, driven from the slave end the way the
// host library drives a serial port.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "pq640sim/simulator.h"
#include "pty_client.h"
#include "request_bytes.h"

namespace pq640sim {
namespace {

using namespace std::chrono_literals;
using test::Concat;
using test::PtyClient;
using test::RequestBytes;
using Bytes = std::vector<std::uint8_t>;

constexpr int kAnswerWaitMs = 3000;
constexpr int kSilenceMs = 300;
const Bytes kCheckLinkAnswer{0x7F, 0x01, 0x00, 0x00, 0x01};

// The frames here address ID 1, not the default 0, so that the ID is compared.
SimulatorOptions WithTestTerminalId() {
  SimulatorOptions options;
  options.settings.terminal_id = 1;
  return options;
}

// A fresh directory for links, removed afterwards.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/pq640sim-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class SerialSimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto path = simulator_.StartSerial();
    ASSERT_TRUE(path.has_value()) << simulator_.LastError();
    path_ = *path;
  }

  Simulator simulator_{WithTestTerminalId()};
  std::string path_;
};

TEST_F(SerialSimulatorTest, AnswersAfterTheWakeUpZerosAndSeesTheProgrammedBaud) {
  EXPECT_EQ(path_.rfind("/dev/pts/", 0), 0u) << path_;
  PtyClient port(path_);
  ASSERT_TRUE(port.IsOpen());
  EXPECT_TRUE(port.Locked()) << "the simulator must not hold a lock on the slave";
  ASSERT_TRUE(port.SetBaud(B19200));
  EXPECT_EQ(simulator_.CurrentBaud(), 19200u);
  port.DiscardInput();
  ASSERT_TRUE(port.Send(Concat(Bytes(2048, 0), RequestBytes(1, 1))));
  EXPECT_EQ(port.Receive(5, kAnswerWaitMs), kCheckLinkAnswer);
  EXPECT_EQ(simulator_.ObservedBaud(), 19200u);
  EXPECT_EQ(simulator_.LastRequest(), RequestBytes(1, 1));
}

TEST_F(SerialSimulatorTest, KeepsServingWhenThePortIsClosedAndReopened) {
  {
    PtyClient port(path_);
    ASSERT_TRUE(port.SetBaud(B9600));
    ASSERT_TRUE(port.Send(RequestBytes(1, 1)));
    ASSERT_EQ(port.Receive(5, kAnswerWaitMs), kCheckLinkAnswer);
  }
  std::this_thread::sleep_for(50ms);
  PtyClient reopened(path_);
  ASSERT_TRUE(reopened.IsOpen());
  EXPECT_TRUE(reopened.Locked());
  ASSERT_TRUE(reopened.SetBaud(B38400));
  reopened.DiscardInput();
  ASSERT_TRUE(reopened.Send(RequestBytes(1, 0, {4, 0})));
  EXPECT_EQ(reopened.Receive(5, kAnswerWaitMs), kCheckLinkAnswer);
  EXPECT_EQ(simulator_.ObservedBaud(), 38400u);
  EXPECT_EQ(simulator_.Snapshot().settings.comm_state, 4);
  EXPECT_EQ(simulator_.RequestsServed(), 2u);
}

TEST_F(SerialSimulatorTest, StaysSilentForAnotherTerminal) {
  PtyClient port(path_);
  ASSERT_TRUE(port.Send(RequestBytes(7, 1)));
  EXPECT_TRUE(port.Receive(1, kSilenceMs).empty());
  EXPECT_EQ(simulator_.Counters().other_terminal, 1u);
}

TEST_F(SerialSimulatorTest, CloseFaultFallsSilentAndTheLineRecovers) {
  Faults faults;
  faults.close_after_bytes = 2;
  simulator_.SetFaults(faults);
  PtyClient port(path_);
  ASSERT_TRUE(port.Send(RequestBytes(1, 1)));
  EXPECT_EQ(port.Receive(5, kSilenceMs), (Bytes{0x7F, 0x01}));
  simulator_.ClearFaults();
  port.DiscardInput();
  ASSERT_TRUE(port.Send(RequestBytes(1, 1)));
  EXPECT_EQ(port.Receive(5, kAnswerWaitMs), kCheckLinkAnswer);
}

TEST_F(SerialSimulatorTest, StopsPromptly) {
  const auto before = std::chrono::steady_clock::now();
  simulator_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_FALSE(simulator_.Running());
  EXPECT_EQ(simulator_.CurrentBaud(), 0u);
}

TEST(SerialSimulatorLink, PointsAtTheSlaveWhileRunningAndIsRemovedOnStop) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::filesystem::path link = dir.path() / "ttyTERM";
  std::filesystem::create_symlink("/nonexistent", link);  // a stale link is replaced
  Simulator simulator(WithTestTerminalId());
  const auto path = simulator.StartSerial(link.string());
  ASSERT_TRUE(path.has_value()) << simulator.LastError();
  EXPECT_EQ(std::filesystem::read_symlink(link), *path);
  {
    PtyClient port(link.string());
    ASSERT_TRUE(port.Send(RequestBytes(1, 1)));
    EXPECT_EQ(port.Receive(5, kAnswerWaitMs), kCheckLinkAnswer);
  }
  simulator.Stop();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(SerialSimulatorLink, RefusesToReplaceARegularFile) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::filesystem::path file = dir.path() / "keep-me";
  std::ofstream(file) << "data";
  Simulator simulator;
  EXPECT_FALSE(simulator.StartSerial(file.string()).has_value());
  EXPECT_FALSE(simulator.Running());
  EXPECT_TRUE(std::filesystem::is_regular_file(file));
}

}  // namespace
}  // namespace pq640sim
