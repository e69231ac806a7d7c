// Where one HTTP request ends in the bytes read so far: its header block ends with an empty line
// and as many body bytes follow as its Content-Length gives.
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr size_t kRequestSizeLimit = 1024 * 1024;

struct RequestFraming {
  enum class Status { kIncomplete, kComplete, kTooLarge };
  Status status = Status::kIncomplete;
  size_t length = 0;  // bytes of the complete request
};

// `limit` bounds the whole request, header and body.
RequestFraming FrameRequest(std::string_view input, size_t limit = kRequestSizeLimit);
