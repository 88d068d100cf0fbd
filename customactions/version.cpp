#include "customactions/version.h"

#include <array>
#include <cstdlib>
#include <limits>
#include <string>

namespace quorvis {
namespace {

// The next token after skipping a run of dots; empty when only dots remain.
std::string_view NextToken(std::string_view& rest) {
  const auto start = rest.find_first_not_of('.');
  if (start == std::string_view::npos) {
    rest = {};
    return {};
  }
  rest.remove_prefix(start);
  const auto end = rest.find('.');
  const std::string_view token = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  return token;
}

std::int32_t ToComponent(std::string_view token) {
  // strtoll saturates at 64 bits; clamping again gives the 32-bit limits
  // on every platform, whatever the width of long.
  const std::string text(token);
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

}  // namespace

VersionNumber ParseVersion(std::string_view text) {
  VersionNumber version;
  const std::array<std::int32_t*, 4> components{&version.first, &version.second, &version.third, &version.fourth};
  for (std::int32_t* component : components) {
    const std::string_view token = NextToken(text);
    if (token.empty()) break;
    *component = ToComponent(token);
  }
  return version;
}

int CompareVersions(const VersionNumber& a, const VersionNumber& b) {
  const std::array<std::int32_t, 4> left{a.first, a.second, a.third, a.fourth};
  const std::array<std::int32_t, 4> right{b.first, b.second, b.third, b.fourth};
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (left[i] != right[i]) return left[i] > right[i] ? 1 : -1;
  }
  return 0;
}

}  // namespace quorvis
