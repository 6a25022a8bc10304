// The DLL against the native Linux simulator that with_simulator.sh started
// for this run. The script says through the environment which link to use:
//   PQ640_TEST_LINK=tcp     PQ640_TEST_ADDRESS=127.x.y.z
//   PQ640_TEST_LINK=serial  PQ640_TEST_COM_PORT=n (a pseudo-terminal as COMn)
// and PQ640_TEST_TERMINAL_ID. The simulator lives for the whole run, so every
// test starts by erasing the terminal.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "pq640/pq640.h"

namespace pq640::windows_test {

struct SimulatorLink {
  bool serial = false;
  std::string address;  // TCP: a loopback address, never the library's default
  std::uint16_t com_port = 0;
  std::uint16_t terminal_id = 1;
};

inline std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

inline SimulatorLink LinkFromEnvironment() {
  SimulatorLink link;
  link.serial = Environment("PQ640_TEST_LINK") == "serial";
  link.address = Environment("PQ640_TEST_ADDRESS");
  link.com_port = static_cast<std::uint16_t>(std::atoi(Environment("PQ640_TEST_COM_PORT").c_str()));
  link.terminal_id = static_cast<std::uint16_t>(std::atoi(Environment("PQ640_TEST_TERMINAL_ID").c_str()));
  return link;
}

class DllAgainstSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    link_ = LinkFromEnvironment();
    if (link_.serial) {
      ASSERT_GE(link_.com_port, 1) << "PQ640_TEST_COM_PORT is not set";
    } else {
      ASSERT_EQ(link_.address.rfind("127.", 0), 0u) << "only loopback addresses: " << link_.address;
    }
    // Set before anything else, so that the default address is never in force.
    ASSERT_EQ(PQ640_SetTerminalIPAddr(link_.serial ? "127.0.0.1" : link_.address.c_str()), PQ640_OK);
    ASSERT_EQ(PQ640_SetTerminalID(link_.terminal_id), PQ640_OK);
    ASSERT_EQ(PQ640_SetPortAndCommState(link_.serial ? PQ640_LINK_SERIAL : PQ640_LINK_TCP,
                                        link_.com_port, 2),
              PQ640_OK);
    ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
    ASSERT_EQ(PQ640_DeleteAllDataRom(), PQ640_OK);
  }
  void TearDown() override { (void)PQ640_ClosePort(); }

  SimulatorLink link_;
};

}  // namespace pq640::windows_test
