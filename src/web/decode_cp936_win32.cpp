// Code page 936 through MultiByteToWideChar. The whole buffer is converted
// strictly in one call; only when that fails is it cut into units, and runs
// between the invalid units are converted strictly again.
#include <windows.h>

#include <climits>
#include <string>
#include <system_error>

#include "common/utf.h"
#include "web/charset.h"
#include "web/cp936_units.h"

namespace quenzil {

namespace {

constexpr UINT kCodePage936 = 936;
constexpr wchar_t kReplacementWide = L'\xFFFD';

// Appends the strict conversion of `run`; false, with `wide` unchanged, when
// the run holds something code page 936 does not map.
bool AppendStrict(std::span<const std::uint8_t> run, std::wstring& wide) {
  if (run.empty()) return true;
  if (run.size() > INT_MAX) return false;
  const std::size_t old_size = wide.size();
  wide.resize(old_size + run.size());  // never more characters than bytes
  const int converted = ::MultiByteToWideChar(
      kCodePage936, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(run.data()),
      static_cast<int>(run.size()), wide.data() + old_size, static_cast<int>(run.size()));
  if (converted > 0) {
    wide.resize(old_size + static_cast<std::size_t>(converted));
    return true;
  }
  const DWORD error = ::GetLastError();
  wide.resize(old_size);
  if (error != ERROR_NO_UNICODE_TRANSLATION)
    throw std::system_error(static_cast<int>(error), std::system_category(),
                            "MultiByteToWideChar 936");
  return false;
}

// A run of units that failed as a whole: halves it at a unit boundary until
// the units that fail stand alone, and replaces those.
void AppendRun(std::span<const std::uint8_t> run, std::wstring& wide) {
  if (AppendStrict(run, wide)) return;
  std::size_t middle = 0;
  while (middle < run.size() / 2) middle += cp936::UnitLength(run, middle);
  if (middle == 0 || middle >= run.size()) {
    wide.push_back(kReplacementWide);  // a single unit
    return;
  }
  AppendRun(run.first(middle), wide);
  AppendRun(run.subspan(middle), wide);
}

}  // namespace

std::string DecodeCp936(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return {};
  std::wstring wide;
  if (!AppendStrict(bytes, wide)) {
    std::size_t run_start = 0;
    std::size_t at = 0;
    while (at < bytes.size()) {
      if (cp936::IsLoneByte(bytes, at)) {
        AppendRun(bytes.subspan(run_start, at - run_start), wide);
        wide.push_back(kReplacementWide);
        run_start = ++at;
      } else {
        at += cp936::UnitLength(bytes, at);
      }
    }
    AppendRun(bytes.subspan(run_start), wide);
  }
  return Narrow(wide);
}

}  // namespace quenzil
