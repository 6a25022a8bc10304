#include "pq640sim/request_parser.h"

#include <algorithm>
#include <utility>

#include "pq640sim/little_endian.h"
#include "pq640sim/wire_format.h"

namespace pq640sim {
namespace {

constexpr std::size_t kStartOffset = kPreamble.size();
constexpr std::size_t kIdOffset = kStartOffset + 1;
constexpr std::size_t kCommandOffset = kIdOffset + 2;

}  // namespace

RequestParser::RequestParser(CommandLookup lookup) : lookup_(lookup) {}

void RequestParser::Feed(std::span<const std::uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

void RequestParser::Reset() { buffer_.clear(); }

std::optional<RequestFrame> RequestParser::Next() {
  for (;;) {
    auto found = std::search(buffer_.begin(), buffer_.end(), kPreamble.begin(), kPreamble.end());
    if (found == buffer_.end()) {
      // Only a tail shorter than the preamble can still grow into one.
      const std::size_t keep = std::min(buffer_.size(), kPreamble.size() - 1);
      buffer_.erase(buffer_.begin(), buffer_.end() - static_cast<std::ptrdiff_t>(keep));
      return std::nullopt;
    }
    buffer_.erase(buffer_.begin(), found);
    if (buffer_.size() <= kStartOffset) return std::nullopt;
    if (buffer_[kStartOffset] != kStartByte) {
      buffer_.erase(buffer_.begin());
      continue;
    }
    if (buffer_.size() < kRequestHeaderSize) return std::nullopt;

    RequestFrame frame;
    frame.terminal_id = LoadU16(buffer_, kIdOffset);
    frame.command = buffer_[kCommandOffset];
    auto take_header_only = [&](RequestFrame::Kind kind) {
      frame.kind = kind;
      frame.raw.assign(buffer_.begin(), buffer_.begin() + kRequestHeaderSize);
      buffer_.erase(buffer_.begin(), buffer_.begin() + kRequestHeaderSize);
      return std::optional<RequestFrame>(std::move(frame));
    };

    const CommandInfo* info = lookup_(frame.command);
    if (info == nullptr) return take_header_only(RequestFrame::Kind::kUnknownCommand);

    const auto received = std::span<const std::uint8_t>(buffer_).subspan(kRequestHeaderSize);
    const PayloadScan scan = info->payload(received);
    if (scan.status == PayloadScan::Status::kNeedMore) return std::nullopt;
    if (scan.status == PayloadScan::Status::kMalformed) {
      return take_header_only(RequestFrame::Kind::kMalformedPayload);
    }
    const std::size_t frame_size = kRequestHeaderSize + scan.length + 1;
    if (buffer_.size() < frame_size) return std::nullopt;

    const auto begin = buffer_.begin();
    frame.payload.assign(begin + kRequestHeaderSize, begin + kRequestHeaderSize + scan.length);
    frame.raw.assign(begin, begin + frame_size);
    const auto summed = std::span<const std::uint8_t>(frame.raw).subspan(kIdOffset, 3 + scan.length);
    frame.kind = XorChecksum(summed) == frame.raw.back() ? RequestFrame::Kind::kRequest
                                                        : RequestFrame::Kind::kBadChecksum;
    buffer_.erase(begin, begin + frame_size);
    return frame;
  }
}

}  // namespace pq640sim
