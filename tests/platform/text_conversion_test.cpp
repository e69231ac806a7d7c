#include "platform/text_conversion.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include <string_view>
#include <vector>

namespace {

using namespace std::literals;

struct Utf8Case {
  const char* what;
  std::string_view utf8;
  std::u16string_view wide;  // the lenient result
  bool valid;                // whether the strict conversion accepts it
};

const Utf8Case kUtf8Cases[] = {
    {"ascii", "abc"sv, u"abc"sv, true},
    {"embedded zero kept", "a\0b"sv, u"a\0b"sv, true},
    {"two bytes", "\xC3\xA9"sv, u"\u00E9"sv, true},
    {"three bytes", "\xE5\x8D\xB0"sv, u"\u5370"sv, true},
    {"four bytes to a pair", "\xF0\x9F\x98\x80"sv, u"\U0001F600"sv, true},
    {"highest code point", "\xF4\x8F\xBF\xBF"sv, u"\U0010FFFF"sv, true},
    {"just below surrogates", "\xED\x9F\xBF"sv, u"\uD7FF"sv, true},
    {"just above surrogates", "\xEE\x80\x80"sv, u"\uE000"sv, true},
    {"overlong two bytes", "\xC0\xAF"sv, u"??"sv, false},
    {"overlong three bytes", "\xE0\x80\xAF"sv, u"???"sv, false},
    {"overlong four bytes", "\xF0\x8F\xBF\xBF"sv, u"????"sv, false},
    {"encoded surrogate", "\xED\xA0\x80"sv, u"???"sv, false},
    {"above U+10FFFF", "\xF4\x90\x80\x80"sv, u"????"sv, false},
    {"five-byte lead", "\xF8\x88\x80\x80\x80"sv, u"?????"sv, false},
    {"truncated inside",
     "\xE5\x8D"
     "x"sv,
     u"??x"sv, false},
    {"truncated at end", "a\xF0\x9F\x98"sv, u"a???"sv, false},
    {"stray continuation",
     "\x80"
     "a"sv,
     u"?a"sv, false},
    {"byte FF", "\xFF"sv, u"?"sv, false},
    {"valid after invalid", "\xC3\xC3\xA9"sv, u"?\u00E9"sv, false},
};

TEST(TextConversion, Utf8CasesConvertLenientlyAndStrictly) {
  for (const Utf8Case& c : kUtf8Cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(platform::AnsiToWide(c.utf8), c.wide);
    const std::optional<std::u16string> strict = platform::Utf8ToWideStrict(c.utf8);
    ASSERT_EQ(strict.has_value(), c.valid);
    if (c.valid) {
      EXPECT_EQ(*strict, c.wide);
    }
  }
}

struct WideCase {
  const char* what;
  std::u16string_view wide;
  std::string_view utf8;
};

const WideCase kWideCases[] = {
    {"embedded zero kept", u"a\0b"sv, "a\0b"sv},
    {"two and three bytes", u"\u00E9\u5370"sv, "\xC3\xA9\xE5\x8D\xB0"sv},
    {"pair to four bytes", u"\U0001F600"sv, "\xF0\x9F\x98\x80"sv},
    {"lone high surrogate",
     u"\xD800"
     u"a"sv,
     "?a"sv},
    {"lone low surrogate", u"\xDC00"sv, "?"sv},
    {"high surrogate at end", u"a\xD83D"sv, "a?"sv},
    {"pair in wrong order", u"\xDE00\xD83D"sv, "??"sv},
    {"high before a pair", u"\xD83D\xD83D\xDE00"sv, "?\xF0\x9F\x98\x80"sv},
};

TEST(TextConversion, WideCasesConvertWithQuestionMarks) {
  for (const WideCase& c : kWideCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(platform::WideToUtf8(c.wide), c.utf8);
    EXPECT_EQ(platform::WideToAnsi(c.wide), c.utf8);
  }
}

// glibc iconv, each input unit it refuses replaced by one "?": the reference the hand-written
// coders must match exactly. `clean` tells whether nothing was refused.
class IconvReference {
 public:
  IconvReference(const char* to, const char* from, size_t unitSize, std::string question)
      : descriptor_(iconv_open(to, from)), unitSize_(unitSize), question_(std::move(question)) {}
  ~IconvReference() { iconv_close(descriptor_); }
  IconvReference(const IconvReference&) = delete;
  IconvReference& operator=(const IconvReference&) = delete;

