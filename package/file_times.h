// Stored file times: Windows FILETIME counts (100 ns since 1601-01-01 UTC).
#pragma once

#include <cstdint>

namespace package::file_times {

inline constexpr std::uint64_t kTicksPerSecond = 10'000'000;
// 1970-01-01 and 3001-01-01, 00:00 UTC: the span in which stored times are
// applied; outside it the file keeps the time the system gave it.
inline constexpr std::uint64_t kFirstRepresentable = 116'444'736'000'000'000ull;
inline constexpr std::uint64_t kPastLastRepresentable = 441'796'896'000'000'000ull;

inline bool IsRepresentable(std::uint64_t ticks) {
  return ticks >= kFirstRepresentable && ticks < kPastLastRepresentable;
}

inline std::uint64_t ToWholeSeconds(std::uint64_t ticks) { return ticks - ticks % kTicksPerSecond; }

}  // namespace package::file_times
