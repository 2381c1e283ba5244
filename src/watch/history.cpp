#include "watch/history.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include "query/couriers.h"
#include "query/parcel_state.h"
#include "watch/stored_file.h"

namespace quenzil {

namespace {

constexpr std::size_t kMaxLabelCharacters = 64;
constexpr std::size_t kMaxTailCharacters = 24;
// Below this the whole label is cut instead of the number alone.
constexpr std::size_t kMinNumberCharacters = 8;

constexpr std::string_view kEllipsis = "…";

constexpr std::array<std::string_view, 11> kEntryKeys = {
    "number", "carrier", "carrier_name", "first_row", "phone", "answered", "keyed", "state", "signed", "events", "service"};

std::optional<HistoryEntry> ReadEntry(std::string_view text) {
  const std::optional<StoredObject> object = StoredObject::Read(text);
  if (!object) return std::nullopt;
  HistoryEntry entry;
  const bool readable =
      object->Text("number", entry.number) && object->Text("carrier", entry.carrier) &&
      object->Text("carrier_name", entry.carrier_name) && object->Text("first_row", entry.first_row) &&
      object->Text("phone", entry.phone) && object->Time("answered", entry.answered) &&
      object->Flag("keyed", entry.keyed) && object->Text("state", entry.state) &&
      object->Flag("signed", entry.signed_for) && object->Events("events", entry.events) &&
      object->Text("service", entry.service);
  if (!readable || entry.number.empty() || entry.carrier.empty()) return std::nullopt;
  entry.unknown = object->Unknown(kEntryKeys);
  return entry;
}

std::string WriteEntry(const HistoryEntry& entry) {
  StoredObjectWriter object(entry.unknown);
  object.Put("number", entry.number);
  object.Put("carrier", entry.carrier);
  object.PutIfSet("carrier_name", entry.carrier_name);
  object.PutIfSet("first_row", entry.first_row);
  object.PutIfSet("phone", entry.phone);
  object.PutTime("answered", entry.answered);
  if (entry.keyed) object.Put("keyed", true);
  object.PutIfSet("state", entry.state);
  if (entry.signed_for) object.Put("signed", true);
  object.PutEvents("events", entry.events);
  object.PutIfSet("service", entry.service);
  return object.Text();
}

bool IsContinuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

std::size_t Characters(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char byte) { return !IsContinuation(byte); }));
}

// The text itself if it has at most `max` characters, else its head and
// "…" in `max`; never cut inside a character.
std::string Shortened(std::string_view text, std::size_t max) {
  if (Characters(text) <= max) return std::string(text);
  if (max == 0) return {};
  std::size_t at = 0;
  for (std::size_t kept = 0; at < text.size(); ++at) {
    if (IsContinuation(text[at])) continue;
    if (kept == max - 1) break;
    ++kept;
  }
  return std::string(text.substr(0, at)).append(kEllipsis);
}

// A menu item is one line; a tab would start its shortcut column.
std::string OneLine(std::string text) {
  for (char& character : text) {
    if (static_cast<unsigned char>(character) < 0x20 || character == 0x7F) character = ' ';
  }
  return text;
}

}  // namespace

void RecordEntry(History& history, HistoryEntry entry) {
  std::vector<HistoryEntry>& entries = history.entries;
  const auto earlier = std::find_if(entries.begin(), entries.end(),
                                    [&](const HistoryEntry& old) { return old.number == entry.number; });
  if (earlier != entries.end()) {
    for (const KeptField& field : earlier->unknown) {
      const bool known = std::any_of(entry.unknown.begin(), entry.unknown.end(),
                                     [&](const KeptField& mine) { return mine.name == field.name; });
      if (!known) entry.unknown.push_back(field);
    }
  }
  std::erase_if(entries, [&](const HistoryEntry& old) { return old.number == entry.number; });
  if (entry.events.size() > kMaxEvents) {
    entry.events.erase(entry.events.begin(), entry.events.end() - static_cast<std::ptrdiff_t>(kMaxEvents));
  }
  entries.insert(entries.begin(), std::move(entry));
  if (entries.size() > kMaxHistory) entries.resize(kMaxHistory);
}

std::string RecentLabel(const HistoryEntry& entry) {
  const std::string head = OneLine(CarrierName(entry.carrier, entry.carrier_name));
  const std::string number = OneLine(entry.number);
  const std::string tail =
      Shortened(OneLine(entry.keyed ? StateText(entry.state) : entry.first_row), kMaxTailCharacters);
  const std::size_t fixed = Characters(head) + 1 + (tail.empty() ? 0 : 1 + Characters(tail));
  std::string label;
  if (fixed + kMinNumberCharacters <= kMaxLabelCharacters) {
    label = head + " " + Shortened(number, kMaxLabelCharacters - fixed);
    if (!tail.empty()) label += " " + tail;
  } else {
    // A carrier's name too long to leave room for the number.
    label = head + " " + number;
    if (!tail.empty()) label += " " + tail;
    label = Shortened(label, kMaxLabelCharacters);
  }
  return EscapeMenuText(label);
}

History ParseHistoryFile(std::string_view text) {
  StoredDocument document;
  try {
    document = ReadStoredDocument(text, "entries");
  } catch (const WatchFileUntouchableError& error) {
    throw HistoryFileError(error.what(), /*untouchable=*/true);
  } catch (const WatchFileError& error) {
    throw HistoryFileError(error.what(), /*untouchable=*/false);
  }
  History history;
  history.unknown = std::move(document.unknown);
  for (std::size_t index = 0; index < document.entries.size(); ++index) {
    const std::string_view value = document.entries[index];
    std::optional<HistoryEntry> entry = ReadEntry(value);
    const bool taken = entry && history.entries.size() < kMaxHistory &&
                       std::none_of(history.entries.begin(), history.entries.end(),
                                    [&](const HistoryEntry& kept) { return kept.number == entry->number; });
    if (taken) {
      history.entries.push_back(std::move(*entry));
    } else {
      history.unread.push_back({index, std::string(value)});
    }
  }
  return history;
}

std::string SerializeHistoryFile(const History& history) {
  std::vector<std::string> entries;
  for (const HistoryEntry& entry : history.entries) entries.push_back(WriteEntry(entry));
  return WriteStoredDocument(history.unknown, "entries", WithUnreadEntries(std::move(entries), history.unread));
}

}  // namespace quenzil
