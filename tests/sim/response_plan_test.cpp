#include "pq640sim/response_plan.h"

#include <gtest/gtest.h>

namespace pq640sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ResponseEncoding, FramesAReplyWithItsChecksum) {
  EXPECT_EQ(PlanResponse(1, Reply{}, Faults{}).bytes, (Bytes{0x7F, 0x01, 0x00, 0x00, 0x01}));
  const Reply clock{kResultOk, {24, 2, 29, 23, 59, 58}};
  EXPECT_EQ(PlanResponse(0x0102, clock, Faults{}).bytes,
            (Bytes{0x7F, 0x02, 0x01, 0x00, 24, 2, 29, 23, 59, 58,
                   0x02 ^ 0x01 ^ 24 ^ 2 ^ 29 ^ 23 ^ 59 ^ 58}));
}

TEST(ResponseEncoding, SendsNoPayloadWithAFailureResult) {
  const Reply refused{kResultInvalidDateTime, {1, 2, 3}};
  EXPECT_EQ(PlanResponse(1, refused, Faults{}).bytes, (Bytes{0x7F, 0x01, 0x00, 0x03, 0x02}));
}

TEST(ResponseFaults, PutTheNoiseBeforeTheStartByte) {
  Faults faults;
  faults.noise_before_start = {'Q', 'Q', 'A', 0x00, 0xFF};
  EXPECT_EQ(PlanResponse(1, Reply{}, faults).bytes,
            (Bytes{'Q', 'Q', 'A', 0x00, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x01}));
}

TEST(ResponseFaults, FrameTheAnswerWithAnotherTerminalId) {
  Faults faults;
  faults.answer_terminal_id = 5;
  EXPECT_EQ(PlanResponse(4, Reply{}, faults).bytes, (Bytes{0x7F, 0x05, 0x00, 0x00, 0x05}));
}

TEST(ResponseFaults, DripKeepsTheBytesAndCarriesTheInterval) {
  Faults faults;
  faults.drip_interval_ms = 300;
  const PlannedResponse plan = PlanResponse(1, Reply{}, faults);
  EXPECT_EQ(plan.bytes, (Bytes{0x7F, 0x01, 0x00, 0x00, 0x01}));
  EXPECT_EQ(plan.drip_interval_ms, 300u);
  EXPECT_EQ(PlanResponse(1, Reply{}, Faults{}).drip_interval_ms, 0u);
}

TEST(ResponseFaults, InvertTheChecksumTrailer) {
  Faults faults;
  faults.corrupt_checksum = true;
  EXPECT_EQ(PlanResponse(1, Reply{7, {}}, faults).bytes,
            (Bytes{0x7F, 0x01, 0x00, 0x07, 0x06 ^ 0xFF}));
}

TEST(ResponseFaults, CarryTheDelayAndTheCut) {
  Faults faults;
  faults.response_delay_ms = 250;
  faults.stall_after_bytes = 3;
  PlannedResponse plan = PlanResponse(1, Reply{}, faults);
  EXPECT_EQ(plan.delay_ms, 250u);
  EXPECT_EQ(plan.cut_after, std::optional<std::size_t>(3));
  EXPECT_FALSE(plan.close_at_cut);

  faults.close_after_bytes = 1;  // wins over the stall
  plan = PlanResponse(1, Reply{}, faults);
  EXPECT_EQ(plan.cut_after, std::optional<std::size_t>(1));
  EXPECT_TRUE(plan.close_at_cut);
}

TEST(ResponseFaults, LeaveTheResponseAloneWhenNoneIsSet) {
  const PlannedResponse plan = PlanResponse(1, Reply{}, Faults{});
  EXPECT_EQ(plan.delay_ms, 0u);
  EXPECT_FALSE(plan.cut_after.has_value());
  EXPECT_FALSE(plan.close_at_cut);
}

}  // namespace
}  // namespace pq640sim
