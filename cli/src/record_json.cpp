#include "record_json.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
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

// Templates, code and info of either record kind.
struct Body {
  std::vector<std::vector<std::uint8_t>> templates;
  std::vector<std::uint8_t> code;
  std::vector<std::uint8_t> info;
};

Body BodyFromJson(const Json& json, std::size_t info_size) {
  Body body;
  const Json& templates = Field(json, "templates");
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
  body.code = Binary(Field(json, "code"), "code");
  const std::size_t code_length = body.code.size();
  if (code_length != 0 && (code_length < 4 || code_length > PQ640_MAX_CODE_LENGTH)) {
    throw RecordError("\"code\" must be empty or 4 to 10 bytes, not " +
                      std::to_string(code_length));
  }
  if (json.contains("info")) body.info = Binary(json["info"], "info");
  if (body.info.size() > info_size) {
    throw RecordError("\"info\" holds at most " + std::to_string(info_size) + " bytes");
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
  std::copy(body.info.begin(), body.info.end(), record.info);
}

template <typename Record>
void PutBody(Json& json, const Record& record) {
  Json templates = Json::array();
  const std::size_t count = std::min<std::size_t>(record.template_count, PQ640_MAX_TEMPLATES);
  for (std::size_t i = 0; i < count; ++i) templates.push_back(EncodeBase64(record.templates[i]));
  json["templates"] = templates;
  const std::size_t code_length = std::min<std::size_t>(record.code_length, PQ640_MAX_CODE_LENGTH);
  json["code"] = EncodeBase64(std::span(record.code, code_length));
  json["info"] = EncodeBase64(record.info);
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
  json["user"] = LoadU32(record.data);
  json["verification"] = record.data[4];
  json["state"] = record.data[5];
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
    json["time_bytes"] = EncodeBase64(std::span(record.bytes, sizeof time));
  }
  json["admin"] = LoadU32(record.bytes + 6);
  json["operation"] = record.bytes[10];
  json["target_user"] = LoadU32(record.bytes + 11);
  json["reserved"] = record.bytes[15];
  return json;
}

PQ640_UserData UserFromJson(const Json& json) {
  PQ640_UserData user{};
  user.id = Number(json, "id", UINT32_MAX);
  FillBody(user, BodyFromJson(json, sizeof user.info));
  return user;
}

PQ640_AdminData AdminFromJson(const Json& json) {
  PQ640_AdminData admin{};
  admin.id = Number(json, "id", UINT32_MAX);
  admin.level = static_cast<std::uint8_t>(Number(json, "level", 2));
  FillBody(admin, BodyFromJson(json, sizeof admin.info));
  return admin;
}

PQ640_IORecord IoRecordFromJson(const Json& json) {
  PQ640_IORecord record{};
  record.time = TimeFromJson(json);
  if (!PQ640_IsValidDateTime(&record.time)) {
    throw RecordError("\"time\" " + FormatDateTime(record.time) + " is not a real date and time");
  }
  StoreU32(record.data, Number(json, "user", UINT32_MAX));
  record.data[4] = static_cast<std::uint8_t>(Number(json, "verification", 255));
  record.data[5] = static_cast<std::uint8_t>(Number(json, "state", 255));
  StoreU32(record.data + 6, Number(json, "work_code", UINT32_MAX));
  return record;
}

PQ640_AdminRecord AdminRecordFromJson(const Json& json) {
  PQ640_AdminRecord record{};
  if (json.is_object() && json.contains("time_bytes")) {
    const auto bytes = Binary(json["time_bytes"], "time_bytes");
    if (bytes.size() != sizeof(PQ640_DateTime)) throw RecordError("\"time_bytes\" must be 6 bytes");
    std::memcpy(record.bytes, bytes.data(), bytes.size());
  } else {
    const PQ640_DateTime time = TimeFromJson(json);
    std::memcpy(record.bytes, &time, sizeof time);
  }
  StoreU32(record.bytes + 6, Number(json, "admin", UINT32_MAX));
  record.bytes[10] = static_cast<std::uint8_t>(Number(json, "operation", 255));
  StoreU32(record.bytes + 11, Number(json, "target_user", UINT32_MAX));
  record.bytes[15] = json.contains("reserved")
                         ? static_cast<std::uint8_t>(Number(json, "reserved", 255))
                         : std::uint8_t{0};
  return record;
}

Json RecordArray(const Json& document) {
  if (document.is_array()) return document;
  if (document.is_object()) return Json::array({document});
  throw RecordError("expected a JSON object or an array of objects");
}

}  // namespace pq640admin
