#include "agent/bridge/card_method_table.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/winapi.h"

namespace {

using Shape = CardMethodShape;

// Tried in order; the first equal name is taken.
constexpr CardMethod kCardMethods[] = {
    {"GetVersion", 0, Shape::kAgentVersion},
    {"GetDllVersion", 0, Shape::kText},
    {"GetDLLVersion", 0, Shape::kText},
    {"GetErrorCode", 0, Shape::kInteger},
    {"GetErrorMsg", 0, Shape::kText},
    {"GetCardStatus", 0, Shape::kInteger},
    {"ConnectCard", 0, Shape::kInteger},
    {"DisConnectCard", 0, Shape::kInteger},
    {"ReadEF1001", 4, Shape::kTextOfInteger},
    {"GenRandom", 0, Shape::kText},
    {"TermAuth", 8, Shape::kIntegerOfTwoTexts},
    {"ResetANPIN", 4, Shape::kIntegerOfText},
    {"ChangeANPin", 8, Shape::kIntegerOfTwoTexts},
    {"VerifyANPin", 4, Shape::kIntegerOfText},
};

using TextFunction = const char16_t*(WINAPI*)();
using IntegerFunction = int32_t(WINAPI*)();
using TextOfIntegerFunction = const char16_t*(WINAPI*)(int32_t);
using IntegerOfTextFunction = int32_t(WINAPI*)(const char16_t*);
using IntegerOfTwoTextsFunction = int32_t(WINAPI*)(const char16_t*, const char16_t*);

template <typename Function>
Function As(void* function) {
  return reinterpret_cast<Function>(function);
}

// The module's text is copied at once: it need stay readable only until then.
std::u16string CopyText(const char16_t* text) {
  return text != nullptr ? std::u16string(text) : std::u16string();
}

std::u16string NumberText(int32_t number) {
  const std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

bool IsSpace(char16_t c) {
  return c == u' ' || (c >= u'\t' && c <= u'\r');
}

}  // namespace

const CardMethod* FindCardMethod(const char* method) {
  if (method == nullptr) {
    return nullptr;
  }
  for (const CardMethod& row : kCardMethods) {
    if (std::strcmp(row.name, method) == 0) {
      return &row;
    }
  }
  return nullptr;
}

const char16_t* TextArgument(const RequestFields& fields, int index) {
  const ValueBuffer& value = fields.pairs[index].value;
  return value.length() > 0 ? value.WideText() : nullptr;
}

int32_t IntegerArgument(const char16_t* text) {
  if (text == nullptr) {
    return 0;
  }
  while (IsSpace(*text)) {
    ++text;
  }
  const bool negative = *text == u'-';
  if (*text == u'-' || *text == u'+') {
    ++text;
  }
  // Out of range saturates, as wcstol does with a 32-bit long.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (; *text >= u'0' && *text <= u'9'; ++text) {
    magnitude = std::min(magnitude * 10 + (*text - u'0'), kLimit);
  }
  if (negative) {
    return static_cast<int32_t>(-magnitude);
  }
  return static_cast<int32_t>(std::min(magnitude, kLimit - 1));
}

std::u16string InvokeCardMethod(const CardMethod& row, void* function,
                                const RequestFields& fields) {
  switch (row.shape) {
    case Shape::kText:
      return CopyText(As<TextFunction>(function)());
    case Shape::kInteger:
      return NumberText(As<IntegerFunction>(function)());
    case Shape::kTextOfInteger:
      return CopyText(
          As<TextOfIntegerFunction>(function)(IntegerArgument(TextArgument(fields, 1))));
    case Shape::kIntegerOfText:
      return NumberText(As<IntegerOfTextFunction>(function)(TextArgument(fields, 1)));
    case Shape::kIntegerOfTwoTexts:
      return NumberText(As<IntegerOfTwoTextsFunction>(function)(TextArgument(fields, 1),
                                                                TextArgument(fields, 2)));
    case Shape::kAgentVersion:
      break;
  }
  return {};
}
