// The real library (static build, so the test hooks are reachable) against the
// in-process simulator, over loopback TCP or over a pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "platform/os_posix_testing.h"
#include "port/port_state.h"
#include "pq640/pq640.h"
#include "pq640sim/simulator.h"

namespace pq640::integration {

enum class Link { kTcp, kSerial };

inline void PrintTo(Link link, std::ostream* out) { *out << (link == Link::kTcp ? "TCP" : "serial"); }

inline std::string LinkName(const ::testing::TestParamInfo<Link>& info) {
  return info.param == Link::kTcp ? "Tcp" : "Serial";
}

// The COM number the tests redirect to the simulator's pseudo-terminal.
inline constexpr unsigned kSimulatedComPort = 7;

// A loopback address of this test's own, so that tests may run in parallel
// processes, each with a simulator on port 7413.
inline std::string LoopbackAddressForThisTest() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::size_t h =
      std::hash<std::string>{}(std::string(info->test_suite_name()) + "." + info->name());
  return "127." + std::to_string(1 + h % 250) + "." + std::to_string((h >> 8) % 256) + "." +
         std::to_string(1 + (h >> 16) % 250);
}

// Milliseconds taken by `call`, measured on the monotonic clock.
template <typename Call>
long long ElapsedMs(Call&& call) {
  const auto start = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

class SimulatorTest : public ::testing::Test {
 protected:
  void TearDown() override {
    (void)PQ640_ClosePort();
    sim_.Stop();
    os::testing::SetSerialDevicePath(kSimulatedComPort, nullptr);
    ResetPortState();
  }

  // Starts the simulator on `link` and opens the library's port to it; the
  // library's terminal ID follows the simulator's.
  void Connect(Link link) {
    ResetPortState();
    ASSERT_EQ(PQ640_SetTerminalIPAddr("127.0.0.1"), PQ640_OK);  // never the default
    ASSERT_EQ(PQ640_SetTerminalID(sim_.Model().TerminalId()), PQ640_OK);
    if (link == Link::kTcp) {
      address_ = LoopbackAddressForThisTest();
      ASSERT_TRUE(sim_.StartTcp(address_)) << sim_.LastError();
      ASSERT_EQ(PQ640_SetTerminalIPAddr(address_.c_str()), PQ640_OK);
      ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2), PQ640_OK);
    } else {
      const auto device = sim_.StartSerial();
      ASSERT_TRUE(device.has_value()) << sim_.LastError();
      device_ = *device;
      os::testing::SetSerialDevicePath(kSimulatedComPort, device_.c_str());
      ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, kSimulatedComPort, 2), PQ640_OK);
    }
    ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
  }

  pq640sim::Simulator sim_;
  std::string address_;
  std::string device_;
};

class EitherLink : public SimulatorTest, public ::testing::WithParamInterface<Link> {
 protected:
  void SetUp() override { Connect(GetParam()); }
};

}  // namespace pq640::integration
