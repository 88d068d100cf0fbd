#include "customactions/version.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

namespace {

using quorvis::ParseVersion;

std::array<std::int32_t, 4> Parts(const char* text) {
  const quorvis::VersionNumber v = ParseVersion(text);
  return {v.first, v.second, v.third, v.fourth};
}

using P = std::array<std::int32_t, 4>;
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(ParseVersion, MissingComponentsAreZero) {
  EXPECT_EQ(Parts("1.0.0.3"), (P{1, 0, 0, 3}));
  EXPECT_EQ(Parts("1.2"), (P{1, 2, 0, 0}));
  EXPECT_EQ(Parts("7"), (P{7, 0, 0, 0}));
  EXPECT_EQ(Parts(""), (P{0, 0, 0, 0}));
  EXPECT_EQ(Parts("..."), (P{0, 0, 0, 0}));
}

TEST(ParseVersion, RunsOfDotsSeparateOnce) {
  EXPECT_EQ(Parts("1..5"), (P{1, 5, 0, 0}));
  EXPECT_EQ(Parts("..1...2.3.."), (P{1, 2, 3, 0}));
}

TEST(ParseVersion, ComponentsConvertLikeStrtol) {
  EXPECT_EQ(Parts("x.2"), (P{0, 2, 0, 0}));
  EXPECT_EQ(Parts(" 1.  +2.-3.4beta"), (P{1, 2, -3, 4}));
  EXPECT_EQ(Parts("1 2.3"), (P{1, 3, 0, 0}));
  EXPECT_EQ(Parts("010.0x1F"), (P{10, 0, 0, 0}));
}

TEST(ParseVersion, OnlyFourComponentsAreRead) {
  EXPECT_EQ(Parts("1.2.3.4.9"), (P{1, 2, 3, 4}));
  EXPECT_EQ(Parts("1.2.3.4.99999999999999999999"), (P{1, 2, 3, 4}));
}

TEST(ParseVersion, ValuesBeyond32BitsAreClamped) {
  EXPECT_EQ(Parts("2147483647.2147483648.4294967297.99999999999999999999999"), (P{kMax, kMax, kMax, kMax}));
  EXPECT_EQ(Parts("-2147483648.-2147483649.-99999999999999999999999"), (P{kMin, kMin, kMin, 0}));
}

TEST(CompareVersions, ComparesComponentByComponentAsSignedNumbers) {
  const auto compare = [](const char* a, const char* b) {
    return quorvis::CompareVersions(ParseVersion(a), ParseVersion(b));
  };
  EXPECT_EQ(compare("1.0.0.3", "1.0.0.3"), 0);
  EXPECT_EQ(compare("1.2", "1.2.0.0"), 0);
  EXPECT_EQ(compare("1.10", "1.9"), 1);
  EXPECT_EQ(compare("1.9", "1.10"), -1);
  EXPECT_EQ(compare("2.0", "1.9.9.9"), 1);
  EXPECT_EQ(compare("1.2", "1.2.0.1"), -1);
  EXPECT_EQ(compare("1.2.4", "1.3.0"), -1);
  EXPECT_EQ(compare("-1", "0"), -1);
  EXPECT_EQ(compare("2147483647", "-2147483648"), 1);
  EXPECT_EQ(compare("1..5", "1.5"), 0);
  EXPECT_EQ(compare("1.2.3.4.9", "1.2.3.4"), 0);
}

}  // namespace
