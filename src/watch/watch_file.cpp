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

// 10000-01-01T00:00:00Z: four digits of year and no more.
constexpr UnixSeconds kYear10000 = 253402300800;

// Reading and writing JSON recurse once per level: a hand-made file nested
// thousands deep would overflow the stack, so it is refused before parsing.
constexpr int kMaxDepth = 64;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

[[noreturn]] void Untouchable(const std::string& what) { throw WatchFileUntouchableError(what); }

// An entry that cannot be taken as a parcel: it is kept unread instead.
struct BadEntry {};
[[noreturn]] void Refuse() { throw BadEntry{}; }

std::string Dump(const json& value) { return value.dump(-1, ' ', /*ensure_ascii=*/false, json::error_handler_t::replace); }

// ---- The text as written ------------------------------------------------
// Walks text already known to be JSON, to find where each member or element
// was written.

bool IsBlank(char character) {
  return character == ' ' || character == '\t' || character == '\n' || character == '\r';
}

std::size_t SkipBlanks(std::string_view text, std::size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at;
}

// From the opening quote to past the closing one.
std::size_t SkipString(std::string_view text, std::size_t at) {
  for (++at; at < text.size(); ++at) {
    if (text[at] == '\\') {
      ++at;
    } else if (text[at] == '"') {
      return at + 1;
    }
  }
  return text.size();
}

std::size_t SkipValue(std::string_view text, std::size_t at) {
  if (at >= text.size()) return at;
  if (text[at] == '"') return SkipString(text, at);
  if (text[at] == '{' || text[at] == '[') {
    // Brackets count the same whichever kind: the text is JSON.
    for (int depth = 0; at < text.size();) {
      const char character = text[at];
      if (character == '"') {
        at = SkipString(text, at);
        continue;
      }
      if (character == '{' || character == '[') ++depth;
      if ((character == '}' || character == ']') && --depth == 0) return at + 1;
      ++at;
    }
    return at;
  }
  while (at < text.size() && !IsBlank(text[at]) && text[at] != ',' && text[at] != '}' && text[at] != ']') ++at;
  return at;
}

std::string_view WithoutByteOrderMark(std::string_view text) {
  return text.substr(0, kByteOrderMark.size()) == kByteOrderMark ? text.substr(kByteOrderMark.size()) : text;
}

// The elements of the array the text holds, as written.
std::vector<std::string_view> Elements(std::string_view text) {
  std::vector<std::string_view> elements;
  std::size_t at = SkipBlanks(text, 0);
  if (at >= text.size() || text[at] != '[') return elements;
  for (at = SkipBlanks(text, at + 1); at < text.size() && text[at] != ']';) {
    const std::size_t start = at;
    at = SkipValue(text, at);
    elements.push_back(text.substr(start, at - start));
    at = SkipBlanks(text, at);
    if (at < text.size() && text[at] == ',') at = SkipBlanks(text, at + 1);
  }
  return elements;
}

struct WrittenMember {
  std::string name;
  std::string_view text;   // key, colon and value
  std::string_view value;
};

// The members of the object the text holds, as written, in their order.
std::vector<WrittenMember> Members(std::string_view text) {
  std::vector<WrittenMember> members;
  std::size_t at = SkipBlanks(text, 0);
  if (at >= text.size() || text[at] != '{') return members;
  for (at = SkipBlanks(text, at + 1); at < text.size() && text[at] == '"';) {
    const std::size_t start = at;
    at = SkipString(text, at);
    std::string name = json::parse(text.substr(start, at - start)).get<std::string>();
    at = SkipBlanks(text, SkipBlanks(text, at) + 1);  // past the colon
    const std::size_t value = at;
    at = SkipValue(text, at);
    members.push_back({std::move(name), text.substr(start, at - start), text.substr(value, at - value)});
    at = SkipBlanks(text, at);
    if (at < text.size() && text[at] == ',') at = SkipBlanks(text, at + 1);
  }
  return members;
}

// ---- Entries -------------------------------------------------------------

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

TrackingEvent ReadEvent(std::string_view text) {
  const std::optional<StoredObject> object = StoredObject::Read(text);
  if (!object) Refuse();
  TrackingEvent event;
  event.time = OptionalString(object->value(), "time");
  event.context = OptionalString(object->value(), "context");
  event.area = OptionalString(object->value(), "area");
  event.status = OptionalString(object->value(), "status");
  event.unknown = object->Unknown(kEventKeys);
  return event;
}

