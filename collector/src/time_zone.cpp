#include "time_zone.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "record_layout.h"

namespace pq640collect {
namespace {

std::string ZoneDirectory() {
  const char* dir = std::getenv("TZDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo";
}

// Sets TZ for the lifetime of the object and restores it after.
class ZoneScope {
 public:
  explicit ZoneScope(const std::optional<std::string>& zone) {
    if (!zone) return;
    if (const char* old = std::getenv("TZ")) saved_ = old;
    active_ = true;
    setenv("TZ", (":" + *zone).c_str(), 1);
    tzset();
  }
  ~ZoneScope() {
    if (!active_) return;
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ZoneScope(const ZoneScope&) = delete;
  ZoneScope& operator=(const ZoneScope&) = delete;

 private:
  bool active_ = false;
  std::optional<std::string> saved_;
};

PQ640_DateTime FromTm(const std::tm& tm) {
  return PQ640_DateTime{static_cast<std::uint8_t>(tm.tm_year - 100), static_cast<std::uint8_t>(tm.tm_mon + 1),
                        static_cast<std::uint8_t>(tm.tm_mday),       static_cast<std::uint8_t>(tm.tm_hour),
                        static_cast<std::uint8_t>(tm.tm_min),        static_cast<std::uint8_t>(tm.tm_sec)};
}

}  // namespace

bool TimeZoneExists(const std::string& zone) {
  if (zone.empty() || zone.front() == '/' || zone.find("..") != std::string::npos) return false;
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::path(ZoneDirectory()) / zone, error);
}

PQ640_DateTime HostNow(const std::optional<std::string>& zone) {
  ZoneScope scope(zone);
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return FromTm(tm);
}

UtcConverter::UtcConverter(std::string zone) : zone_(std::move(zone)) {}
UtcConverter::~UtcConverter() = default;

void UtcConverter::Look(std::int64_t hour) {
  if (hour == cached_hour_) return;
  ZoneScope scope(zone_);
  const PQ640_DateTime start = FromWallSeconds(hour * 3600);
  const auto instant = [&](int isdst) {
    std::tm tm{};
    tm.tm_year = start.year + 100;
    tm.tm_mon = start.month - 1;
    tm.tm_mday = start.day;
    tm.tm_hour = start.hour;
    tm.tm_isdst = isdst;
    return std::mktime(&tm);
  };
  const std::time_t utc = instant(-1);
  std::tm utc_tm{};
  gmtime_r(&utc, &utc_tm);
  // offset = local wall time - UTC wall time for this hour
  cached_offset_ = hour * 3600 - WallSeconds(FromTm(utc_tm));
  cached_hour_ = hour;
  // The hour names two instants when both readings of it (standard and
  // summer time) give back the same wall-clock hour.
  cached_ambiguous_ = false;
  const std::time_t standard = instant(0);
  const std::time_t summer = instant(1);
  if (standard != summer && standard != -1 && summer != -1) {
    std::tm a{}, b{};
    localtime_r(&standard, &a);
    localtime_r(&summer, &b);
    cached_ambiguous_ = a.tm_hour == start.hour && b.tm_hour == start.hour && a.tm_mday == b.tm_mday;
  }
  if (cached_ambiguous_) {
    // The first of the two instants: the offset in force before the change.
    const std::time_t first = std::min(standard, summer);
    gmtime_r(&first, &utc_tm);
    cached_offset_ = hour * 3600 - WallSeconds(FromTm(utc_tm));
  }
}

PQ640_DateTime UtcConverter::ToUtc(const PQ640_DateTime& local) {
  const std::int64_t wall = WallSeconds(local);
  Look(wall / 3600);
  return FromWallSeconds(wall - cached_offset_);
}

bool UtcConverter::Ambiguous(const PQ640_DateTime& local) {
  Look(WallSeconds(local) / 3600);
  return cached_ambiguous_;
}

}  // namespace pq640collect
