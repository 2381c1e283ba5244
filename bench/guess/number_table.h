// bench/guess/numbers.tsv: tracking numbers as people have them, each with
// the courier it belongs to (tab-separated; # starts a comment line).
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace bench {

struct NumberRow {
  std::string number;
  std::string courier;
};

inline std::vector<NumberRow> ReadNumberTable(const std::filesystem::path& path) {
  std::vector<NumberRow> rows;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("number\t", 0) == 0) continue;
    std::istringstream fields(line);
    NumberRow row;
    std::getline(fields, row.number, '\t');
    std::getline(fields, row.courier, '\t');
    rows.push_back(row);
  }
  return rows;
}

}  // namespace bench
