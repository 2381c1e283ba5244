#include "app/answer_book.h"

#include <utility>

#include "query/couriers.h"

namespace quenzil {

namespace {

bool Matches(std::string_view number, std::string_view carrier, std::string_view wanted_number,
             std::string_view wanted_carrier) {
  return number == wanted_number && (wanted_carrier.empty() || carrier == wanted_carrier);
}

// The newer of two kept answers.
void KeepNewer(std::optional<KeptAnswer>& best, KeptAnswer candidate) {
  if (!best || candidate.answered_at > best->answered_at) best = std::move(candidate);
}

}  // namespace

std::optional<KeptAnswer> AnswerBook::Kept(const WatchList& watched, std::string_view number,
                                       std::string_view carrier_code) const {
  std::optional<KeptAnswer> best;
  for (const WatchedParcel& parcel : watched.parcels) {
    if (!Matches(parcel.number, parcel.carrier, number, carrier_code) || parcel.last_answered == 0) continue;
    KeepNewer(best, {parcel.number, parcel.carrier, CarrierName(parcel.carrier, parcel.carrier_name), parcel.phone,
                     ResultOf(parcel), parcel.last_answered, parcel.service});
  }
  const History stored = history_.Load();
  for (const auto* entries : {&kept_here_.entries, &stored.entries}) {
    for (const HistoryEntry& entry : *entries) {
      if (!entry.keyed || !Matches(entry.number, entry.carrier, number, carrier_code)) continue;
      KeepNewer(best, {entry.number, entry.carrier, CarrierName(entry.carrier, entry.carrier_name), entry.phone,
                       {entry.number, entry.carrier, entry.state, entry.signed_for, entry.events}, entry.answered,
                       entry.service});
    }
  }
  return best;
}

std::string AnswerBook::PhoneFor(const WatchList& watched, std::string_view number,
                                 std::string_view carrier_code) const {
  if (const auto index = FindParcel(watched, number, carrier_code)) {
    const std::string& phone = watched.parcels[*index].phone;
    if (!phone.empty()) return phone;
  }
  // The last queries' digits come with their kept answers; those of this
  // process are known without reading the file again.
  for (const HistoryEntry& entry : kept_here_.entries) {
    if (entry.number == number && entry.carrier == carrier_code && !entry.phone.empty()) return entry.phone;
  }
  return {};
}

HistoryEntry AnswerBook::Record(const QueryOutcome& outcome) {
  HistoryEntry entry = HistoryEntryOf(outcome);
  RecordEntry(kept_here_, entry);
  return entry;
}

void AnswerBook::Write(const HistoryEntry& entry) {
  history_.Update([&entry](History& history) { RecordEntry(history, entry); });
}

HistoryEntry HistoryEntryOf(const QueryOutcome& outcome) {
  HistoryEntry entry;
  entry.number = outcome.number;
  entry.carrier = outcome.carrier_code;
  entry.carrier_name = outcome.carrier_name;
  if (!outcome.rows.empty()) entry.first_row = outcome.rows.front();
  entry.phone = outcome.phone;
  entry.service = outcome.service;
  entry.answered = outcome.answered_at;
  if (outcome.result) {
    entry.keyed = true;
    entry.state = outcome.result->state;
    entry.signed_for = outcome.result->signed_for;
    entry.events = outcome.result->events;
  }
  return entry;
}

}  // namespace quenzil
