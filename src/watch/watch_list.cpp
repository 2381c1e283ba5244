#include "watch/watch_list.h"

#include <algorithm>
#include <utility>

#include "query/couriers.h"
#include "query/parcel_state.h"

namespace quenzil {

namespace {

// The shell's limits, in UTF-16 units, without the terminating zero.
constexpr std::size_t kTitleUnits = 63;
constexpr std::size_t kTextUnits = 255;
// A menu item stays readable; longer notes are cut.
constexpr std::size_t kMenuNameUnits = 32;

constexpr std::string_view kEllipsis = "…";

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// UTF-16 units of the sequence that starts with this byte: two for the four
// byte forms, one for everything else (stray bytes count one each, as the
// converter would replace them).
std::size_t UnitsOfLead(unsigned char byte) { return byte >= 0xF0 ? 2 : 1; }

std::size_t Utf16Units(std::string_view text) {
  std::size_t units = 0;
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (!IsContinuation(byte)) units += UnitsOfLead(byte);
  }
  return units;
}

// The longest head of the text within max_units, never cut inside a UTF-8
// sequence.
std::string_view HeadWithin(std::string_view text, std::size_t max_units) {
  std::size_t units = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (IsContinuation(byte)) continue;
    units += UnitsOfLead(byte);
    if (units > max_units) return text.substr(0, at);
  }
  return text;
}

// The text itself if it fits, else its head and "…" within max_units.
std::string Shortened(std::string_view text, std::size_t max_units) {
  if (Utf16Units(text) <= max_units) return std::string(text);
  if (max_units == 0) return {};
  std::string cut(HeadWithin(text, max_units - 1));
  cut += kEllipsis;
  return cut;
}

std::string DisplayName(const WatchedParcel& parcel) {
  return CarrierName(parcel.carrier, parcel.carrier_name);
}

std::string_view NoteOrNumber(const WatchedParcel& parcel) {
  return parcel.note.empty() ? std::string_view(parcel.number) : std::string_view(parcel.note);
}

bool IsFinalParcel(const WatchedParcel& parcel) {
  TrackingResult last_seen;
  last_seen.state = parcel.state;
  last_seen.signed_for = parcel.signed_for;
  return IsFinal(last_seen);
}

std::vector<TrackingEvent> NewestEvents(const std::vector<TrackingEvent>& events) {
  if (events.size() <= kMaxEvents) return events;
  return {events.end() - static_cast<std::ptrdiff_t>(kMaxEvents), events.end()};
}

bool SameEvent(const TrackingEvent& left, const TrackingEvent& right) {
  return left.time == right.time && left.context == right.context;
}

}  // namespace

std::optional<std::size_t> FindParcel(const WatchList& list, std::string_view number,
                                      std::string_view carrier) {
  for (std::size_t index = 0; index < list.parcels.size(); ++index) {
    const WatchedParcel& parcel = list.parcels[index];
    if (parcel.number == number && parcel.carrier == carrier) return index;
  }
  return std::nullopt;
}

AddResult AddParcel(WatchList& list, WatchedParcel parcel) {
  if (FindParcel(list, parcel.number, parcel.carrier)) return AddResult::kAlreadyWatched;
  if (list.parcels.size() >= kMaxWatched) return AddResult::kFull;
  list.parcels.push_back(std::move(parcel));
  return AddResult::kAdded;
}

bool RemoveParcel(WatchList& list, std::string_view number, std::string_view carrier) {
  const std::optional<std::size_t> index = FindParcel(list, number, carrier);
  if (!index) return false;
  list.parcels.erase(list.parcels.begin() + static_cast<std::ptrdiff_t>(*index));
  std::erase_if(list.unread, [&](const UnreadEntry& entry) {
    return entry.copy_of && entry.copy_of->first == number && entry.copy_of->second == carrier;
  });
  return true;
}

WatchedParcel ParcelFromResult(const TrackingResult& result, std::string_view carrier_name,
                               std::string_view phone, std::string_view note, UnixSeconds now) {
  WatchedParcel parcel;
  parcel.number = result.number;
  parcel.carrier = result.carrier_code;
  parcel.carrier_name = std::string(carrier_name);
  parcel.phone = std::string(phone);
  parcel.note = std::string(note);
  parcel.added = now;
  MergeResult(parcel, result, now);
  return parcel;
}

