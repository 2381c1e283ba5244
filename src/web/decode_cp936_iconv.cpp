// Code page 936 through glibc's iconv. glibc's "CP936" is GBK plus 0x80 as
// the euro sign; it lacks Windows' private-use pairs, which are mapped here.
#include <iconv.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "common/unique_handle.h"
#include "web/charset.h"
#include "web/cp936_units.h"

namespace quenzil {

namespace {

int CloseConverter(iconv_t converter) { return ::iconv_close(converter); }
using UniqueIconv = Unique<ClosedBy<iconv_t, &CloseConverter>>;

UniqueIconv OpenConverter() {
  const iconv_t converter = ::iconv_open("UTF-8", "CP936");
  if (converter == reinterpret_cast<iconv_t>(-1))
    throw std::system_error(errno, std::generic_category(), "iconv_open CP936");
  return UniqueIconv(converter);
}

}  // namespace

// One iconv pass over the whole buffer; it stops only at a unit it cannot
// convert, which is then mapped or replaced by itself and the pass resumes.
std::string DecodeCp936(std::span<const std::uint8_t> bytes) {
  std::string text;
  if (bytes.empty()) return text;
  const UniqueIconv converter = OpenConverter();

  // Most text grows by at most half in UTF-8; more room is made on demand.
  text.resize(bytes.size() + bytes.size() / 2 + 16);
  std::size_t written = 0;
  std::size_t consumed = 0;
  while (consumed < bytes.size()) {
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data() + consumed));
    std::size_t in_left = bytes.size() - consumed;
    char* out = text.data() + written;
    std::size_t out_left = text.size() - written;
    const std::size_t result = ::iconv(converter.get(), &in, &in_left, &out, &out_left);
    const int error = errno;
    consumed = bytes.size() - in_left;
    written = text.size() - out_left;
    if (result != static_cast<std::size_t>(-1)) break;

    if (error == E2BIG) {
      text.resize(text.size() * 2);
      continue;
    }
    if (error != EILSEQ && error != EINVAL)
      throw std::system_error(error, std::generic_category(), "iconv CP936");
    const std::size_t unit = cp936::UnitLength(bytes, consumed);
    const char32_t code_point =
        unit == 2 ? cp936::PrivateUseCodePoint(bytes[consumed], bytes[consumed + 1]) : 0;
    std::string replacement;
    if (code_point != 0)
      cp936::AppendUtf8(code_point, replacement);
    else
      replacement = cp936::kReplacementUtf8;
    if (text.size() - written < replacement.size()) text.resize(text.size() * 2);
    text.replace(written, replacement.size(), replacement);
    written += replacement.size();
    consumed += unit;
  }
  text.resize(written);
  return text;
}

}  // namespace quenzil
