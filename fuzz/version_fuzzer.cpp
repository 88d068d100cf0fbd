// ParseVersion against a plain reading of the version rules, and
// CompareVersions as a total order over the parsed values.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "customactions/version.h"

namespace {

using Components = std::array<std::int32_t, 4>;

Components Of(const quorvis::VersionNumber& v) { return {v.first, v.second, v.third, v.fourth}; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// strtol with base 10, clamped to 32 bits, written out by hand.
std::int32_t Convert(const std::string& token) {
  std::size_t at = 0;
  while (at < token.size() && IsSpace(token[at]))
    ++at;
  bool negative = false;
  if (at < token.size() && (token[at] == '+' || token[at] == '-')) negative = token[at++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kBeyond = std::int64_t{1} << 32;  // far enough past either limit
  for (; at < token.size() && token[at] >= '0' && token[at] <= '9'; ++at)
    value = std::min(value * 10 + (token[at] - '0'), kBeyond);
  if (negative) value = -value;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

Components Reference(const std::string& text) {
  Components out{};
  std::size_t at = 0;
  for (std::int32_t& component : out) {
    while (at < text.size() && text[at] == '.')
      ++at;
    if (at == text.size()) break;
    const std::size_t end = std::min(text.find('.', at), text.size());
    component = Convert(text.substr(at, end - at));
    at = end;
  }
  return out;
}

int Compare(const Components& a, const Components& b) { return a < b ? -1 : a > b ? 1 : 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // Texts reach the parser from installer properties: NUL-terminated.
  std::array<quorvis::VersionNumber, 3> v;
  for (auto& version : v) {
    std::string text = input.ConsumeRandomLengthString(64);
    text.resize(std::strlen(text.c_str()));
    version = quorvis::ParseVersion(text);
    if (Of(version) != Reference(text)) std::abort();
  }
  for (const auto& a : v) {
    if (quorvis::CompareVersions(a, a) != 0) std::abort();
    for (const auto& b : v) {
      const int ab = quorvis::CompareVersions(a, b);
      if (ab < -1 || ab > 1 || ab != -quorvis::CompareVersions(b, a)) std::abort();
      if (ab != Compare(Of(a), Of(b))) std::abort();
      for (const auto& c : v) {
        if (ab <= 0 && quorvis::CompareVersions(b, c) <= 0 && quorvis::CompareVersions(a, c) > 0) std::abort();
      }
    }
  }
  return 0;
}
