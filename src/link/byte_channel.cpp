#include "link/byte_channel.h"

#include <algorithm>
#include <cstring>

#include "link/answer_clock.h"
#include "link/link_backend.h"
#include "link/little_endian.h"

namespace pq640 {
namespace {

// XOR of the bytes, eight at a time: a megabyte of templates costs
// microseconds, not a millisecond.
std::uint8_t XorOf(const std::uint8_t* bytes, std::uint32_t count) {
  std::uint64_t wide = 0;
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes + i, 8);
    wide ^= word;
  }
  std::uint8_t x = 0;
  for (int shift = 0; shift < 64; shift += 8) x ^= static_cast<std::uint8_t>(wide >> shift);
  for (; i < count; ++i) x ^= bytes[i];
  return x;
}

void FoldIntoChecksum(const std::uint8_t* bytes, std::uint32_t count) {
  PortState& state = Port();
  if (state.checksum_enabled) state.checksum ^= XorOf(bytes, count);
}

ResultCode WriteGathered(const LinkBackend& link) {
  SendGather& gather = Port().send_gather;
  const std::uint32_t slices = gather.slice_count;
  gather.size = 0;
  gather.slice_count = 0;
  return slices == 0 ? PQ640_OK : link.write(gather.slices, slices);
}

ResultCode Gather(const LinkBackend& link, const std::uint8_t* data, std::uint32_t count) {
  SendGather& gather = Port().send_gather;
  if (count >= kDirectSendBytes) {
    if (gather.slice_count == kSendGatherSlices) {
      if (const ResultCode r = WriteGathered(link); r != PQ640_OK) return r;
    }
    gather.slices[gather.slice_count++] = {data, count};
    return PQ640_OK;
  }
  os::SendSlice* last = gather.slice_count > 0 ? &gather.slices[gather.slice_count - 1] : nullptr;
  const bool extends_last = last != nullptr && last->data + last->size == gather.bytes + gather.size;
  if (count > kSendGatherBytes - gather.size || (!extends_last && gather.slice_count == kSendGatherSlices)) {
    if (const ResultCode r = WriteGathered(link); r != PQ640_OK) return r;
    return Gather(link, data, count);
  }
  std::copy_n(data, count, gather.bytes + gather.size);
  if (extends_last) {
    last->size += count;
  } else {
    gather.slices[gather.slice_count++] = {gather.bytes + gather.size, count};
  }
  gather.size += count;
  return PQ640_OK;
}

ResultCode SendLittleEndian(std::uint32_t value, std::uint32_t width) {
  const auto bytes = LittleEndian<4>(value);
  return SendBytes(bytes.data(), width);
}

ResultCode ReceiveLittleEndian(std::uint32_t* value, std::uint32_t width) {
  std::uint8_t bytes[4] = {};
  const ResultCode result = ReceiveBytes(bytes, width);
  if (result == PQ640_OK) *value = FromLittleEndian(bytes, width);
  return result;
}

}  // namespace

ResultCode SendBytes(const std::uint8_t* data, std::uint32_t count) {
  const os::SendSlice whole{data, count};
  return SendPieces(&whole, 1);
}

ResultCode SendPieces(const os::SendSlice* pieces, std::uint32_t count) {
  const LinkBackend& link = ActiveLink();
  if (const ResultCode r = link.usable(); r != PQ640_OK) return r;
  if (!Port().send_gather.active) {
    if (const ResultCode r = link.write(pieces, count); r != PQ640_OK) return r;
  } else {
    for (std::uint32_t i = 0; i < count; ++i) {
      if (const ResultCode r = Gather(link, pieces[i].data, pieces[i].size); r != PQ640_OK) return r;
    }
  }
  for (std::uint32_t i = 0; i < count; ++i) FoldIntoChecksum(pieces[i].data, pieces[i].size);
  return PQ640_OK;
}

ResultCode ReceiveBytes(std::uint8_t* buffer, std::uint32_t count) {
  const LinkBackend& link = ActiveLink();
  if (const ResultCode r = link.usable(); r != PQ640_OK) return r;
  std::uint32_t arrived = 0;
  const ResultCode read = link.read(buffer, count, &arrived);
  CountAnswerBytes(arrived);
  if (read != PQ640_OK) return read;
  if (count != 0 && arrived == 0) return PQ640_READ_FAILED;
  if (arrived < count) return PQ640_SHORT_READ;
  FoldIntoChecksum(buffer, count);
  return PQ640_OK;
}

void BeginGathering() {
  SendGather& gather = Port().send_gather;
  gather.size = 0;
  gather.slice_count = 0;
  gather.active = true;
}

ResultCode FlushGathered() {
  SendGather& gather = Port().send_gather;
  if (!gather.active) return PQ640_OK;
  gather.active = false;
  return WriteGathered(ActiveLink());
}

void DiscardGathered() {
  SendGather& gather = Port().send_gather;
  gather.size = 0;
  gather.slice_count = 0;
  gather.active = false;
}

ResultCode SendU8(std::uint32_t value) { return SendLittleEndian(value, 1); }
ResultCode SendU16(std::uint32_t value) { return SendLittleEndian(value, 2); }
ResultCode SendU32(std::uint32_t value) { return SendLittleEndian(value, 4); }

ResultCode ReceiveU8(std::uint8_t* value) {
  std::uint32_t wide = 0;
  const ResultCode result = ReceiveLittleEndian(&wide, 1);
  if (result == PQ640_OK) *value = static_cast<std::uint8_t>(wide);
  return result;
}

ResultCode ReceiveU16(std::uint16_t* value) {
  std::uint32_t wide = 0;
  const ResultCode result = ReceiveLittleEndian(&wide, 2);
  if (result == PQ640_OK) *value = static_cast<std::uint16_t>(wide);
  return result;
}

ResultCode ReceiveU32(std::uint32_t* value) { return ReceiveLittleEndian(value, 4); }

}  // namespace pq640
