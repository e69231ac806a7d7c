// Splitting queries into request fields and decoding parameter values.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "agent/bridge/dispatch.h"
#include "agent/bridge/url_decode.h"
#include "platform/text_conversion.h"

namespace {

// A buffer as "kind:text" (wide text shown as UTF-8), "-" when empty.
std::string Show(const ValueBuffer& buffer) {
  switch (buffer.kind()) {
    case ValueKind::kEmpty:
      return "-";
    case ValueKind::kNarrow:
      return std::string("n:") + buffer.Chars();
    case ValueKind::kWide:
      return "w:" + platform::WideToUtf8(buffer.WideText());
    case ValueKind::kBytes:
      return "b:" + std::string(buffer.Chars(), static_cast<size_t>(buffer.length()));
  }
  return "?";
}

// The filled slots of the fields, in order: "0=name/value", "t=token", "N=name/value".
std::string Describe(const RequestFields& fields) {
  std::string text;
  auto add = [&](const std::string& slot, const std::string& shown) {
    text += (text.empty() ? "" : " ") + slot + "=" + shown;
  };
  for (int i = 0; i < 10; ++i) {
    const FieldPair& pair = fields.pairs[i];
    if (pair.name.kind() != ValueKind::kEmpty || pair.value.kind() != ValueKind::kEmpty) {
      add(std::to_string(i), Show(pair.name) + "/" + Show(pair.value));
    }
  }
  if (fields.token.kind() != ValueKind::kEmpty) {
    add("t", Show(fields.token));
  }
  return text;
}

std::string Parse(std::string query) {
  RequestFields fields;
  ReadQueryFields(query.data(), fields);
  EXPECT_EQ(fields.decoding.kind(), ValueKind::kEmpty) << query;
  return Describe(fields);
}

TEST(ReadQueryFields, StoresTheKnownFieldsAsTheFieldTableSays) {
  const std::pair<const char*, const char*> cases[] = {
      {"InitDLL=DorVIKA&Param1=1", "0=n:InitDLL/n:DorVIKA 1=n:Param1/w:1"},
      {"", ""},
      {"&&", ""},
      {"InitDLL", "0=n:InitDLL/-"},
      {"InitDLL=", "0=n:InitDLL/-"},
      {"=x&initdll=DorVIKA&Param%31=x&Param10=x&Param0=x&Param=x", ""},
      // Command values and tokens stay exactly as sent; only parameters are decoded.
      {"ExecMethod=a+b%41&DLLToken=%31+", "0=n:ExecMethod/n:a+b%41 t=n:%31+"},
      {"Param9=z", "9=n:Param9/w:z"},
      {"Param2=x", "2=n:Param2/w:x"},
      {"InitDLL=x&Param1", "0=n:InitDLL/n:x 1=n:Param1/-"},
      // Repeated fields join: the command keeps the last name and every value.
      {"InitDLL=DorVIKA&ExecMethod=GetVersion", "0=n:ExecMethod/n:DorVIKAGetVersion"},
      {"Param1=x&Param1=y", "1=n:Param1Param1/w:xy"},
      {"DLLToken=1&DLLToken=&DLLToken=2", "t=n:12"},
      {"Param1=a=b&&", "1=n:Param1/w:a=b"},
  };
  for (const auto& [query, expected] : cases) {
    EXPECT_EQ(Parse(query), expected) << query;
  }
}

std::string Decode(const char* raw) {
  ValueBuffer target;
  target.AppendWide(u"stale");  // the target is reset first
  UrlDecodeField(target, raw);
  return Show(target);
}

TEST(UrlDecodeField, DecodesEscapesAsStrictUtf8AndPlainValuesAsAnsi) {
  const std::pair<const char*, const char*> cases[] = {
      {"a+b", "w:a b"},
      {"a%20b", "w:a b"},
      {"%E4%B8%AD", "w:中"},
      {"%e4%b8%ad", "w:中"},
      {"\xE4\xB8\xAD", "w:中"},  // raw bytes, no escape: the ANSI code page (UTF-8 here)
      {"\xFF", "w:?"},           // ... which is lenient
      {"%FF", "-"},              // escaped values must be valid UTF-8
      {"%41\xFF", "-"},
      {"%E4%B8", "-"},
      {"%00x", "w:x"},
      {"%00", "-"},
      {"", "-"},
      // Broken escapes give no byte and consume no more than there is.
      {"%G1x", "w:x"},
      {"%4", "-"},
      {"a%", "w:a"},
      {"a%4", "w:a"},
      {"%%41", "w:1"},
  };
  for (const auto& [raw, expected] : cases) {
    EXPECT_EQ(Decode(raw), expected) << raw;
  }
  EXPECT_EQ(Decode(nullptr), "-");
}

TEST(UrlDecodeField, NeverReadsPastTheValue) {
  // Copies without slack, so that the sanitizer build catches a read past the end.
  for (const std::string raw : {"%", "%4", "a%E"}) {
    auto exact = std::make_unique<char[]>(raw.size() + 1);
    std::memcpy(exact.get(), raw.c_str(), raw.size() + 1);
    ValueBuffer target;
    UrlDecodeField(target, exact.get());
    EXPECT_EQ(Show(target), raw == "a%E" ? "w:a" : "-") << raw;
  }
}

}  // namespace
