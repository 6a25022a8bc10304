// Serial reads and writes against real pseudo-terminals: every time-out
// bound, discarding input, a hung-up line, and the wait for the output queue.
#include <cstdint>

#include <gtest/gtest.h>

#include "pseudo_terminal.h"

using namespace serial_test;

// ---- Reading ------------------------------------------------------------------

TEST_F(SerialPort, SilenceAfterTheFirstBytesEndsTheReadAfterTheInterval) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(300, 0, 10000)));
  ASSERT_TRUE(pty_.Send({0x7F, 0x01, 0x00}));

  std::uint8_t in[6] = {};
  const auto [done, elapsed] = ReadTimed(in, 6);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(in[0], 0x7F);
  EXPECT_EQ(in[1], 0x01);
  EXPECT_GE(elapsed, 280u);
  EXPECT_LE(elapsed, 3000u);
}

TEST_F(SerialPort, NothingArrivingEndsTheReadAfterTheTotalLimit) {
  ASSERT_TRUE(OpenRaw());
  // 10 ms per byte for 6 bytes plus 300 ms: 360 ms.
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(0, 10, 300)));
  std::uint8_t in[6];
  const auto [done, elapsed] = ReadTimed(in, 6);
  EXPECT_EQ(done, 0u);
  EXPECT_GE(elapsed, 340u) << "the per-byte part of the limit was left out";
  EXPECT_LE(elapsed, 3000u);
}

TEST_F(SerialPort, TheIntervalDoesNotRunBeforeTheFirstByte) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(100, 0, 600)));
  std::uint8_t in[4];
  const auto [done, elapsed] = ReadTimed(in, 4);
  EXPECT_EQ(done, 0u);
  EXPECT_GE(elapsed, 580u);
  EXPECT_LE(elapsed, 3000u);
}

TEST_F(SerialPort, BytesAlreadyQueuedAreReturnedAtOnce) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(2000, 100, 10000)));
  ASSERT_TRUE(pty_.Send({1, 2, 3, 4, 5, 6}));
  ASSERT_TRUE(pty_.WaitQueued(6));

  std::uint8_t in[6] = {};
  std::uint32_t done = 0;
  std::uint64_t start = NowMs();
  EXPECT_TRUE(os::SerialRead(handle_, in, 4, &done));
  EXPECT_EQ(done, 4u);
  EXPECT_LT(NowMs() - start, 1000u);
  EXPECT_EQ(pty_.Queued(), 2) << "a read took more than it was asked for";

  start = NowMs();
  EXPECT_TRUE(os::SerialRead(handle_, in, 2, &done));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(in[0], 5);
  EXPECT_EQ(in[1], 6);
  EXPECT_LT(NowMs() - start, 1000u);

  EXPECT_TRUE(os::SerialRead(handle_, in, 0, &done));
  EXPECT_EQ(done, 0u);
}

TEST_F(SerialPort, EachByteRestartsTheInterval) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(400, 0, 10000)));
  std::thread terminal([this] {
    for (std::uint8_t byte = 1; byte <= 4; ++byte) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      pty_.Send({byte});
    }
  });
  std::uint8_t in[4] = {};
  const auto [done, elapsed] = ReadTimed(in, 4);
  terminal.join();
  EXPECT_EQ(done, 4u) << "the interval ran from the first byte, not the latest";
  EXPECT_EQ(in[3], 4);
  EXPECT_LE(elapsed, 3000u);
}

TEST_F(SerialPort, ZeroTimeoutsWaitForEveryByte) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(0, 0, 0)));
  std::thread terminal([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pty_.Send({1, 2});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pty_.Send({3, 4});
  });
  std::uint8_t in[4] = {};
  const auto [done, elapsed] = ReadTimed(in, 4);
  terminal.join();
  EXPECT_EQ(done, 4u);
  EXPECT_GE(elapsed, 550u);
  EXPECT_LE(elapsed, 3000u);
}

TEST_F(SerialPort, DiscardInputDropsPendingBytes) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, ReadLimits(0, 0, 200)));
  ASSERT_TRUE(pty_.Send({1, 2, 3, 4}));
  ASSERT_TRUE(pty_.WaitQueued(4));
  EXPECT_TRUE(os::SerialDiscardInput(handle_));
  EXPECT_EQ(pty_.Queued(), 0);

  std::uint8_t in[4] = {};
  std::uint32_t done = 99;
  EXPECT_TRUE(os::SerialRead(handle_, in, 4, &done));
  EXPECT_EQ(done, 0u);

  ASSERT_TRUE(pty_.Send({5, 6}));
  EXPECT_TRUE(os::SerialRead(handle_, in, 2, &done));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(in[0], 5);
}

