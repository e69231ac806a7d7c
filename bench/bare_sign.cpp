// The login module's sign export called directly, with no agent in between: the baseline for the
// agent's sign calls. Loads the module by path, then calls "_sign$8" with the PIN and a new random
// 32-digit hex challenge until the time is up; every result must start with "0,". The module
// looks for its PKCS#11 library beside the running program, so run a copy of this program from
// the folder that holds QORVPKCS11.dll.
//
//   bare_sign --module PATH/Quillomat.dll [--pin 1234] [--seconds S] [--max-signs N]
//
// The last line printed is key=value pairs for scripts; anything unexpected goes to stderr.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
// The module's strings: UTF-16 text, malloc'd with a 4-byte length in front of the pointer.
using Bstr = char16_t*;
using SignFunction = Bstr (*)(const char16_t*, const char16_t*);

struct Options {
  std::string module;
  std::string pin = "1234";
  double seconds = 10;
  long maxSigns = 0;  // 0: no limit but the time
};

[[noreturn]] void Usage(const char* problem) {
  std::fprintf(stderr,
               "bare_sign: %s\n"
               "usage: bare_sign --module PATH [--pin PIN] [--seconds S] [--max-signs N]\n",
               problem);
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (i + 1 >= argc) {
      Usage("every option takes a value");
    }
    const char* value = argv[++i];
    if (name == "--module") {
      options.module = value;
    } else if (name == "--pin") {
      options.pin = value;
    } else if (name == "--seconds") {
      options.seconds = std::atof(value);
    } else if (name == "--max-signs") {
      options.maxSigns = std::atol(value);
    } else {
      Usage("unknown option");
    }
  }
  if (options.module.empty() || options.seconds <= 0 || options.seconds > 3600) {
    Usage("--module is needed; seconds up to 3600");
  }
  return options;
}

// ASCII only: the PIN and the challenge are digits.
std::u16string Wide(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; text != nullptr && *text != u'\0'; ++text) {
    out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  }
  return out;
}

void FreeBstr(Bstr text) {
  if (text != nullptr) {
    std::free(reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t));
  }
}

std::string Challenge(std::mt19937_64& random) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(32, '0');
  uint64_t bits = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i % 16 == 0) {
      bits = random();
    }
    text[i] = kDigits[bits & 0xf];
    bits >>= 4;
  }
  return text;
}

double Percentile(std::vector<double>& values, double share) {
  if (values.empty()) {
    return 0;
  }
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
  std::nth_element(values.begin(), values.begin() + static_cast<long>(at), values.end());
  return values[at];
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  void* module = dlopen(options.module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "bare_sign: %s\n", dlerror());
    return 1;
  }
  const auto sign = reinterpret_cast<SignFunction>(dlsym(module, "_sign$8"));
  if (sign == nullptr) {
    std::fprintf(stderr, "bare_sign: no _sign$8 in %s\n", options.module.c_str());
    return 1;
  }
  const std::u16string pin = Wide(options.pin);
  std::mt19937_64 random(std::random_device{}());
  std::vector<double> signMs;
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline =
      start + std::chrono::microseconds(static_cast<int64_t>(options.seconds * 1e6));
  long signs = 0;
  while (Clock::now() < deadline && (options.maxSigns == 0 || signs < options.maxSigns)) {
    const std::u16string data = Wide(Challenge(random));
    const Clock::time_point t0 = Clock::now();
    const Bstr result = sign(pin.c_str(), data.c_str());
    const std::string text = Narrow(result);
    FreeBstr(result);
    const Clock::time_point t1 = Clock::now();
    if (text.rfind("0,", 0) != 0) {
      std::fprintf(stderr, "bare_sign: sign gave %s\n", text.c_str());
      return 1;
    }
    signMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    ++signs;
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("signs=%ld seconds=%.3f signs_per_s=%.2f ms_per_sign=%.3f p50_ms=%.3f p99_ms=%.3f\n",
              signs, elapsed, signs / elapsed, 1000 * elapsed / std::max(signs, 1L),
              Percentile(signMs, 0.5), Percentile(signMs, 0.99));
  return signs > 0 ? 0 : 1;
}
