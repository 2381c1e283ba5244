// Times DecodeBytes + ClassifyAnswer over answers of several sizes and
// shapes, next to a plain substring scan for the marker "时间" over the same
// bytes: the floor no reading of the answer can beat. Both are measured in
// the same run so the ratio holds on any machine.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "query/services/kuaidi100_old.h"
#include "web/charset.h"
#include "web/pattern.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;
constexpr std::string_view kTrackingMarker = "时间";

// Code page 936 bytes of the Chinese texts used below.
constexpr std::string_view kGbkTime = "\xCA\xB1\xBC\xE4";  // 时间
constexpr std::string_view kGbkArrived =
    "\xA1\xBE\xBA\xBC\xD6\xDD\xA1\xBF\xBF\xEC\xBC\xFE\xD2\xD1\xB5\xBD\xB4\xEF";  // 【杭州】快件已到达

void Append(Bytes& bytes, std::string_view text) { bytes.insert(bytes.end(), text.begin(), text.end()); }

// An answer page: a header row holding "时间" and tracking rows until `size`.
Bytes TrackingAnswer(std::size_t size, bool gbk) {
  const std::string_view time = gbk ? kGbkTime : std::string_view("时间");
  const std::string_view arrived = gbk ? kGbkArrived : std::string_view("【杭州】快件已到达");
  Bytes bytes;
  bytes.reserve(size + 512);
  Append(bytes, "<html><body><table><tr><th>");
  Append(bytes, time);
  Append(bytes, "</th></tr>\r\n");
  unsigned row = 0;
  while (bytes.size() < size) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "2024-05-%02u %02u:%02u:00", 1 + row / 1440 % 28,
                  row / 60 % 24, row % 60);
    Append(bytes, "<tr><td style='color:#666;padding:3px 5px;'>");
    Append(bytes, stamp);
    Append(bytes, "</td><td style='color:#666;padding:3px 5px;'>");
    Append(bytes, arrived);
    Append(bytes, " 杭州转运中心</td></tr>\r\n");
    ++row;
  }
  Append(bytes, "</table></body></html>");
  return bytes;
}

Bytes OneLongCell(std::size_t size) {
  Bytes bytes;
  bytes.reserve(size + 64);
  Append(bytes, "<th>时间</th><td style='padding:3px 5px;'>");
  while (bytes.size() < size) Append(bytes, "快件已到达杭州转运中心");
  Append(bytes, "</td>");
  return bytes;
}

Bytes UnclosedMarkers(std::size_t count) {
  Bytes bytes;
  Append(bytes, "<th>时间</th></th>");
  for (std::size_t i = 0; i < count; ++i) Append(bytes, "3px 5px;'>");
  return bytes;
}

Bytes Garbage(std::size_t size) {
  Bytes bytes(size);
  std::uint64_t state = 2024;
  for (auto& byte : bytes) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    byte = static_cast<std::uint8_t>(state >> 56);
  }
  // 时间 in code page 936 near the start, so the rows are looked for too.
  std::copy(kGbkTime.begin(), kGbkTime.end(), bytes.begin() + 16);
  return bytes;
}

// Best of `repeats` runs, in seconds.
double BestSeconds(int repeats, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < repeats; ++i) {
    const auto start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

struct Shape {
  const char* name;
  Bytes body;
};

int RunBenchmark() {
  std::vector<Shape> shapes;
  shapes.push_back({"rows UTF-8 10 KB", TrackingAnswer(10 * 1000, false)});
  shapes.push_back({"rows UTF-8 1 MiB", TrackingAnswer(kMiB, false)});
  shapes.push_back({"rows UTF-8 16 MiB", TrackingAnswer(16 * kMiB, false)});
  shapes.push_back({"rows GBK 10 KB", TrackingAnswer(10 * 1000, true)});
  shapes.push_back({"rows GBK 1 MiB", TrackingAnswer(kMiB, true)});
  shapes.push_back({"rows GBK 16 MiB", TrackingAnswer(16 * kMiB, true)});
  shapes.push_back({"one 16 MiB line", OneLongCell(16 * kMiB)});
  shapes.push_back({"100000 unclosed markers", UnclosedMarkers(100000)});
  shapes.push_back({"garbage 16 MiB", Garbage(16 * kMiB)});

  std::printf("%-24s %9s %7s %7s %11s %11s %8s %11s %8s %7s\n", "answer", "bytes", "charset",
              "rows", "decode", "decode+cls", "MB/s", "scan floor", "MB/s", "ratio");
  for (const Shape& shape : shapes) {
    const std::size_t size = shape.body.size();
    const int repeats = size >= 4 * kMiB ? 3 : size >= 512 * kKiB ? 10 : 200;
    std::size_t rows = 0;
    std::string outcome;
    const double full = BestSeconds(repeats, [&] {
      const std::string text = quenzil::DecodeBytes(shape.body);
      try {
        rows = quenzil::ClassifyAnswer(text).rows.size();
        outcome = std::to_string(rows);
      } catch (const quenzil::PatternError&) {
        outcome = "gave up";
      }
    });
    std::size_t decoded_size = 0;
    const double decode = BestSeconds(repeats, [&] {
      decoded_size = quenzil::DecodeBytes(shape.body).size();
    });
    // Counting every occurrence makes the scan read all bytes even when the
    // marker comes early.
    std::size_t found = 0;
    const double floor = BestSeconds(repeats, [&] {
      const std::string_view raw(reinterpret_cast<const char*>(shape.body.data()), size);
      found = 0;
      for (std::size_t at = raw.find(kTrackingMarker); at != std::string_view::npos;
           at = raw.find(kTrackingMarker, at + kTrackingMarker.size()))
        ++found;
    });
    const double megabytes = static_cast<double>(size) / 1e6;
    std::printf("%-24s %9zu %7s %7s %9.3fms %9.3fms %8.1f %9.3fms %8.1f %7.1f%s\n", shape.name,
                size, quenzil::IsUtf8(shape.body) ? "UTF-8" : "GB2312", outcome.c_str(),
                decode * 1e3, full * 1e3, megabytes / full, floor * 1e3, megabytes / floor,
                full / floor, found == 0 ? "  (marker not in the raw bytes)" : "");
    (void)decoded_size;
  }
  return 0;
}

}  // namespace

// Programs of the Windows build are linked as Unicode, entering at wmain.
#ifdef _WIN32
int wmain() { return RunBenchmark(); }
#else
int main() { return RunBenchmark(); }
#endif
