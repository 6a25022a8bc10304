#include "record_json.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base64.h"
#include "text_format.h"

namespace pq640admin {
namespace {

std::uint32_t LoadU32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

void StoreU32(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

const Json& Field(const Json& json, const char* name) {
  if (!json.is_object()) throw RecordError("a record must be a JSON object");
  const auto found = json.find(name);
  if (found == json.end()) throw RecordError(std::string("\"") + name + "\" is missing");
  return *found;
}

std::uint32_t Number(const Json& json, const char* name, std::uint32_t max) {
  const Json& value = Field(json, name);
  if (!value.is_number_unsigned() || value.get<std::uint64_t>() > max) {
    throw RecordError(std::string("\"") + name + "\" must be a whole number from 0 to " +
                      std::to_string(max));
  }
  return value.get<std::uint32_t>();
}

std::vector<std::uint8_t> Binary(const Json& value, const std::string& name) {
  const auto bytes = value.is_string() ? DecodeBase64(value.get<std::string>()) : std::nullopt;
  if (!bytes) throw RecordError("\"" + name + "\" must be a base64 string");
  return *bytes;
}

bool Printable(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b >= 0x20 && b <= 0x7E; });
}

constexpr std::string_view kHexPrefix = "hex:";

// Text when every byte is printable ASCII and the text cannot be taken for
// the hex form; the hex form's digits otherwise.
bool ShownAsText(std::span<const std::uint8_t> bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return Printable(bytes) && text.substr(0, kHexPrefix.size()) != kHexPrefix;
}

std::span<const std::uint8_t> WithoutPadding(std::span<const std::uint8_t> bytes) {
  std::size_t size = bytes.size();
  while (size > 0 && bytes[size - 1] == 0) --size;
  return bytes.first(size);
}

void PutText(Json& json, const char* key, std::span<const std::uint8_t> bytes) {
  if (ShownAsText(bytes)) {
    json[key] = std::string(bytes.begin(), bytes.end());
  } else {
    json[std::string(key) + "_hex"] = HexDigits(bytes);
  }
}

// `key` as text or `key_hex` as hex digits (one of them); nothing when
// neither is given. Format 1 had `key` in base64.
std::optional<std::vector<std::uint8_t>> TextField(const Json& json, const char* key, RecordForm form) {
  const std::string hex_key = std::string(key) + "_hex";
  const bool has_text = json.contains(key);
  const bool has_hex = json.contains(hex_key);
  if (has_text && has_hex) throw RecordError(std::string("give \"") + key + "\" or \"" + hex_key + "\", not both");
  if (has_text) {
    const Json& value = json[key];
    if (form == RecordForm::kFormat1) return Binary(value, key);
    if (!value.is_string()) throw RecordError(std::string("\"") + key + "\" must be a string");
    const std::string text = value.get<std::string>();
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    if (!Printable(bytes)) {
      throw RecordError(std::string("\"") + key + "\" must be printable ASCII text; give other bytes as \"" +
                        hex_key + "\"");
    }
    return bytes;
  }
  if (has_hex) {
    const Json& value = json[hex_key];
    const auto bytes = value.is_string() ? ParseHex(value.get<std::string>()) : std::nullopt;
    if (!bytes) throw RecordError("\"" + hex_key + "\" must be hex digits, two per byte");
    return bytes;
  }
  return std::nullopt;
}

// Templates, code and info of either record kind.
struct Body {
  std::vector<std::vector<std::uint8_t>> templates;
  std::vector<std::uint8_t> code;
  std::vector<std::uint8_t> info;
};

Body BodyFromJson(const Json& json, std::size_t info_size, RecordForm form) {
  Body body;
  if (!json.is_object()) throw RecordError("a record must be a JSON object");
  if (json.contains("templates")) {
    const Json& templates = json["templates"];
    if (!templates.is_array() || templates.size() > PQ640_MAX_TEMPLATES) {
      throw RecordError("\"templates\" must be an array of at most 2 templates");
    }
    for (const Json& item : templates) {
      body.templates.push_back(Binary(item, "templates"));
      if (body.templates.back().size() != PQ640_TEMPLATE_SIZE) {
        throw RecordError("each template must be 480 bytes, not " +
                          std::to_string(body.templates.back().size()));
      }
    }
  }
  body.code = TextField(json, "code", form).value_or(std::vector<std::uint8_t>{});
  const std::size_t code_length = body.code.size();
  if (code_length != 0 && (code_length < 4 || code_length > PQ640_MAX_CODE_LENGTH)) {
    throw RecordError("\"code\" must be empty or 4 to 10 characters (bytes), not " +
                      std::to_string(code_length));
  }
  body.info = TextField(json, "info", form).value_or(std::vector<std::uint8_t>{});
  if (body.info.size() > info_size) {
    throw RecordError("\"info\" holds at most " + std::to_string(info_size) + " characters (bytes), not " +
                      std::to_string(body.info.size()));
  }
  return body;
}

template <typename Record>
void FillBody(Record& record, const Body& body) {
  record.template_count = static_cast<std::uint8_t>(body.templates.size());
  for (std::size_t i = 0; i < body.templates.size(); ++i) {
    std::memcpy(record.templates[i], body.templates[i].data(), PQ640_TEMPLATE_SIZE);
  }
  record.code_length = static_cast<std::uint8_t>(body.code.size());
  std::copy(body.code.begin(), body.code.end(), record.code);
  std::copy(body.info.begin(), body.info.end(), record.info);  // the rest stays zero
}

template <typename Record>
void PutBody(Json& json, const Record& record) {
  Json templates = Json::array();
  const std::size_t count = std::min<std::size_t>(record.template_count, PQ640_MAX_TEMPLATES);
  for (std::size_t i = 0; i < count; ++i) templates.push_back(EncodeBase64(record.templates[i]));
  json["templates"] = templates;
  const std::size_t code_length = std::min<std::size_t>(record.code_length, PQ640_MAX_CODE_LENGTH);
  PutText(json, "code", std::span(record.code, code_length));
  PutText(json, "info", WithoutPadding(record.info));
}

// A number under its current key, or its format-1 key.
std::uint32_t NumberOf(const Json& json, const char* key, const char* format1_key, RecordForm form,
                       std::uint32_t max) {
  return Number(json, form == RecordForm::kFormat1 ? format1_key : key, max);
}

PQ640_DateTime TimeFromJson(const Json& json) {
  const Json& value = Field(json, "time");
  const auto time = value.is_string() ? ParseDateTime(value.get<std::string>()) : std::nullopt;
  if (!time) throw RecordError("\"time\" must be \"YYYY-MM-DD hh:mm:ss\"");
  return *time;
}

}  // namespace

