#include "agent/endpoint/value_buffer.h"

#include <cstring>
#include <limits>

#include "platform/text_conversion.h"

ValueBuffer::ValueBuffer(const ValueBuffer& other) {
  *this = other;
}

ValueBuffer& ValueBuffer::operator=(const ValueBuffer& other) {
  if (this == &other) {
    return *this;
  }
  Reset();
  if (other.length_ > 0) {
    Append(other.data_.get(), other.length_, other.kind_);
  }
  kind_ = other.kind_;
  return *this;
}

bool ValueBuffer::Append(const void* data, int32_t count, ValueKind kindAfter) {
  if (data == nullptr || count <= 0 || count > std::numeric_limits<int32_t>::max() - length_ - 2) {
    return false;
  }
  // Zero-filled, so the two bytes after the content are always zero.
  std::unique_ptr<uint8_t[]> block(new uint8_t[static_cast<size_t>(length_) + count + 2]());
  if (length_ > 0) {
    std::memcpy(block.get(), data_.get(), static_cast<size_t>(length_));
  }
  std::memcpy(block.get() + length_, data, static_cast<size_t>(count));
  data_ = std::move(block);
  length_ += count;
  kind_ = kindAfter;
  return true;
}

bool ValueBuffer::AppendBytes(const void* data, int32_t count) {
  if (kind_ != ValueKind::kEmpty && kind_ != ValueKind::kBytes) {
    return false;
  }
  return Append(data, count, ValueKind::kBytes);
}

bool ValueBuffer::AppendNarrow(const char* text) {
  if (kind_ == ValueKind::kWide || text == nullptr) {
    return false;
  }
  const ValueKind after = kind_ == ValueKind::kEmpty ? ValueKind::kNarrow : kind_;
  return Append(text, static_cast<int32_t>(std::strlen(text)), after);
}

bool ValueBuffer::AppendWide(const char16_t* text) {
  if (kind_ != ValueKind::kEmpty && kind_ != ValueKind::kWide) {
    return false;
  }
  const size_t units = platform::WideLength(text);
  if (units > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2)) {
    return false;
  }
  return Append(text, static_cast<int32_t>(units * 2), ValueKind::kWide);
}

void ValueBuffer::Reset() {
  data_.reset();
  length_ = 0;
  kind_ = ValueKind::kEmpty;
}

const char16_t* ValueBuffer::WideText() const {
  // The block comes from new uint8_t[], whose alignment suits char16_t.
  return kind_ == ValueKind::kWide ? reinterpret_cast<const char16_t*>(data_.get()) : nullptr;
}