MergeOutcome MergeResult(WatchedParcel& parcel, const TrackingResult& fresh, UnixSeconds now) {
  // Compared after the cut to the newest events, so an answer longer than
  // what is kept does not bring its oldest events back as new each time.
  std::vector<TrackingEvent> events = NewestEvents(fresh.events);
  const bool first = !parcel.answered();
  const bool new_events = std::any_of(events.begin(), events.end(), [&](const TrackingEvent& event) {
    return std::none_of(parcel.events.begin(), parcel.events.end(),
                        [&](const TrackingEvent& kept) { return SameEvent(kept, event); });
  });
  const bool new_state = fresh.state != parcel.state || fresh.signed_for != parcel.signed_for;

  MergeOutcome outcome;
  outcome.changed = first || new_events || new_state;
  outcome.notify = outcome.changed && !first;

  // An event seen before keeps what its stored copy held beyond the
  // service's fields.
  for (TrackingEvent& event : events) {
    const auto kept = std::find_if(parcel.events.begin(), parcel.events.end(),
                                   [&](const TrackingEvent& old) { return SameEvent(old, event); });
    if (kept != parcel.events.end()) event.unknown = kept->unknown;
  }
  parcel.events = std::move(events);
  parcel.state = fresh.state;
  parcel.signed_for = fresh.signed_for;
  // Where it is now: an answer that does not say leaves what an earlier one said.
  if (!fresh.city.empty()) parcel.city = fresh.city;
  parcel.last_checked = now;
  parcel.last_answered = now;
  parcel.last_problem.clear();
  parcel.failures = 0;
  parcel.failing_since = 0;
  parcel.needs_phone = false;
  if (outcome.changed) parcel.last_changed = now;
  return outcome;
}

bool IsRetired(const WatchedParcel& parcel, UnixSeconds now) {
  if (IsFinalParcel(parcel) || parcel.put_away != 0) return true;
  if (!parcel.fetched()) return false;
  const UnixSeconds since = std::max(parcel.added, parcel.last_changed);
  if (since == 0) return false;
  const UnixSeconds seen = std::min(parcel.last_checked, now);
  return seen - since >= kRetireAfterSeconds;
}

std::optional<UnixSeconds> PutAwayAt(const WatchedParcel& parcel) {
  if (parcel.put_away != 0 || !IsFinalParcel(parcel)) return std::nullopt;
  return std::max(parcel.added, parcel.last_changed) + kPutAwayAfterSeconds;
}

std::string NotificationTitle(const WatchedParcel& parcel) {
  const std::string head = DisplayName(parcel) + " ";
  const std::string tail = "：" + StateText(parcel.state);
  const std::size_t fixed = Utf16Units(head) + Utf16Units(tail);
  // A carrier name or state too long to leave room for the parcel: cut the
  // whole line instead.
  if (fixed + 1 > kTitleUnits) {
    return Shortened(head + std::string(NoteOrNumber(parcel)) + tail, kTitleUnits);
  }
  return head + Shortened(NoteOrNumber(parcel), kTitleUnits - fixed) + tail;
}

std::string NotificationText(const WatchedParcel& parcel) {
  // An empty text would take the balloon away, so there is always one.
  if (parcel.events.empty()) {
    return parcel.state.empty() ? std::string("暂无物流信息") : StateText(parcel.state);
  }
  const TrackingEvent& newest = parcel.events.back();
  std::string text = parcel.city.empty() ? std::string() : "[" + parcel.city + "] ";
  text += newest.time + " " + newest.context;
  // The service's words may hold control characters; a balloon shows one line.
  for (char& character : text) {
    if (static_cast<unsigned char>(character) < 0x20) character = ' ';
  }
  return Shortened(text, kTextUnits);
}

std::string MenuLabel(const WatchedParcel& parcel, UnixSeconds now) {
  std::string label = DisplayName(parcel) + " " + Shortened(NoteOrNumber(parcel), kMenuNameUnits);
  const bool failing_long = parcel.failing_since > 0 && now - parcel.failing_since >= kFailingShownAfterSeconds;
  if (!parcel.answered()) {
    label += parcel.needs_phone ? "（需要手机号后四位）" : failing_long ? "（刷新失败）" : "（等待刷新）";
    return EscapeMenuText(label);
  }
  label += ' ';
  label += StateText(parcel.state);
  if (IsFinalParcel(parcel)) {
    label += IsReturnedState(parcel.state) ? "（已退签，不再刷新）" : "（已签收，不再刷新）";
  } else if (IsRetired(parcel, now)) {
    label += "（30天无变化，不再刷新）";
  } else if (parcel.needs_phone) {
    label += "（需要手机号后四位）";
  } else if (failing_long) {
    label += "（刷新失败）";
  }
  return EscapeMenuText(label);
}

std::vector<std::string> ParcelRows(const WatchedParcel& parcel) {
  if (!parcel.answered()) {
    std::string row = DisplayName(parcel) + "  " + parcel.number + "  等待第一次刷新";
    if (!parcel.last_problem.empty()) row += "（上次：" + parcel.last_problem + "）";
    return {row};
  }
  return ResultRows(ResultOf(parcel), DisplayName(parcel));
}

TrackingResult ResultOf(const WatchedParcel& parcel) {
  TrackingResult result;
  result.number = parcel.number;
  result.carrier_code = parcel.carrier;
  result.state = parcel.state;
  result.signed_for = parcel.signed_for;
  result.events = parcel.events;
  result.city = parcel.city;
  return result;
}

std::string EscapeMenuText(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char character : text) {
    escaped += character;
    if (character == '&') escaped += '&';
  }
  return escaped;
}

}  // namespace quenzil
