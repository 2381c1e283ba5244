// Fields of a stored JSON object that this program does not know, each kept
// as the text it was read from, so that writing the object back changes
// nothing in them: not their spelling, not the order of their keys, not a
// number beyond what 64 bits hold.
#pragma once

#include <string>
#include <vector>

namespace quenzil {

struct KeptField {
  std::string name;  // the key, decoded
  std::string text;  // the member as written: key, colon and value
  bool operator==(const KeptField&) const = default;
};

using KeptFields = std::vector<KeptField>;

}  // namespace quenzil
