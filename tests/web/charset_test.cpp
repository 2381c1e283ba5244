// The character-set test, both converters, and the promise that both builds
// turn the same bytes into the same text.
#include "web/charset.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "web/cp936_units.h"

namespace quenzil {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes B(std::initializer_list<int> values) {
  Bytes bytes;
  for (int value : values) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

Bytes FromText(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string Hex(const std::string& text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : text) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
    hex += ' ';
  }
  return hex;
}

// Deterministic noise; a model of the unit rules run over the code page 936
// table computed the same texts' hashes, so both builds are held to them.
Bytes Noise(std::size_t size, std::uint64_t state) {
  Bytes bytes(size);
  for (auto& byte : bytes) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    byte = static_cast<std::uint8_t>(state >> 56);
  }
  return bytes;
}

std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ULL;
  return hash;
}

std::size_t CountReplacements(const std::string& text) {
  std::size_t count = 0;
  for (std::size_t at = text.find(cp936::kReplacementUtf8); at != std::string::npos;
       at = text.find(cp936::kReplacementUtf8, at + 3))
    ++count;
  return count;
}

struct IsUtf8Case {
  const char* name;
  Bytes body;
  bool expected;
};

TEST(IsUtf8, FollowsTheBitPatternRules) {
  const IsUtf8Case cases[] = {
      {"empty", {}, false},
      {"one byte", B({0x32}), false},
      {"two valid bytes", B({0xC3, 0xA9}), false},
      {"BOM start only", B({0xEF, 0xBB}), false},
      {"BOM alone", B({0xEF, 0xBB, 0xBF}), true},
      {"BOM then invalid", B({0xEF, 0xBB, 0xBF, 0xFF, 0xFE, 0x80}), true},
      {"BOM then four-byte", B({0xEF, 0xBB, 0xBF, 0xF0, 0x9F, 0x98, 0x80}), true},
      {"ASCII only", B({0x41, 0x42, 0x43}), false},
      {"two-byte then ASCII", B({0xC3, 0xA9, 0x41}), true},
      {"ASCII then two-byte", B({0x41, 0xC3, 0xA9}), true},
      {"three-byte", B({0xE4, 0xB8, 0xAD}), true},
      {"lead in the last place", B({0x41, 0x42, 0xC3}), false},
      {"three-byte lead, one after", B({0x41, 0xE4, 0xB8}), false},
      {"three-byte lead, bad third", B({0xE4, 0xB8, 0x41, 0x41}), false},
      {"four-byte emoji", B({0xF0, 0x9F, 0x98, 0x80}), true},
      {"four-byte after ASCII", B({0x41, 0xF0, 0x9F, 0x98, 0x80}), true},
      {"four-byte beside three-byte", B({0xE4, 0xB8, 0xAD, 0xF0, 0xA0, 0x80, 0x8B}), true},
      {"four-byte cut short", B({0x41, 0xF0, 0x9F, 0x98}), false},
      {"four-byte over-long", B({0xF0, 0x8F, 0x80, 0x80}), false},
      {"four-byte past U+10FFFF", B({0xF4, 0x90, 0x80, 0x80}), false},
      {"F5 lead", B({0xF5, 0x80, 0x80, 0x80}), false},
      {"over-long C0 80", B({0xC0, 0x80, 0x41}), true},
      {"encoded surrogate", B({0xED, 0xA0, 0x80}), true},
      {"GB2312 pair", B({0xD6, 0xD0, 0xCE, 0xC4}), false},
      {"GB2312 pair then ASCII", B({0xD6, 0xD0, 0x41}), false},
      {"GBK pairs that look like two-byte UTF-8", B({0xC4, 0xA3, 0x41}), true},
      {"stray continuation first", B({0x80, 0x41, 0x42}), false},
      {"stray continuation later", B({0xC3, 0xA9, 0xA9, 0x41}), false},
      {"two-byte lead before ASCII", B({0xC3, 0x41, 0x42, 0x43}), false},
      {"0xFF", B({0x41, 0x42, 0xFF, 0x41}), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsUtf8(c.body), c.expected) << c.name;
}

TEST(IsUtf8, NeverReadsPastTheEnd) {
  // Each body sits at the end of its own exactly sized allocation, so an
  // address checker would catch a read behind it.
  for (int lead : {0xC3, 0xE4, 0xEF, 0xF0, 0x80}) {
    for (std::size_t size = 1; size <= 4; ++size) {
      Bytes body(size, 0x41);
      body.back() = static_cast<std::uint8_t>(lead);
      EXPECT_FALSE(IsUtf8(body)) << std::hex << lead << " size " << size;
      if (size >= 2) {
        body[size - 2] = 0xE4;
        body[size - 1] = 0xB8;
        EXPECT_FALSE(IsUtf8(body)) << "three-byte lead cut, size " << size;
      }
    }
  }
}

struct DecodeCase {
  const char* name;
  Bytes bytes;
  std::string expected;
};

// Expected texts follow the 'gbk' reading of each pair; 0x80, the private-use
// pairs and the replacements are where code page 936 and the unit rules add
// to it. The same table holds in both builds.
TEST(DecodeCp936, SharedVectors) {
  const DecodeCase cases[] = {
      {"empty", {}, ""},
      {"digit two", B({0x32}), "2"},
      {"ASCII with controls", B({0x09, 0x0A, 0x0D, 0x7F, 0x41}), "\t\n\r\x7F" "A"},
      {"GB2312 text", B({0xD6, 0xD0, 0xCE, 0xC4}), "中文"},
      {"tracking row text",
       B({0xA1, 0xBE, 0xBA, 0xBC, 0xD6, 0xDD, 0xA1, 0xBF, 0xBF, 0xEC, 0xBC, 0xFE, 0xD2, 0xD1,
          0xB5, 0xBD, 0xB4, 0xEF}),
       "【杭州】快件已到达"},
      {"GBK-only characters", B({0x81, 0x40, 0x88, 0xD2, 0x86, 0xB4, 0xE9, 0x46}), "丂堃喆镕"},
      {"trail byte in the ASCII range", B({0x81, 0x41}), "\xE4\xB8\x84"},  // U+4E04
      {"A1A4 and A1AA as code page 936", B({0xA1, 0xA4, 0xA1, 0xAA}), "\xC2\xB7\xE2\x80\x94"},
      {"0x80 is the euro sign", B({0x80, 0x41}), "€A"},
      {"user-defined area", B({0xAA, 0xA1, 0xFE, 0xFE, 0xA1, 0x40}),
       "\xEE\x80\x80\xEE\x93\x85\xEE\x93\x86"},  // U+E000 U+E4C5 U+E4C6
      {"other private-use pairs", B({0xA2, 0xAB, 0xFE, 0x50, 0xA8, 0xBC}),
       "\xEE\x9D\xA6\xEE\xA0\x95\xEE\x9F\x87"},  // U+E766 U+E815 U+E7C7
      {"0xFF alone", B({0x41, 0xFF, 0x42}), "A\xEF\xBF\xBD" "B"},
      {"lead at the end", B({0xD6, 0xD0, 0xD6}), "中\xEF\xBF\xBD"},
      {"lead before a digit", B({0xD6, 0x30, 0xD0}), "\xEF\xBF\xBD" "0\xEF\xBF\xBD"},
      {"lead before DEL", B({0xD6, 0x7F}), "\xEF\xBF\xBD\x7F"},
      {"lead before 0xFF", B({0xD6, 0xFF, 0x41}), "\xEF\xBF\xBD\xEF\xBF\xBD" "A"},
      {"lead before a line feed", B({0xCA, 0x0A, 0xCA, 0xB1}), "\xEF\xBF\xBD\n时"},
      {"UTF-8 BOM read as code page 936", B({0xEF, 0xBB, 0xBF}), "锘\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    const std::string text = DecodeCp936(c.bytes);
    EXPECT_EQ(text, c.expected) << c.name << ": got " << Hex(text);
  }
}

// Every structurally valid pair maps to one character in code page 936, and
// every text below hashes as a model of the unit rules over that table says.
TEST(DecodeCp936, WholeTableAndNoiseMatchTheModel) {
  Bytes all_pairs;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      all_pairs.push_back(static_cast<std::uint8_t>(lead));
      all_pairs.push_back(static_cast<std::uint8_t>(trail));
    }
  }
  const std::string pairs_text = DecodeCp936(all_pairs);
  EXPECT_EQ(CountReplacements(pairs_text), 0u);
  EXPECT_EQ(pairs_text.size(), 71663u);
  EXPECT_EQ(Fnv1a(pairs_text), 0x3cd57d7763027b4bULL);

  Bytes singles;
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    singles.push_back(static_cast<std::uint8_t>(byte));
    singles.push_back(0x20);
  }
  const std::string singles_text = DecodeCp936(singles);
  EXPECT_EQ(CountReplacements(singles_text), 127u);  // all but 0x80
  EXPECT_EQ(Fnv1a(singles_text), 0xa1846c3ecd7fbe7eULL);

  const std::string noise_text = DecodeCp936(Noise(65536, 12345));
  EXPECT_EQ(noise_text.size(), 93428u);
  EXPECT_EQ(CountReplacements(noise_text), 5826u);
  EXPECT_EQ(Fnv1a(noise_text), 0x1533f24fac245a88ULL);
}

