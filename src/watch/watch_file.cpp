#include "watch/watch_file.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <utility>

namespace quenzil {

namespace {

using nlohmann::json;

constexpr int kVersion = 1;

constexpr std::array<std::string_view, 16> kParcelKeys = {
    "number", "carrier", "carrier_name", "phone", "note", "state", "signed",
    "events", "added", "last_checked", "last_changed", "last_answered", "last_problem",
    "failures", "failing_since", "needs_phone"};
constexpr std::array<std::string_view, 4> kEventKeys = {"time", "context", "area", "status"};

template <std::size_t N>
bool IsKnown(const std::array<std::string_view, N>& keys, std::string_view key) {
  for (const std::string_view known : keys) {
    if (known == key) return true;
  }
  return false;
}

[[noreturn]] void Fail(const std::string& what) { throw WatchFileError(what); }

// An entry that cannot be taken as a parcel: it is kept unread instead.
struct BadEntry {};
[[noreturn]] void Refuse() { throw BadEntry{}; }

// A string field: absent gives "", another type makes the entry unread.
std::string OptionalString(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end()) return {};
  if (!found->is_string()) Refuse();
  return found->get<std::string>();
}

std::string RequiredString(const json& object, const char* key) {
  std::string value = OptionalString(object, key);
  if (value.empty()) Refuse();
  return value;
}

bool OptionalFlag(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end()) return false;
  if (!found->is_boolean()) Refuse();
  return found->get<bool>();
}

UnixSeconds OptionalTime(const json& object, const char* key) {
  return ParseIsoUtc(OptionalString(object, key));
}

TrackingEvent ReadEvent(const json& value) {
  if (!value.is_object()) Refuse();
  TrackingEvent event;
  event.time = OptionalString(value, "time");
  event.context = OptionalString(value, "context");
  event.area = OptionalString(value, "area");
  event.status = OptionalString(value, "status");
  for (const auto& [key, field] : value.items()) {
    if (!IsKnown(kEventKeys, key)) event.unknown[key] = field;
  }
  return event;
}

std::vector<TrackingEvent> ReadEvents(const json& value) {
  if (!value.is_array()) Refuse();
  std::vector<TrackingEvent> events;
  events.reserve(value.size());
  for (const json& event : value) events.push_back(ReadEvent(event));
  return events;
}

WatchedParcel ReadParcel(const json& value) {
  if (!value.is_object()) Refuse();
  WatchedParcel parcel;
  parcel.number = RequiredString(value, "number");
  parcel.carrier = RequiredString(value, "carrier");
  parcel.carrier_name = OptionalString(value, "carrier_name");
  parcel.phone = OptionalString(value, "phone");
  parcel.note = OptionalString(value, "note");
  parcel.state = OptionalString(value, "state");
  parcel.signed_for = OptionalFlag(value, "signed");
  if (const auto found = value.find("events"); found != value.end()) parcel.events = ReadEvents(*found);
  parcel.added = OptionalTime(value, "added");
  parcel.last_checked = OptionalTime(value, "last_checked");
  parcel.last_changed = OptionalTime(value, "last_changed");
  parcel.last_answered = OptionalTime(value, "last_answered");
  parcel.last_problem = OptionalString(value, "last_problem");
  if (const auto found = value.find("failures"); found != value.end()) {
    if (!found->is_number_integer() || found->get<std::int64_t>() < 0) Refuse();
    parcel.failures = static_cast<int>(std::min<std::int64_t>(found->get<std::int64_t>(), 1000));
  }
  parcel.failing_since = OptionalTime(value, "failing_since");
  parcel.needs_phone = OptionalFlag(value, "needs_phone");
  for (const auto& [key, field] : value.items()) {
    if (!IsKnown(kParcelKeys, key)) parcel.unknown[key] = field;
  }
  return parcel;
}

void PutIfSet(json& object, const char* key, const std::string& value) {
  if (!value.empty()) object[key] = value;
}

