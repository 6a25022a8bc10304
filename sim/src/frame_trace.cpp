#include "frame_trace.h"

#include "pq640sim/command_table.h"

namespace pq640sim {
namespace {

std::string TraceLine(std::string_view direction, std::uint8_t command,
                      std::span<const std::uint8_t> bytes, std::string_view note) {
  std::string line(direction);
  line += DescribeCommand(command);
  line += ": ";
  line += HexBytes(bytes);
  if (!note.empty()) {
    line += " [";
    line += note;
    line += "]";
  }
  return line;
}

}  // namespace

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string RequestTraceLine(const RequestFrame& frame, std::string_view note) {
  return TraceLine("request  ", frame.command, frame.raw, note);
}

std::string ResponseTraceLine(std::uint8_t command, std::span<const std::uint8_t> bytes,
                              std::string_view note) {
  return TraceLine("response ", command, bytes, note);
}

}  // namespace pq640sim
