#include "wire_frames.h"

#include <string_view>

namespace pq640bench {
namespace {

constexpr std::string_view kPreamble = "QQAVRENPROTOCOL";
constexpr std::uint8_t kStartByte = 0x7F;

// Start byte, then ID, command or result, payload and the XOR of those.
void AppendCheckedBody(Bytes& out, std::uint8_t code, std::span<const std::uint8_t> payload) {
  AppendU8(out, kStartByte);
  const std::size_t body_start = out.size();
  AppendU16(out, kTerminalId);
  AppendU8(out, code);
  AppendBytes(out, payload);
  std::uint8_t checksum = 0;
  for (std::size_t i = body_start; i < out.size(); ++i) checksum ^= out[i];
  AppendU8(out, checksum);
}

}  // namespace

void AppendU8(Bytes& out, std::uint8_t value) { out.push_back(value); }

void AppendU16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendU32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void AppendBytes(Bytes& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

Bytes RequestFrame(std::uint8_t command, std::span<const std::uint8_t> payload) {
  Bytes frame(kPreamble.begin(), kPreamble.end());
  frame.reserve(kPreamble.size() + 5 + payload.size());
  AppendCheckedBody(frame, command, payload);
  return frame;
}

Bytes ResponseFrame(std::uint8_t result, std::span<const std::uint8_t> payload) {
  Bytes frame;
  frame.reserve(5 + payload.size());
  AppendCheckedBody(frame, result, payload);
  return frame;
}

}  // namespace pq640bench