TEST(DecodeCp936, PrivateUseTableAgreesWithTheConverter) {
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const auto lead_byte = static_cast<std::uint8_t>(lead);
      const auto trail_byte = static_cast<std::uint8_t>(trail);
      const char32_t code_point = cp936::PrivateUseCodePoint(lead_byte, trail_byte);
      if (code_point == 0) continue;
      ASSERT_NE(trail, 0x7F);
      std::string expected;
      cp936::AppendUtf8(code_point, expected);
      ASSERT_EQ(DecodeCp936(Bytes{lead_byte, trail_byte}), expected)
          << std::hex << lead << ' ' << trail;
    }
  }
}

TEST(DecodeCp936, LargeBodyIsNeitherCutNorShifted) {
  // 16 MiB of rows, with one invalid byte in the middle and a lone lead at
  // the end: the slow path must still keep every unit in place.
  const std::string row = "3px 5px;'>\xCA\xB1\xBC\xE4 2024-05-01 10:00:00</td>\n";  // 时间
  Bytes body;
  body.reserve(16u << 20);
  while (body.size() + row.size() < (16u << 20)) body.insert(body.end(), row.begin(), row.end());
  const std::size_t rows = body.size() / row.size();
  body[body.size() / 2 / row.size() * row.size()] = 0xFF;  // replaces one '3'
  body.push_back(0xD6);

  const std::string text = DecodeCp936(body);
  const std::string decoded_row = "3px 5px;'>时间 2024-05-01 10:00:00</td>\n";
  EXPECT_EQ(text.size(), rows * decoded_row.size() + 2 * 3 - 1);
  EXPECT_EQ(CountReplacements(text), 2u);
  EXPECT_EQ(text.substr(0, decoded_row.size()), decoded_row);
  EXPECT_EQ(text.substr(text.size() - decoded_row.size() - 3), decoded_row + "\xEF\xBF\xBD");
}