Json UserToJson(const PQ640_UserData& user) {
  Json json;
  json["id"] = user.id;
  PutBody(json, user);
  return json;
}

Json AdminToJson(const PQ640_AdminData& admin) {
  Json json;
  json["id"] = admin.id;
  json["level"] = admin.level;
  PutBody(json, admin);
  return json;
}

Json IoRecordToJson(const PQ640_IORecord& record) {
  Json json;
  json["time"] = FormatDateTime(record.time);
  json["user_id"] = LoadU32(record.data);
  json["verification"] = record.data[4];
  json["in_out_state"] = record.data[5];
  json["work_code"] = LoadU32(record.data + 6);
  return json;
}

Json AdminRecordToJson(const PQ640_AdminRecord& record) {
  PQ640_DateTime time;
  std::memcpy(&time, record.bytes, sizeof time);
  Json json;
  // The library passes administrator records through unchecked: six bytes
  // that are no date and time are kept as they are.
  if (PQ640_IsValidDateTime(&time)) {
    json["time"] = FormatDateTime(time);
  } else {
    json["time_hex"] = HexDigits(std::span(record.bytes, sizeof time));
  }
  json["admin_id"] = LoadU32(record.bytes + 6);
  json["operation"] = record.bytes[10];
  json["target_user_id"] = LoadU32(record.bytes + 11);
  json["reserved"] = record.bytes[15];
  return json;
}

PQ640_UserData UserFromJson(const Json& json, RecordForm form) {
  PQ640_UserData user{};
  user.id = Number(json, "id", UINT32_MAX);
  FillBody(user, BodyFromJson(json, sizeof user.info, form));
  return user;
}

PQ640_AdminData AdminFromJson(const Json& json, RecordForm form) {
  PQ640_AdminData admin{};
  admin.id = Number(json, "id", UINT32_MAX);
  admin.level = static_cast<std::uint8_t>(Number(json, "level", 2));
  FillBody(admin, BodyFromJson(json, sizeof admin.info, form));
  return admin;
}

PQ640_IORecord IoRecordFromJson(const Json& json, RecordForm form) {
  PQ640_IORecord record{};
  record.time = TimeFromJson(json);
  if (!PQ640_IsValidDateTime(&record.time)) {
    throw RecordError("\"time\" " + FormatDateTime(record.time) + " is not a real date and time");
  }
  StoreU32(record.data, NumberOf(json, "user_id", "user", form, UINT32_MAX));
  record.data[4] = static_cast<std::uint8_t>(Number(json, "verification", 255));
  record.data[5] = static_cast<std::uint8_t>(NumberOf(json, "in_out_state", "state", form, 255));
  StoreU32(record.data + 6, Number(json, "work_code", UINT32_MAX));
  return record;
}

PQ640_AdminRecord AdminRecordFromJson(const Json& json, RecordForm form) {
  PQ640_AdminRecord record{};
  const char* raw_time = form == RecordForm::kFormat1 ? "time_bytes" : "time_hex";
  if (json.is_object() && json.contains(raw_time)) {
    const Json& value = json[raw_time];
    const auto bytes = form == RecordForm::kFormat1
                           ? std::optional(Binary(value, raw_time))
                           : (value.is_string() ? ParseHex(value.get<std::string>()) : std::nullopt);
    if (!bytes || bytes->size() != sizeof(PQ640_DateTime)) {
      throw RecordError(std::string("\"") + raw_time + "\" must be the 6 time bytes");
    }
    std::memcpy(record.bytes, bytes->data(), bytes->size());
  } else {
    const PQ640_DateTime time = TimeFromJson(json);
    std::memcpy(record.bytes, &time, sizeof time);
  }
  StoreU32(record.bytes + 6, NumberOf(json, "admin_id", "admin", form, UINT32_MAX));
  record.bytes[10] = static_cast<std::uint8_t>(Number(json, "operation", 255));
  StoreU32(record.bytes + 11, NumberOf(json, "target_user_id", "target_user", form, UINT32_MAX));
  record.bytes[15] = json.contains("reserved")
                         ? static_cast<std::uint8_t>(Number(json, "reserved", 255))
                         : std::uint8_t{0};
  return record;
}

std::string TextCell(const Json& record, const char* key) {
  if (record.contains(key)) return record[key].get<std::string>();
  const std::string hex_key = std::string(key) + "_hex";
  if (record.contains(hex_key)) return std::string(kHexPrefix) + record[hex_key].get<std::string>();
  return "";
}

std::string AdminRecordTimeCell(const Json& record) {
  if (record.contains("time")) return record["time"].get<std::string>();
  return record.value("time_hex", std::string());
}

Json RecordArray(const Json& document) {
  if (document.is_array()) return document;
  if (document.is_object()) return Json::array({document});
  throw RecordError("expected a JSON object or an array of objects");
}

}  // namespace pq640admin
