#include "watch/stored_file.h"

#include <algorithm>
#include <utility>

namespace quenzil {

namespace {

constexpr int kVersion = 1;

constexpr std::array<std::string_view, 4> kEventKeys = {"time", "context", "area", "status"};

[[noreturn]] void Untouchable(const std::string& what) { throw WatchFileUntouchableError(what); }

}  // namespace

// ---- The document ------------------------------------------------------------

StoredDocument ReadStoredDocument(std::string_view text, std::string_view list_key) {
  const json::Read read = json::Open(text);
  if (read.problem == json::Read::Problem::kTooDeep) Untouchable("嵌套层数过多");
  if (!read.ok()) throw WatchFileError("不是有效的 JSON");
  if (!read.root.is(json::Type::kObject)) Untouchable("最外层不是对象");
  StoredDocument stored;
  std::optional<json::Value> list;
  std::vector<std::string> names;
  for (const json::Member& member : read.root.Members()) {
    // Which of two would the user mean? Neither is dropped: the file stays as it is.
    if (std::find(names.begin(), names.end(), member.name) != names.end()) {
      Untouchable("“" + member.name + "”写了两次");
    }
    names.push_back(member.name);
    if (member.name == "version") {
      const std::optional<std::int64_t> version = member.value().Integer();
      // A whole number too long for 64 bits is a version too, if no known one.
      const std::string_view written = member.value_text;
      const bool whole = version || (member.value().is(json::Type::kNumber) &&
                                     written.find_first_not_of("-0123456789") == std::string_view::npos);
      if (!whole) Untouchable("版本号不是整数");
      if (version != kVersion) {
        throw WatchFileVersionError("版本 " + std::string(written) + " 不是本程序认识的版本");
      }
    } else if (member.name == list_key) {
      list = member.value();
    } else {
      stored.unknown.push_back({member.name, std::string(member.text)});
    }
  }
  if (list) {
    if (!list->is(json::Type::kArray)) Untouchable(std::string(list_key) + " 不是数组");
    list->ForEachElement([&stored](const json::Value& entry) { stored.entries.push_back(entry.text()); });
  }
  return stored;
}

std::string WriteStoredDocument(const KeptFields& unknown, std::string_view list_key,
                                const std::vector<std::string>& entries) {
  std::string text = "{";
  for (const KeptField& field : unknown) {
    if (field.name == "version" || field.name == list_key) continue;
    text += field.text;
    text += ",\n ";
  }
  text += "\"version\":" + std::to_string(kVersion) + ",\n \"" + std::string(list_key) + "\":[";
  for (std::size_t index = 0; index < entries.size(); ++index) {
    text += index == 0 ? "\n  " : ",\n  ";
    text += entries[index];
  }
  text += entries.empty() ? "]}\n" : "\n ]}\n";
  return text;
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

// ---- Entries -----------------------------------------------------------------

std::optional<StoredObject> StoredObject::Read(std::string_view text) {
  // The entry is part of a file already read whole: it is JSON.
  const json::Value value = json::Value::At(text, 0);
  if (!value.is(json::Type::kObject)) return std::nullopt;
  StoredObject object;
  object.members_ = value.Members();
  return object;
}

const json::Member* StoredObject::One(std::string_view name, bool& twice) const {
  const json::Member* found = nullptr;
  for (const json::Member& member : members_) {
    if (member.name != name) continue;
    if (found != nullptr) twice = true;
    found = &member;
  }
  return found;
}

bool StoredObject::Text(std::string_view name, std::string& out) const {
  bool twice = false;
  const json::Member* member = One(name, twice);
  if (member == nullptr) return true;
  std::optional<std::string> text = member->value().String();
  if (twice || !text) return false;
  out = std::move(*text);
  return true;
}

bool StoredObject::Flag(std::string_view name, bool& out) const {
  bool twice = false;
  const json::Member* member = One(name, twice);
  if (member == nullptr) return true;
  const std::optional<bool> flag = member->value().Boolean();
  if (twice || !flag) return false;
  out = *flag;
  return true;
}

bool StoredObject::Time(std::string_view name, UnixSeconds& out) const {
  std::string text;
  if (!Text(name, text)) return false;
  if (text.empty()) return true;
  const UnixSeconds seconds = ParseIsoUtc(text);
  if (seconds == 0) return false;
  out = seconds;
  return true;
}

bool StoredObject::Count(std::string_view name, int& out, int max) const {
  bool twice = false;
  const json::Member* member = One(name, twice);
  if (member == nullptr) return true;
  const std::optional<std::int64_t> count = member->value().Integer();
  if (twice || !count || *count < 0) return false;
  out = static_cast<int>(std::min<std::int64_t>(*count, max));
  return true;
}

bool StoredObject::Events(std::string_view name, std::vector<TrackingEvent>& out) const {
  bool twice = false;
  const json::Member* member = One(name, twice);
  if (member == nullptr) return true;
  const json::Value list = member->value();
  if (twice || !list.is(json::Type::kArray)) return false;
  std::vector<TrackingEvent> events;
  bool readable = true;
  list.ForEachElement([&](const json::Value& element) {
    const std::optional<StoredObject> stored = readable ? Read(element.text()) : std::nullopt;
    TrackingEvent event;
    readable = stored && stored->Text("time", event.time) && stored->Text("context", event.context) &&
               stored->Text("area", event.area) && stored->Text("status", event.status);
    if (!readable) return;
    event.unknown = stored->Unknown(kEventKeys);
    events.push_back(std::move(event));
  });
  if (!readable) return false;
  out = std::move(events);
  return true;
}

KeptFields StoredObject::UnknownOf(std::span<const std::string_view> known) const {
  KeptFields kept;
  for (const json::Member& member : members_) {
    if (std::find(known.begin(), known.end(), member.name) == known.end()) {
      kept.push_back({member.name, std::string(member.text)});
    }
  }
  return kept;
}

StoredObjectWriter::StoredObjectWriter(const KeptFields& kept) {
  for (const KeptField& field : kept) Member(field.text);
}

void StoredObjectWriter::Put(std::string_view name, std::string_view text) { PutJson(name, json::Quote(text)); }
void StoredObjectWriter::Put(std::string_view name, bool value) { PutJson(name, value ? "true" : "false"); }
void StoredObjectWriter::Put(std::string_view name, int value) { PutJson(name, std::to_string(value)); }

void StoredObjectWriter::PutTime(std::string_view name, UnixSeconds value) {
  if (value != 0) PutIfSet(name, IsoUtc(value));
}

void StoredObjectWriter::PutIfSet(std::string_view name, std::string_view text) {
  if (!text.empty()) Put(name, text);
}

void StoredObjectWriter::PutEvents(std::string_view name, const std::vector<TrackingEvent>& events) {
  if (!events.empty()) PutJson(name, WriteStoredEvents(events));
}

void StoredObjectWriter::PutJson(std::string_view name, std::string_view value) {
  std::string member = json::Quote(name);
  member += ':';
  member += value;
  Member(member);
}

void StoredObjectWriter::Member(std::string_view text) {
  if (text_.size() > 1) text_ += ',';
  text_ += text;
}

std::string WriteStoredEvents(const std::vector<TrackingEvent>& events) {
  std::string text = "[";
  for (const TrackingEvent& event : events) {
    if (text.size() > 1) text += ',';
    StoredObjectWriter item(event.unknown);
    item.Put("time", event.time);
    item.Put("context", event.context);
    item.PutIfSet("area", event.area);
    item.PutIfSet("status", event.status);
    text += item.Text();
  }
  return text + "]";
}

}  // namespace quenzil