TEST(DecodeUtf8, ReplacesEachMaximalInvalidSubpart) {
  const DecodeCase cases[] = {
      {"valid text", FromText("a中文€😀"), "a中文€😀"},
      {"BOM is kept by the plain converter", B({0xEF, 0xBB, 0xBF, 0x41}), "\xEF\xBB\xBF" "A"},
      {"over-long C0 80", B({0xC0, 0x80, 0x41}), "\xEF\xBF\xBD\xEF\xBF\xBD" "A"},
      {"over-long E0 80 80", B({0xE0, 0x80, 0x80}), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate", B({0xED, 0xA0, 0x80}), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"above U+10FFFF", B({0xF4, 0x90, 0x80, 0x80}),
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"truncated three-byte at the end", B({0x41, 0xE4, 0xB8}), "A\xEF\xBF\xBD"},
      {"truncated four-byte before ASCII", B({0xF0, 0x9F, 0x98, 0x41}), "\xEF\xBF\xBD" "A"},
      {"the standard's example",
       B({0x61, 0xF1, 0x80, 0x80, 0xE1, 0x80, 0xC2, 0x62, 0x80, 0x63, 0x80, 0xBF, 0x64}),
       "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD\xEF\xBF\xBD" "d"},
      {"0xFF and 0xFE", B({0xFF, 0xFE}), "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"NEL inside a character stays", B({0xE5, 0x85, 0xAC}), "公"},
  };
  for (const auto& c : cases) {
    const std::string text = DecodeUtf8(c.bytes);
    EXPECT_EQ(text, c.expected) << c.name << ": got " << Hex(text);
  }
}

TEST(DecodeUtf8, NoiseComesOutWellFormed) {
  const std::string text = DecodeUtf8(Noise(1 << 16, 7));
  // Decoding the output again must change nothing: it is valid UTF-8.
  EXPECT_EQ(DecodeUtf8(FromText(text)), text);
}

TEST(DecodeBytes, ChoosesTheConverterAndDropsTheBom) {
  const DecodeCase cases[] = {
      {"one-byte body two", B({0x32}), "2"},
      {"short UTF-8 is read as code page 936", B({0xC3, 0xA9}), "茅"},
      {"BOM alone", B({0xEF, 0xBB, 0xBF}), ""},
      {"BOM then text", B({0xEF, 0xBB, 0xBF, 0xE4, 0xB8, 0xAD}), "中"},
      {"BOM then invalid bytes", B({0xEF, 0xBB, 0xBF, 0xFF, 0x41}), "\xEF\xBF\xBD" "A"},
      {"only the first BOM goes", B({0xEF, 0xBB, 0xBF, 0xEF, 0xBB, 0xBF}), "\xEF\xBB\xBF"},
      {"UTF-8 text", FromText("时间 10:00"), "时间 10:00"},
      {"GB2312 text", B({0xCA, 0xB1, 0xBC, 0xE4, 0x41}), "时间A"},
      {"over-long passes the test, then replaced", B({0xC0, 0x80, 0x41}),
       "\xEF\xBF\xBD\xEF\xBF\xBD" "A"},
      {"GBK pair shaped like UTF-8 is read as UTF-8", B({0xC4, 0xA3, 0x41}), "ģA"},
      {"an emoji keeps the text UTF-8", FromText("时间😀已签收"), "时间😀已签收"},
      {"a broken four-byte sequence is read as code page 936", B({0xF0, 0x9F, 0x98, 0x41}), "馃楢"},
  };
  for (const auto& c : cases) {
    const std::string text = DecodeBytes(c.bytes);
    EXPECT_EQ(text, c.expected) << c.name << ": got " << Hex(text);
  }
}

}  // namespace
}  // namespace quenzil
