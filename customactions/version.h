#pragma once
// Dotted version texts as the product line writes them ("1.2", "1.0.0.3").

#include <cstdint>
#include <string_view>

namespace quorvis {

struct VersionNumber {
  std::int32_t first = 0;
  std::int32_t second = 0;
  std::int32_t third = 0;
  std::int32_t fourth = 0;
};

// Up to four components; missing ones are 0, runs of dots are one separator,
// each component converts like strtol (clamped to 32 bits), the rest is ignored.
VersionNumber ParseVersion(std::string_view text);

// -1, 0 or +1 as `a` is lower than, equal to or higher than `b`.
int CompareVersions(const VersionNumber& a, const VersionNumber& b);

}  // namespace quorvis
