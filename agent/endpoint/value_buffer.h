// ValueBuffer: a tagged heap buffer whose content is always followed by two zero bytes, so it can
// be read as a zero-terminated narrow or wide text.
#pragma once

#include <cstdint>
#include <memory>

enum class ValueKind : int32_t { kEmpty = 0, kBytes = 1, kNarrow = 2, kWide = 3 };

class ValueBuffer {
 public:
  ValueBuffer() = default;
  ValueBuffer(const ValueBuffer& other);
  ValueBuffer& operator=(const ValueBuffer& other);
  ValueBuffer(ValueBuffer&&) noexcept = default;
  ValueBuffer& operator=(ValueBuffer&&) noexcept = default;

  // Appends fail (and change nothing) when the input is missing or empty or the buffer holds
  // another kind: bytes join empty or bytes; narrow joins empty, bytes or narrow; wide joins
  // empty or wide.
  bool AppendBytes(const void* data, int32_t count);
  bool AppendNarrow(const char* text);
  bool AppendWide(const char16_t* text);
  void Reset();

  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  int32_t length() const { return length_; }
  ValueKind kind() const { return kind_; }

  // The content as text when the buffer holds that kind, otherwise null.
  char* NarrowText() { return kind_ == ValueKind::kNarrow ? Chars() : nullptr; }
  const char16_t* WideText() const;
  // The content as zero-terminated characters whatever the kind (null when empty).
  char* Chars() { return reinterpret_cast<char*>(data_.get()); }
  const char* Chars() const { return reinterpret_cast<const char*>(data_.get()); }

 private:
  bool Append(const void* data, int32_t count, ValueKind kindAfter);

  std::unique_ptr<uint8_t[]> data_;
  int32_t length_ = 0;
  ValueKind kind_ = ValueKind::kEmpty;
};