std::vector<TrackingEvent> ReadEvents(std::string_view text) {
  if (SkipBlanks(text, 0) >= text.size() || text[SkipBlanks(text, 0)] != '[') Refuse();
  std::vector<TrackingEvent> events;
  for (const std::string_view event : Elements(text)) events.push_back(ReadEvent(event));
  return events;
}

WatchedParcel ReadParcel(std::string_view text) {
  const std::optional<StoredObject> object = StoredObject::Read(text);
  if (!object) Refuse();
  const json& value = object->value();
  WatchedParcel parcel;
  parcel.number = RequiredString(value, "number");
  parcel.carrier = RequiredString(value, "carrier");
  parcel.carrier_name = OptionalString(value, "carrier_name");
  parcel.phone = OptionalString(value, "phone");
  parcel.note = OptionalString(value, "note");
  parcel.state = OptionalString(value, "state");
  parcel.signed_for = OptionalFlag(value, "signed");
  if (value.contains("events")) parcel.events = ReadEvents(object->Raw("events"));
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
  parcel.unknown = object->Unknown(kParcelKeys);
  return parcel;
}

void PutIfSet(StoredObjectWriter& object, const char* key, const std::string& value) {
  if (!value.empty()) object.Put(key, value);
}

void PutTimeIfSet(StoredObjectWriter& object, const char* key, UnixSeconds value) {
  if (value != 0) object.Put(key, IsoUtc(value));
}

std::string WriteParcel(const WatchedParcel& parcel) {
  StoredObjectWriter object(parcel.unknown);
  object.Put("number", parcel.number);
  object.Put("carrier", parcel.carrier);
  PutIfSet(object, "carrier_name", parcel.carrier_name);
  PutIfSet(object, "phone", parcel.phone);
  PutIfSet(object, "note", parcel.note);
  PutIfSet(object, "state", parcel.state);
  if (parcel.signed_for) object.Put("signed", true);
  if (!parcel.events.empty()) object.PutText("events", WriteStoredEvents(parcel.events));
  PutTimeIfSet(object, "added", parcel.added);
  PutTimeIfSet(object, "last_checked", parcel.last_checked);
  PutTimeIfSet(object, "last_changed", parcel.last_changed);
  PutTimeIfSet(object, "last_answered", parcel.last_answered);
  PutIfSet(object, "last_problem", parcel.last_problem);
  if (parcel.failures > 0) object.Put("failures", parcel.failures);
  PutTimeIfSet(object, "failing_since", parcel.failing_since);
  if (parcel.needs_phone) object.Put("needs_phone", true);
  return object.Text();
}

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

// ---- Stored objects ------------------------------------------------------

std::optional<StoredObject> StoredObject::Read(std::string_view text) {
  StoredObject object;
  object.value_ = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (!object.value_.is_object()) return std::nullopt;
  for (WrittenMember& member : Members(text)) {
    object.members_.push_back({std::move(member.name), member.text, member.value});
  }
  return object;
}

std::string_view StoredObject::Raw(std::string_view name) const {
  // The last of the same name, as the parsed value has it.
  for (auto member = members_.rbegin(); member != members_.rend(); ++member) {
    if (member->name == name) return member->value;
  }
  return {};
}

KeptFields StoredObject::UnknownOf(std::span<const std::string_view> known) const {
  KeptFields kept;
  for (const Member& member : members_) {
    if (std::find(known.begin(), known.end(), member.name) == known.end()) {
      kept.push_back({member.name, std::string(member.text)});
    }
  }
  return kept;
}

StoredObjectWriter::StoredObjectWriter(const KeptFields& kept) {
  for (const KeptField& field : kept) Member(field.text);
}

void StoredObjectWriter::Put(std::string_view name, const json& value) { PutText(name, Dump(value)); }

void StoredObjectWriter::PutText(std::string_view name, std::string_view value) {
  std::string member = Dump(json(std::string(name)));
  member += ':';
  member += value;
  Member(member);
}

void StoredObjectWriter::Member(std::string_view text) {
  if (text_.size() > 1) text_ += ',';
  text_ += text;
}

// ---- The watch list ------------------------------------------------------