void PutTimeIfSet(json& object, const char* key, UnixSeconds value) {
  if (value != 0) object[key] = IsoUtc(value);
}

json WriteParcel(const WatchedParcel& parcel) {
  json object = json::object();
  if (parcel.unknown.is_object()) {
    for (const auto& [key, field] : parcel.unknown.items()) {
      if (!IsKnown(kParcelKeys, key)) object[key] = field;
    }
  }
  object["number"] = parcel.number;
  object["carrier"] = parcel.carrier;
  PutIfSet(object, "carrier_name", parcel.carrier_name);
  PutIfSet(object, "phone", parcel.phone);
  PutIfSet(object, "note", parcel.note);
  PutIfSet(object, "state", parcel.state);
  if (parcel.signed_for) object["signed"] = true;
  if (!parcel.events.empty()) object["events"] = WriteStoredEvents(parcel.events);
  PutTimeIfSet(object, "added", parcel.added);
  PutTimeIfSet(object, "last_checked", parcel.last_checked);
  PutTimeIfSet(object, "last_changed", parcel.last_changed);
  PutTimeIfSet(object, "last_answered", parcel.last_answered);
  PutIfSet(object, "last_problem", parcel.last_problem);
  if (parcel.failures > 0) object["failures"] = parcel.failures;
  PutTimeIfSet(object, "failing_since", parcel.failing_since);
  if (parcel.needs_phone) object["needs_phone"] = true;
  return object;
}

// 10000-01-01T00:00:00Z: four digits of year and no more.
constexpr UnixSeconds kYear10000 = 253402300800;

// Copying and writing JSON recurse once per level: a hand-made file nested
// thousands deep would overflow the stack, so it is refused before parsing.
constexpr int kMaxDepth = 64;

// Digits at [at, at + count) as a number; -1 if any is not a digit.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

WatchList ParseWatchFile(std::string_view text) {
  StoredDocument document = ReadStoredDocument(text, "parcels");
  WatchList list;
  list.unknown = std::move(document.unknown);
  for (std::size_t index = 0; index < document.list.size(); ++index) {
    const json& value = document.list[index];
    std::optional<WatchedParcel> parcel;
    try {
      parcel = ReadParcel(value);
    } catch (const BadEntry&) {
    }
    // A second entry of the same parcel stays unread; the first is the one shown.
    const bool copy = parcel && FindParcel(list, parcel->number, parcel->carrier);
    if (parcel && !copy && list.parcels.size() < kMaxWatched) {
      list.parcels.push_back(std::move(*parcel));
    } else {
      list.unread.push_back({index, value, copy ? std::optional<ParcelKey>({parcel->number, parcel->carrier})
                                                : std::nullopt});
    }
  }
  return list;
}

std::string SerializeWatchFile(const WatchList& list) {
  json parcels = json::array();
  for (const WatchedParcel& parcel : list.parcels) parcels.push_back(WriteParcel(parcel));
  return WriteStoredDocument(list.unknown, "parcels", WithUnreadEntries(std::move(parcels), list.unread));
}

StoredDocument ReadStoredDocument(std::string_view text, const std::string& list_key) {
  if (JsonNestedDeeperThan(text, kMaxDepth)) Fail("嵌套层数过多");
  json document = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) Fail("不是有效的 JSON");
  if (!document.is_object()) Fail("最外层不是对象");
  if (const auto version = document.find("version"); version != document.end()) {
    if (!version->is_number_integer()) Fail("版本号不是整数");
    if (*version != kVersion) throw WatchFileVersionError("版本 " + version->dump() + " 不是本程序认识的版本");
    document.erase(version);
  }
  StoredDocument stored;
  if (const auto list = document.find(list_key); list != document.end()) {
    if (!list->is_array()) Fail(list_key + " 不是数组");
    stored.list = std::move(*list);
    document.erase(list);
  }
  stored.unknown = std::move(document);
  return stored;
}

