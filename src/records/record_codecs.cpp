#include "records/record_codecs.h"

#include "link/byte_channel.h"

namespace pq640 {
namespace {

bool IsCodeLengthAccepted(std::uint8_t length) {
  return length == 0 || (length >= kMinCodeLength && length <= kMaxCodeLength);
}

// Receives a count byte into the slot, where it stays even when rejected.
ResultCode ReceiveCheckedByte(std::uint8_t* field, bool (*accepted)(std::uint8_t)) {
  if (const ResultCode r = ReceiveU8(field); r != PQ640_OK) return r;
  return accepted(*field) ? PQ640_OK : PQ640_INVALID_ARGUMENT;
}

}  // namespace

bool IsEnrollableRecord(const RecordLayout& layout, const std::uint8_t* slot) {
  return slot[layout.template_count] <= kMaxTemplates &&
         IsCodeLengthAccepted(slot[layout.code_length]);
}

std::uint32_t RecordPieces(const RecordLayout& layout, const std::uint8_t* slot,
                           os::SendSlice* pieces) {
  // The wire form is the slot with the unused template and code bytes left
  // out: at most three runs of the slot, and one when the record is full.
  const std::uint32_t runs[kMaxRecordPieces][2] = {
      {0, layout.templates + slot[layout.template_count] * kTemplateSize},
      {layout.code_length, layout.code + slot[layout.code_length]},
      {layout.info, layout.info + layout.info_size},
  };
  std::uint32_t count = 0;
  for (const auto& [begin, end] : runs) {
    if (count > 0 && pieces[count - 1].data + pieces[count - 1].size == slot + begin) {
      pieces[count - 1].size += end - begin;
    } else {
      pieces[count++] = {slot + begin, end - begin};
    }
  }
  return count;
}

ResultCode SendRecord(const RecordLayout& layout, const std::uint8_t* slot) {
  os::SendSlice pieces[kMaxRecordPieces];
  return SendPieces(pieces, RecordPieces(layout, slot, pieces));
}

ResultCode ReceiveRecord(const RecordLayout& layout, std::uint8_t* slot) {
  if (const ResultCode r = ReceiveBytes(slot, kIdStride); r != PQ640_OK) return r;
  if (layout.has_level) {
    const ResultCode r = ReceiveCheckedByte(slot + layout.level,
                                            [](std::uint8_t v) { return v <= kMaxAdminLevel; });
    if (r != PQ640_OK) return r;
  }
  if (const ResultCode r = ReceiveCheckedByte(slot + layout.template_count,
                                              [](std::uint8_t v) { return v <= kMaxTemplates; });
      r != PQ640_OK) {
    return r;
  }
  const std::uint8_t templates = slot[layout.template_count];
  if (templates != 0) {
    if (const ResultCode r = ReceiveBytes(slot + layout.templates, templates * kTemplateSize);
        r != PQ640_OK) {
      return r;
    }
  }
  if (const ResultCode r = ReceiveCheckedByte(slot + layout.code_length, &IsCodeLengthAccepted);
      r != PQ640_OK) {
    return r;
  }
  const std::uint8_t code_length = slot[layout.code_length];
  if (code_length != 0) {
    if (const ResultCode r = ReceiveBytes(slot + layout.code, code_length); r != PQ640_OK) return r;
  }
  return ReceiveBytes(slot + layout.info, layout.info_size);
}

}  // namespace pq640