WatchList ParseWatchFile(std::string_view text) {
  StoredDocument document = ReadStoredDocument(text, "parcels");
  WatchList list;
  list.unknown = std::move(document.unknown);
  for (std::size_t index = 0; index < document.entries.size(); ++index) {
    const std::string_view entry = document.entries[index];
    std::optional<WatchedParcel> parcel;
    try {
      parcel = ReadParcel(entry);
    } catch (const BadEntry&) {
    }
    // A second entry of the same parcel stays unread; the first is the one shown.
    const bool copy = parcel && FindParcel(list, parcel->number, parcel->carrier);
    if (parcel && !copy && list.parcels.size() < kMaxWatched) {
      list.parcels.push_back(std::move(*parcel));
    } else {
      list.unread.push_back({index, std::string(entry),
                             copy ? std::optional<ParcelKey>({parcel->number, parcel->carrier}) : std::nullopt});
    }
  }
  return list;
}

std::string SerializeWatchFile(const WatchList& list) {
  std::vector<std::string> parcels;
  parcels.reserve(list.parcels.size());
  for (const WatchedParcel& parcel : list.parcels) parcels.push_back(WriteParcel(parcel));
  return WriteStoredDocument(list.unknown, "parcels", WithUnreadEntries(std::move(parcels), list.unread));
}

StoredDocument ReadStoredDocument(std::string_view text, const std::string& list_key) {
  text = WithoutByteOrderMark(text);
  if (JsonNestedDeeperThan(text, kMaxDepth)) Untouchable("嵌套层数过多");
  if (!json::accept(text.begin(), text.end())) throw WatchFileError("不是有效的 JSON");
  const std::size_t start = SkipBlanks(text, 0);
  if (text[start] != '{') Untouchable("最外层不是对象");
  StoredDocument stored;
  std::string_view list;
  for (const WrittenMember& member : Members(text)) {
    if (member.name == "version") {
      const json version = json::parse(member.value);
      if (!version.is_number_integer()) Untouchable("版本号不是整数");
      if (version != kVersion) throw WatchFileVersionError("版本 " + version.dump() + " 不是本程序认识的版本");
    } else if (member.name == list_key) {
      list = member.value;
    } else {
      stored.unknown.push_back({member.name, std::string(member.text)});
    }
  }
  if (!list.empty()) {
    if (list.front() != '[') Untouchable(list_key + " 不是数组");
    stored.entries = Elements(list);
  }
  return stored;
}

std::string WriteStoredDocument(const KeptFields& unknown, const std::string& list_key,
                                const std::vector<std::string>& entries) {
  std::string text = "{";
  for (const KeptField& field : unknown) {
    if (field.name == "version" || field.name == list_key) continue;
    text += field.text;
    text += ",\n ";
  }
  text += "\"version\":" + std::to_string(kVersion) + ",\n \"" + list_key + "\":[";
  for (std::size_t index = 0; index < entries.size(); ++index) {
    text += index == 0 ? "\n  " : ",\n  ";
    text += entries[index];
  }
  text += entries.empty() ? "]}\n" : "\n ]}\n";
  return text;
}

std::optional<std::vector<TrackingEvent>> ReadStoredEvents(std::string_view text) {
  try {
    return ReadEvents(text);
  } catch (const BadEntry&) {
    return std::nullopt;
  }
}

std::string WriteStoredEvents(const std::vector<TrackingEvent>& events) {
  std::string text = "[";
  for (const TrackingEvent& event : events) {
    if (text.size() > 1) text += ',';
    StoredObjectWriter item(event.unknown);
    item.Put("time", event.time);
    item.Put("context", event.context);
    if (!event.area.empty()) item.Put("area", event.area);
    if (!event.status.empty()) item.Put("status", event.status);
    text += item.Text();
  }
  return text + "]";
}

std::vector<std::string> WithUnreadEntries(std::vector<std::string> entries, const std::vector<UnreadEntry>& unread) {
  std::vector<const UnreadEntry*> order;
  order.reserve(unread.size());
  for (const UnreadEntry& entry : unread) order.push_back(&entry);
  std::stable_sort(order.begin(), order.end(),
                   [](const UnreadEntry* left, const UnreadEntry* right) { return left->position < right->position; });
  std::vector<std::string> merged;
  merged.reserve(entries.size() + unread.size());
  std::size_t next = 0;
  for (const UnreadEntry* entry : order) {
    while (merged.size() < entry->position && next < entries.size()) merged.push_back(std::move(entries[next++]));
    merged.push_back(entry->text);
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