std::string WriteStoredDocument(const json& unknown, const std::string& list_key, json list) {
  json document = json::object();
  if (unknown.is_object()) {
    for (const auto& [key, field] : unknown.items()) {
      if (key != "version" && key != list_key) document[key] = field;
    }
  }
  document["version"] = kVersion;
  document[list_key] = std::move(list);
  // Text from the network that is not valid UTF-8 must not stop the save.
  std::string text = document.dump(1, '\t', /*ensure_ascii=*/false, json::error_handler_t::replace);
  text += '\n';
  return text;
}

std::optional<std::vector<TrackingEvent>> ReadStoredEvents(const json& value) {
  try {
    return ReadEvents(value);
  } catch (const BadEntry&) {
    return std::nullopt;
  }
}

json WriteStoredEvents(const std::vector<TrackingEvent>& events) {
  json written = json::array();
  for (const TrackingEvent& event : events) {
    json item = json::object();
    if (event.unknown.is_object()) {
      for (const auto& [key, field] : event.unknown.items()) {
        if (!IsKnown(kEventKeys, key)) item[key] = field;
      }
    }
    item["time"] = event.time;
    item["context"] = event.context;
    PutIfSet(item, "area", event.area);
    PutIfSet(item, "status", event.status);
    written.push_back(std::move(item));
  }
  return written;
}

json WithUnreadEntries(json entries, const std::vector<UnreadEntry>& unread) {
  std::vector<const UnreadEntry*> order;
  order.reserve(unread.size());
  for (const UnreadEntry& entry : unread) order.push_back(&entry);
  std::stable_sort(order.begin(), order.end(),
                   [](const UnreadEntry* left, const UnreadEntry* right) { return left->position < right->position; });
  json merged = json::array();
  std::size_t next = 0;
  for (const UnreadEntry* entry : order) {
    while (merged.size() < entry->position && next < entries.size()) merged.push_back(std::move(entries[next++]));
    merged.push_back(entry->value);
  }
  while (next < entries.size()) merged.push_back(std::move(entries[next++]));
  return merged;
}

std::string IsoUtc(UnixSeconds seconds) {
  if (seconds <= 0 || seconds >= kYear10000) return {};
  const std::chrono::sys_days days{std::chrono::days{seconds / 86400}};
  const std::chrono::year_month_day date{days};
  const std::int64_t rest = seconds % 86400;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

namespace {

// Seconds since 1970 of a UTC calendar time; 0 when a field is out of range.
UnixSeconds FromFields(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59) {
    return 0;
  }
  const std::chrono::year_month_day date{std::chrono::year{year},
                                         std::chrono::month{static_cast<unsigned>(month)},
                                         std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return 0;  // 30 February and the like
  return static_cast<UnixSeconds>(std::chrono::sys_days{date}.time_since_epoch().count()) * 86400 +
         hour * 3600 + minute * 60 + second;
}

}  // namespace

UnixSeconds ParseIsoUtc(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SSZ
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
      text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
    return 0;
  }
  return FromFields(Digits(text, 0, 4), Digits(text, 5, 2), Digits(text, 8, 2), Digits(text, 11, 2),
                    Digits(text, 14, 2), Digits(text, 17, 2));
}

UnixSeconds ParseServiceTime(std::string_view text) {
  // YYYY-MM-DD HH:MM[:SS]
  constexpr UnixSeconds kBeijing = 8 * 3600;
  const bool seconds = text.size() == 19 && text[16] == ':';
  if ((text.size() != 16 && !seconds) || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':') {
    return 0;
  }
  const UnixSeconds local = FromFields(Digits(text, 0, 4), Digits(text, 5, 2), Digits(text, 8, 2),
                                       Digits(text, 11, 2), Digits(text, 14, 2), seconds ? Digits(text, 17, 2) : 0);
  return local > kBeijing ? local - kBeijing : 0;
}

}  // namespace quenzil
