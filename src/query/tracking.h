// What a parcel's tracking is, whichever service told it: its events and
// its state in the program's one state model (see parcel_state.h).
#pragma once

#include <string>
#include <vector>

#include "common/kept_json.h"

namespace quenzil {

struct TrackingEvent {
  std::string time;     // "2012-08-28 16:33:19", Beijing time
  std::string context;  // what happened
  std::string area;     // where, may be empty
  std::string status;   // the event's own status word, may be empty
  // Fields a stored copy of the event holds that this program does not
  // know: written back as they were read.
  KeptFields unknown = {};
  bool operator==(const TrackingEvent&) const = default;
};

struct TrackingResult {
  std::string number;
  std::string carrier_code;  // the courier, by the courier table's code
  std::string state;         // a state of the model, e.g. "0", "3", "301"
  bool signed_for = false;   // the service says so, whatever the state
  std::vector<TrackingEvent> events;  // oldest first
  std::string city = {};     // where the parcel is now, where the service says; may be empty
};

}  // namespace quenzil