  bool usable() const { return descriptor_ != reinterpret_cast<iconv_t>(-1); }

  std::string Convert(std::string_view input, bool& clean) {
    std::string output(input.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char* out = output.data();
    size_t outLeft = output.size();
    clean = true;
    iconv(descriptor_, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
      if (iconv(descriptor_, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)) {
        break;
      }
      EXPECT_TRUE(errno == EILSEQ || errno == EINVAL) << errno;
      clean = false;
      const size_t skipped = std::min(unitSize_, inLeft);
      in += skipped;
      inLeft -= skipped;
      out = std::copy(question_.begin(), question_.end(), out);
      outLeft -= question_.size();
    }
    output.resize(static_cast<size_t>(out - output.data()));
    return output;
  }

 private:
  iconv_t descriptor_;
  size_t unitSize_;
  std::string question_;
};

std::u16string FromUtf16Le(const std::string& bytes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return units;
}

std::string ToUtf16Le(std::u16string_view units) {
  std::string bytes;
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

// Every 1- and 2-byte input, and 3- and 4-byte inputs over all second bytes with lead and tail
// bytes from around every boundary of the encoding.
std::vector<std::string> Utf8Samples() {
  std::vector<std::string> samples;
  for (int a = 0; a < 256; ++a) {
    samples.push_back({static_cast<char>(a)});
    for (int b = 0; b < 256; ++b) {
      samples.push_back({static_cast<char>(a), static_cast<char>(b)});
    }
  }
  const unsigned char tails[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F,
                                 0xA0, 0xBF, 0xC0, 0xC2, 0xE0, 0xF0, 0xFF};
  for (int lead = 0xE0; lead <= 0xF7; ++lead) {
    for (int second = 0; second < 256; ++second) {
      for (const unsigned char third : tails) {
        const std::string prefix = {static_cast<char>(lead), static_cast<char>(second),
                                    static_cast<char>(third)};
        samples.push_back(prefix);
        if (lead >= 0xF0 && (third == 0x80 || third == 0xBF || third == 0x41)) {
          for (const unsigned char fourth : {0x80, 0xBF, 0x41, 0xF0}) {
            samples.push_back(prefix + static_cast<char>(fourth));
          }
        }
      }
    }
  }
  return samples;
}

TEST(TextConversion, Utf8DecodingMatchesIconv) {
  IconvReference reference("UTF-16LE", "UTF-8", 1, "?\0"s);
  ASSERT_TRUE(reference.usable());
  for (const std::string& sample : Utf8Samples()) {
    bool clean = false;
    const std::u16string expected = FromUtf16Le(reference.Convert(sample, clean));
    const std::optional<std::u16string> strict = platform::Utf8ToWideStrict(sample);
    ASSERT_EQ(platform::AnsiToWide(sample), expected) << testing::PrintToString(sample);
    ASSERT_EQ(strict.has_value(), clean) << testing::PrintToString(sample);
    if (strict) {
      ASSERT_EQ(*strict, expected);
    }
  }
}

TEST(TextConversion, Utf16EncodingMatchesIconv) {
  IconvReference reference("UTF-8", "UTF-16LE", 2, "?");
  ASSERT_TRUE(reference.usable());
  for (int unit = 0; unit <= 0xFFFF; ++unit) {
    const auto u = static_cast<char16_t>(unit);
    for (const std::u16string& sample :
         {std::u16string{u}, std::u16string{u'\xD83D', u}, std::u16string{u, u'\xDE00'}}) {
      bool clean = false;
      const std::string expected = reference.Convert(ToUtf16Le(sample), clean);
      ASSERT_EQ(platform::WideToUtf8(sample), expected) << unit;
    }
  }
}

TEST(TextConversion, WideLengthStopsAtFirstZero) {
  EXPECT_EQ(platform::WideLength(nullptr), 0u);
  EXPECT_EQ(platform::WideLength(u""), 0u);
  EXPECT_EQ(platform::WideLength(u"abc"), 3u);
  EXPECT_EQ(platform::WideLength(u"ab\0cd"), 2u);
}

}  // namespace
