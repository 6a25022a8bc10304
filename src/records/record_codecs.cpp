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

bool IsEncodableRecord(const RecordLayout& layout, const std::uint8_t* slot) {
  return slot[layout.template_count] <= kMaxTemplates && slot[layout.code_length] <= kMaxCodeLength;
}

ResultCode SendRecord(const RecordLayout& layout, const std::uint8_t* slot) {
  if (const ResultCode r = SendBytes(slot, kIdStride); r != PQ640_OK) return r;
  if (layout.has_level) {
    if (const ResultCode r = SendBytes(slot + layout.level, 1); r != PQ640_OK) return r;
  }
  const std::uint8_t templates = slot[layout.template_count];
  if (const ResultCode r = SendU8(templates); r != PQ640_OK) return r;
  if (templates != 0) {
    if (const ResultCode r = SendBytes(slot + layout.templates, templates * kTemplateSize);
        r != PQ640_OK) {
      return r;
    }
  }
  const std::uint8_t code_length = slot[layout.code_length];
  if (const ResultCode r = SendU8(code_length); r != PQ640_OK) return r;
  if (code_length != 0) {
    if (const ResultCode r = SendBytes(slot + layout.code, code_length); r != PQ640_OK) return r;
  }
  return SendBytes(slot + layout.info, layout.info_size);
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