TEST_F(SerialPort, AHungUpLineEndsReadsByTimeOutWithoutSpinning) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, {0, 0, 300, 0, 300}));
  rescue_.reset();  // it needs the master, which this test closes
  pty_.CloseMaster();

  std::uint8_t in[4];
  std::uint32_t done = 99;
  const std::uint64_t start = NowMs();
  const std::uint64_t cpu_start = NowMs(CLOCK_PROCESS_CPUTIME_ID);
  EXPECT_TRUE(os::SerialRead(handle_, in, 4, &done));
  const std::uint64_t elapsed = NowMs() - start;
  const std::uint64_t cpu = NowMs(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
  EXPECT_EQ(done, 0u);
  EXPECT_GE(elapsed, 280u);
  EXPECT_LE(elapsed, 3000u);
  EXPECT_LT(cpu, elapsed / 2) << "the read spun on the hung-up line";

  const std::uint8_t out[2] = {1, 2};
  EXPECT_FALSE(os::SerialWrite(handle_, out, 2, &done)) << "writing to a line nobody holds";
  EXPECT_TRUE(os::SerialClose(handle_));
  handle_ = os::kInvalidSerialHandle;
}

// ---- Writing ------------------------------------------------------------------

TEST_F(SerialPort, WritesEverythingWhenTheLineDrains) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, {0, 0, 0, 200, 2000}));
  const std::vector<std::uint8_t> request = {0x00, 0x7F, 0x01, 0x00, 0x08, 0x0A, 0x0D};
  std::uint32_t done = 0;
  EXPECT_TRUE(os::SerialWrite(handle_, request.data(), static_cast<std::uint32_t>(request.size()), &done));
  EXPECT_EQ(done, request.size());
  EXPECT_EQ(pty_.Receive(request.size()), request);
}

TEST_F(SerialPort, AWriteThatCannotDrainEndsAtTheTotalLimit) {
  ASSERT_TRUE(OpenRaw());
  ASSERT_TRUE(os::SerialSetTimeouts(handle_, {0, 0, 0, 0, 300}));
  // Far more than the pseudo-terminal buffers while nobody reads the master.
  const std::vector<std::uint8_t> flood(1u << 20, 0x55);
  std::uint32_t done = 0;
  const std::uint64_t start = NowMs();
  EXPECT_TRUE(os::SerialWrite(handle_, flood.data(), static_cast<std::uint32_t>(flood.size()), &done));
  const std::uint64_t elapsed = NowMs() - start;
  EXPECT_GT(done, 0u);
  EXPECT_LT(done, flood.size());
  EXPECT_GE(elapsed, 280u);
  EXPECT_LE(elapsed, 3000u);
}

// ---- Waiting for the output queue --------------------------------------------
// A pseudo-terminal's output queue always reads empty, so the wait is checked
// against a scripted queue, on the real clock.

TEST(OutputDrain, WaitsUntilTheQueueEmpties) {
  int looks = 0;
  const std::uint64_t start = NowMs();
  const std::uint32_t left = os::posix::WaitForDrain(
      [&looks] { return ++looks < 5 ? 100L : 0L; },
      os::posix::DeadlineAfterMs(os::posix::NowUs(), 3000));
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(looks, 5);
  EXPECT_GE(NowMs() - start, 15u) << "looked again without pausing";
  EXPECT_LT(NowMs() - start, 2000u);
}

TEST(OutputDrain, AQueueThatNeverEmptiesEndsAtTheDeadline) {
  const std::uint64_t start = NowMs();
  const std::uint32_t left = os::posix::WaitForDrain(
      [] { return 42L; }, os::posix::DeadlineAfterMs(os::posix::NowUs(), 300));
  const std::uint64_t elapsed = NowMs() - start;
  EXPECT_EQ(left, 42u) << "the bytes still waiting are reported";
  EXPECT_GE(elapsed, 290u);
  EXPECT_LT(elapsed, 3000u);
}

TEST(OutputDrain, ADeviceThatCannotTellIsNotWaitedFor) {
  int looks = 0;
  const std::uint64_t start = NowMs();
  EXPECT_EQ(os::posix::WaitForDrain([&looks] { ++looks; return -1L; },
                                    os::posix::DeadlineAfterMs(os::posix::NowUs(), 3000)),
            0u);
  EXPECT_EQ(looks, 1);
  EXPECT_LT(NowMs() - start, 1000u);
}
