#include "watch/watch_file.h"

#include <array>
#include <optional>
#include <utility>

namespace quenzil {

namespace {

constexpr std::array<std::string_view, 19> kParcelKeys = {
    "number", "carrier", "carrier_name", "phone", "note", "service", "city", "state", "signed",
    "events", "added", "last_checked", "last_changed", "last_answered", "last_problem",
    "failures", "failing_since", "needs_phone", "put_away"};

constexpr int kMaxFailuresKept = 1000;

std::optional<WatchedParcel> ReadParcel(std::string_view text) {
  const std::optional<StoredObject> object = StoredObject::Read(text);
  if (!object) return std::nullopt;
  WatchedParcel parcel;
  const bool readable =
      object->Text("number", parcel.number) && object->Text("carrier", parcel.carrier) &&
      object->Text("carrier_name", parcel.carrier_name) && object->Text("phone", parcel.phone) &&
      object->Text("note", parcel.note) && object->Text("service", parcel.service) &&
      object->Text("city", parcel.city) && object->Text("state", parcel.state) &&
      object->Flag("signed", parcel.signed_for) && object->Events("events", parcel.events) &&
      object->Time("added", parcel.added) && object->Time("last_checked", parcel.last_checked) &&
      object->Time("last_changed", parcel.last_changed) && object->Time("last_answered", parcel.last_answered) &&
      object->Text("last_problem", parcel.last_problem) &&
      object->Count("failures", parcel.failures, kMaxFailuresKept) &&
      object->Time("failing_since", parcel.failing_since) && object->Flag("needs_phone", parcel.needs_phone) &&
      object->Time("put_away", parcel.put_away);
  if (!readable || parcel.number.empty() || parcel.carrier.empty()) return std::nullopt;
  parcel.unknown = object->Unknown(kParcelKeys);
  return parcel;
}

std::string WriteParcel(const WatchedParcel& parcel) {
  StoredObjectWriter object(parcel.unknown);
  object.Put("number", parcel.number);
  object.Put("carrier", parcel.carrier);
  object.PutIfSet("carrier_name", parcel.carrier_name);
  object.PutIfSet("phone", parcel.phone);
  object.PutIfSet("note", parcel.note);
  object.PutIfSet("service", parcel.service);
  object.PutIfSet("city", parcel.city);
  object.PutIfSet("state", parcel.state);
  if (parcel.signed_for) object.Put("signed", true);
  object.PutEvents("events", parcel.events);
  object.PutTime("added", parcel.added);
  object.PutTime("last_checked", parcel.last_checked);
  object.PutTime("last_changed", parcel.last_changed);
  object.PutTime("last_answered", parcel.last_answered);
  object.PutIfSet("last_problem", parcel.last_problem);
  if (parcel.failures > 0) object.Put("failures", parcel.failures);
  object.PutTime("failing_since", parcel.failing_since);
  if (parcel.needs_phone) object.Put("needs_phone", true);
  object.PutTime("put_away", parcel.put_away);
  return object.Text();
}

}  // namespace

WatchList ParseWatchFile(std::string_view text) {
  StoredDocument document = ReadStoredDocument(text, "parcels");
  WatchList list;
  list.unknown = std::move(document.unknown);
  for (std::size_t index = 0; index < document.entries.size(); ++index) {
    const std::string_view entry = document.entries[index];
    std::optional<WatchedParcel> parcel = ReadParcel(entry);
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

}  // namespace quenzil
