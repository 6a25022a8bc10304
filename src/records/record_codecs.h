// Enrolment records: the fixed 988-byte slot in the caller's memory and the
// variable-length wire form that carries only the templates and code bytes in
// use. Slots are addressed as bytes, by offset and stride, so no compiler
// padding of a C++ type can ever shift a field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "port/port_state.h"
#include "protocol/bulk_transfer.h"

namespace pq640 {

inline constexpr std::uint32_t kRecordSlotSize = PQ640_RECORD_SLOT_SIZE;
inline constexpr std::uint32_t kTemplateSize = PQ640_TEMPLATE_SIZE;
inline constexpr std::uint8_t kMaxTemplates = PQ640_MAX_TEMPLATES;
inline constexpr std::uint8_t kMaxCodeLength = PQ640_MAX_CODE_LENGTH;
inline constexpr std::uint8_t kMinCodeLength = 4;
inline constexpr std::uint8_t kMaxAdminLevel = 2;

// Where each field of one record kind sits in its slot.
struct RecordLayout {
  bool has_level;
  std::uint32_t level;
  std::uint32_t template_count;
  std::uint32_t templates;
  std::uint32_t code_length;
  std::uint32_t code;
  std::uint32_t info;
  std::uint32_t info_size;
};

inline constexpr RecordLayout kUserLayout{false, 0, 4, 5, 965, 966, 976, 10};
inline constexpr RecordLayout kAdminLayout{true, 4, 5, 6, 966, 967, 977, 9};

// The encoder sends the slot in runs, so the fields it sends back to back
// must lie back to back in the slot: ID, level, template count and templates;
// code length and code.
constexpr bool IsWireOrdered(const RecordLayout& layout) {
  const std::uint32_t after_id = layout.has_level ? layout.level + 1 : kIdStride;
  return (!layout.has_level || layout.level == kIdStride) && layout.template_count == after_id &&
         layout.templates == layout.template_count + 1 && layout.code == layout.code_length + 1 &&
         layout.code_length >= layout.templates + kMaxTemplates * kTemplateSize &&
         layout.info >= layout.code + kMaxCodeLength;
}
static_assert(IsWireOrdered(kUserLayout) && IsWireOrdered(kAdminLayout));

static_assert(offsetof(PQ640_UserData, template_count) == kUserLayout.template_count);
static_assert(offsetof(PQ640_UserData, templates) == kUserLayout.templates);
static_assert(offsetof(PQ640_UserData, code_length) == kUserLayout.code_length);
static_assert(offsetof(PQ640_UserData, code) == kUserLayout.code);
static_assert(offsetof(PQ640_UserData, info) == kUserLayout.info);
static_assert(sizeof(PQ640_UserData::info) == kUserLayout.info_size);
static_assert(offsetof(PQ640_AdminData, level) == kAdminLayout.level);
static_assert(offsetof(PQ640_AdminData, template_count) == kAdminLayout.template_count);
static_assert(offsetof(PQ640_AdminData, templates) == kAdminLayout.templates);
static_assert(offsetof(PQ640_AdminData, code_length) == kAdminLayout.code_length);
static_assert(offsetof(PQ640_AdminData, code) == kAdminLayout.code);
static_assert(offsetof(PQ640_AdminData, info) == kAdminLayout.info);
static_assert(sizeof(PQ640_AdminData::info) == kAdminLayout.info_size);

// What the terminal accepts in a single add: up to two templates, and a code
// that is absent or 4 to 10 bytes long.
bool IsEnrollableRecord(const RecordLayout& layout, const std::uint8_t* slot);
// What the encoder can send without reading outside the slot. Inline: a bulk
// add looks at every record before the first byte goes out.
inline bool IsEncodableRecord(const RecordLayout& layout, const std::uint8_t* slot) {
  return slot[layout.template_count] <= kMaxTemplates && slot[layout.code_length] <= kMaxCodeLength;
}

// The record in wire order, the template and code parts only as far as their
// counts go, as up to kMaxRecordPieces runs of the slot written to `pieces`;
// returns how many. The record must be encodable.
inline constexpr std::uint32_t kMaxRecordPieces = 3;
std::uint32_t RecordPieces(const RecordLayout& layout, const std::uint8_t* slot,
                           os::SendSlice* pieces);
ResultCode SendRecord(const RecordLayout& layout, const std::uint8_t* slot);
// Receive one record into the slot. A count, length or level out of range is
// stored and then rejected with -104; the rest of the response is not read.
ResultCode ReceiveRecord(const RecordLayout& layout, std::uint8_t* slot);

inline ResultCode ReceiveUserData(std::uint8_t* slot) { return ReceiveRecord(kUserLayout, slot); }

}  // namespace pq640
