// Hand-written UTF-8 and UTF-16 coders. They give exactly what glibc iconv gives (the tests hold
// them to it) but skip its per-call set-up, which matters because every log line passes here.
#include "platform/text_conversion.h"

#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr char16_t kUnconvertible = u'?';

// Length (1 to 4) of the well-formed UTF-8 sequence at the start of `bytes`, storing its code
// point; 0 when none starts there (overlong, surrogate, above U+10FFFF, truncated, stray byte).
size_t DecodeSequence(std::string_view bytes, char32_t& codePoint) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  size_t length = 0;
  unsigned char secondMin = 0x80;
  unsigned char secondMax = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    secondMin = lead == 0xE0 ? 0xA0 : 0x80;  // below: overlong
    secondMax = lead == 0xED ? 0x9F : 0xBF;  // above: surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    secondMin = lead == 0xF0 ? 0x90 : 0x80;  // below: overlong
    secondMax = lead == 0xF4 ? 0x8F : 0xBF;  // above: beyond U+10FFFF
  } else {
    return 0;
  }
  if (bytes.size() < length) {
    return 0;
  }
  const auto second = static_cast<unsigned char>(bytes[1]);
  if (second < secondMin || second > secondMax) {
    return 0;
  }
  codePoint = (codePoint << 6) | (second & 0x3F);
  for (size_t i = 2; i < length; ++i) {
    const auto next = static_cast<unsigned char>(bytes[i]);
    if ((next & 0xC0) != 0x80) {
      return 0;
    }
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  return length;
}

// Decodes `text` onto the end of `out`. Lenient: each byte that starts no valid sequence
// becomes "?". Strict: such a byte ends the conversion with false. No UTF-8 text needs more
// UTF-16 units than it has bytes, so the room is made once and filled in place.
bool DecodeUtf8(std::string_view text, bool strict, std::u16string& out) {
  const size_t start = out.size();
  out.resize(start + text.size());
  char16_t* next = out.data() + start;
  size_t i = 0;
  while (i < text.size()) {
    // Plain ASCII, eight bytes at a time: nearly everything that is logged.
    while (i + 8 <= text.size()) {
      uint64_t word;
      std::memcpy(&word, text.data() + i, sizeof word);
      if ((word & 0x8080808080808080ull) != 0) {
        break;
      }
      for (int k = 0; k < 8; ++k) {
        next[k] = static_cast<unsigned char>(text[i + k]);
      }
      next += 8;
      i += 8;
    }
    if (i >= text.size()) {
      break;
    }
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      *next++ = byte;
      ++i;
      continue;
    }
    char32_t codePoint = 0;
    const size_t length = DecodeSequence(text.substr(i), codePoint);
    if (length == 0) {
      if (strict) {
        out.resize(start);
        return false;
      }
      *next++ = kUnconvertible;
      ++i;
      continue;
    }
    if (codePoint < 0x10000) {
      *next++ = static_cast<char16_t>(codePoint);
    } else {
      codePoint -= 0x10000;
      *next++ = static_cast<char16_t>(0xD800 + (codePoint >> 10));
      *next++ = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    }
    i += length;
  }
  out.resize(static_cast<size_t>(next - out.data()));
  return true;
}

void AppendUtf8(char32_t codePoint, std::string& out) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::u16string AnsiToWide(std::string_view text) {
  std::u16string out;
  DecodeUtf8(text, false, out);
  return out;
}

void AnsiToWideInto(std::string_view text, std::u16string& out) {
  out.clear();
  DecodeUtf8(text, false, out);
}

std::string WideToAnsi(std::u16string_view text) {
  return WideToUtf8(text);
}

std::optional<std::u16string> Utf8ToWideStrict(std::string_view text) {
  std::u16string out;
  if (!DecodeUtf8(text, true, out)) {
    return std::nullopt;
  }
  return out;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
    } else if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00), out);
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      out.push_back(static_cast<char>(kUnconvertible));
    } else {
      AppendUtf8(unit, out);
    }
  }
  return out;
}

size_t WideLength(const char16_t* text) {
  return text == nullptr ? 0 : std::char_traits<char16_t>::length(text);
}

}  // namespace platform
