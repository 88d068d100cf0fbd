// The copy page's time-left line: the engine's percentages mapped to
// unpacked bytes through the size index, the estimate on a clock of the
// test's own, when it shows and how it is written.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/time_left.h"
#include "package/engine.h"
#include "support/package_bytes.h"
#include "support/temp_dir.h"

namespace app {

namespace {

using Clock = TimeLeft::Clock;
using std::chrono::milliseconds;

IndexedFile File(std::uint64_t stored, std::uint64_t unpacked) { return {L"", L"f", unpacked, stored}; }

// A package of 100 entries of 1000 stored bytes, 1 MB unpacked each: its
// percentages step through it almost entry by entry.
UnpackedProgress EvenPackage() { return UnpackedProgress(std::vector<IndexedFile>(100, File(1000, 1000000))); }

// Progress reports at the given percentages and times (seconds from the
// start); what the line shows, with the true time left beside it.
struct Report {
  int percent;
  double at;
};
struct Shown {
  double at;
  double estimate;
  double truth;
};
struct Drive {
  std::vector<std::pair<double, std::wstring>> texts;
  std::vector<Shown> shown;
};
Drive DriveThrough(TimeLeft& timeLeft, const std::vector<Report>& reports) {
  const Clock::time_point start{};
  const double end = reports.back().at;
  Drive drive;
  for (const Report& report : reports) {
    const Clock::time_point now =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(report.at));
    if (std::optional<std::wstring> text = timeLeft.Progress(0, report.percent, now))
      drive.texts.push_back({report.at, *text});
    // Each estimate against the truth when it was made: between samples the
    // line keeps the last one.
    const std::optional<double> left = timeLeft.SecondsLeft();
    if (left && (drive.shown.empty() || drive.shown.back().estimate != *left))
      drive.shown.push_back({report.at, *left, end - report.at});
  }
  return drive;
}

// Percent after percent, `seconds` apart, from `from` on, starting at `at`.
void Steps(std::vector<Report>& reports, int from, int to, double at, double seconds) {
  for (int percent = from; percent <= to; ++percent)
    reports.push_back({percent, at + (percent - from) * seconds});
}

// Within 30 % (or two seconds near the end) of the truth, from `from` on:
// what comes after is foreseen by no estimate.
void ExpectCloseToTheTruth(const Drive& drive, double from = 0) {
  ASSERT_FALSE(drive.shown.empty());
  for (const Shown& shown : drive.shown) {
    if (shown.at < from) continue;
    EXPECT_NEAR(shown.estimate, shown.truth, std::max(2.0, shown.truth * 0.3)) << "at " << shown.at << " s";
  }
}

}  // namespace

TEST(TimeLeft, PercentagesMapThroughTheIndexToUnpackedBytes) {
  // Records of 752 bytes after a header of 924; the entries end at 3676,
  // 6428 and 10000, so every percent is a hundred bytes.
  const UnpackedProgress package({File(2000, 5000), File(2000, 800), File(2820, 9000)});
  EXPECT_EQ(package.total(), 14800u);
  EXPECT_EQ(package.At(0), 0u);
  EXPECT_EQ(package.At(16), 0u) << "still in the first record";
  EXPECT_EQ(package.At(36), 4810u) << "1924 of its 2000 stored bytes read";
  EXPECT_EQ(package.At(37), 5000u);
  EXPECT_EQ(package.At(50), 5000u + 800u * 572 / 2000);
  EXPECT_EQ(package.At(65), 5800u);
  EXPECT_EQ(package.At(99), 5800u + static_cast<std::uint64_t>(9000.0 * 2720 / 2820));
  EXPECT_EQ(package.At(100), 14800u);
  EXPECT_EQ(package.At(250), 14800u);
  EXPECT_EQ(package.At(-1), 0u);
  EXPECT_EQ(UnpackedProgress({}).At(100), 0u);
}

TEST(TimeLeft, PackagesFollowEachOtherAndTheRunEndsAtTheirTotal) {
  const TimeLeft timeLeft({UnpackedProgress({File(100, 300)}), UnpackedProgress({File(100, 700)})});
  EXPECT_EQ(timeLeft.total(), 1000u);
  EXPECT_EQ(timeLeft.Copied(0, 100), 300u);
  EXPECT_EQ(timeLeft.Copied(1, 0), 300u);
  EXPECT_EQ(timeLeft.Copied(1, 100), 1000u);
  EXPECT_EQ(timeLeft.Copied(2, 0), 1000u) << "every package ended";
  EXPECT_EQ(timeLeft.Copied(5, 40), 1000u);
}

TEST(TimeLeft, ReadsTheChosenPackagesIndexesAndGivesUpOnOneWithout) {
  TempDir medium;
  const std::vector<std::uint8_t> data(30000, 'x');
  PackageBytes(L"A").Entry(L"maps", L"a.dat", data).Entry(L"", L"b.txt", Bytes("b")).Indexed().WriteTo(medium.Folder());
  PackageBytes(L"B").Entry(L"", L"c.dat", data).Indexed().WriteTo(medium.Folder());
  PackageBytes(L"OLD").Entry(L"", L"c.dat", data).WriteTo(medium.Folder());
  const std::wstring folder = medium.path().wstring();

  const TimeLeft both = ReadTimeLeft(folder, {L"A", L"B"});
  ASSERT_TRUE(both.Estimates());
  EXPECT_EQ(both.total(), 60001u);
  for (const auto& names : std::vector<std::vector<std::wstring>>{{L"A", L"OLD"}, {L"GONE", L"A"}, {}}) {
    TimeLeft none = ReadTimeLeft(folder, names);
    EXPECT_FALSE(none.Estimates());
    EXPECT_EQ(none.Progress(0, 50, Clock::time_point{} + std::chrono::hours(1)), std::nullopt);
  }
  // The run learns of every package, also those after one without an index.
  std::vector<std::optional<bool>> indexed;
  EXPECT_FALSE(ReadTimeLeft(folder, {L"A", L"OLD", L"GONE", L"B"}, &indexed).Estimates());
  EXPECT_EQ(indexed, (std::vector<std::optional<bool>>{true, false, std::nullopt, true}));
  EXPECT_TRUE(ReadTimeLeft(folder, {L"B"}, &indexed).Estimates());
  EXPECT_EQ(indexed, (std::vector<std::optional<bool>>{true}));
}

TEST(TimeLeft, TheEnginesLastPercentageIsTheWholeUnpackedSize) {
  // The estimator's model of the package bytes against the engine's own
  // count: an entry larger than a chunk, an empty one, a tiny one.
  TempDir medium;
  TempDir target;
  const std::wstring path = PackageBytes(L"P")
                                .Entry(L"maps", L"big.dat", Pattern(3 << 20))
                                .Entry(L"maps", L"empty.dat", {})
                                .Entry(L"", L"t.txt", Bytes("tiny"))
                                .Indexed()
                                .WriteTo(medium.Folder());
  struct Counting : package::Observer {
    std::uint64_t written = 0;
    std::int32_t lastPercent = -1;
    void OnProgress(std::int32_t percent, const package::PackageFileRecord&) override { lastPercent = percent; }
    void OnEntryFinished(const std::wstring&, std::uint64_t bytes, std::uint32_t) override { written += bytes; }
  } counting;
  ASSERT_EQ(package::Extract(path, L"P", target.Folder(), counting).outcome, package::Outcome::kExtracted);
  const TimeLeft timeLeft = ReadTimeLeft(medium.path().wstring(), {L"P"});
  EXPECT_EQ(counting.lastPercent, 100);
  EXPECT_EQ(timeLeft.Copied(0, counting.lastPercent), counting.written);
}

TEST(TimeLeft, ShowsOnlyOnceSteadyAtMostTwiceASecondAndClose) {
  TimeLeft timeLeft({EvenPackage()});
  std::vector<Report> reports;
  // A report every 50 ms: 20 seconds in all.
  for (int step = 0; step <= 400; ++step)
    reports.push_back({step / 4, step * 0.05});
  const Drive drive = DriveThrough(timeLeft, reports);
  ASSERT_FALSE(drive.texts.empty());
  EXPECT_GE(drive.texts.front().first, 3.0) << "the first seconds say little";
  for (std::size_t i = 1; i < drive.texts.size(); ++i)
    EXPECT_GE(drive.texts[i].first - drive.texts[i - 1].first, 0.5 - 1e-9);
  ExpectCloseToTheTruth(drive);
  // Three and a half seconds in: 17 of the 100 MB (in the system's units),
  // the rest at 5 MB a second.
  EXPECT_EQ(drive.texts.front().second, L"15.4 MB of 95.3 MB copied, about 20 seconds left");
}

TEST(TimeLeft, FilesSteppedOverAtTheStartDoNotMakeItGuessShort) {
  // A resumed run: half the bytes are unchanged and rush by, then the rest
  // is written at 2.5 % a second.
  TimeLeft timeLeft({EvenPackage()});
  std::vector<Report> reports;
  Steps(reports, 0, 50, 0, 0.005);
  Steps(reports, 51, 100, 0.65, 0.4);
  ExpectCloseToTheTruth(DriveThrough(timeLeft, reports));
}

TEST(TimeLeft, ABurstOfUnchangedFilesMidwayDoesNotThrowTheEstimate) {
  TimeLeft timeLeft({EvenPackage()});
  std::vector<Report> reports;
  Steps(reports, 0, 40, 0, 0.2);
  Steps(reports, 41, 70, 8.01, 0.003);
  Steps(reports, 71, 100, 8.3, 0.2);
  const Drive drive = DriveThrough(timeLeft, reports);
  EXPECT_LT(drive.shown.front().at, 8.0) << "shown before the burst";
  ExpectCloseToTheTruth(drive, 8.0);
}

TEST(TimeLeft, AHeldUpReportDoesNotMakeItGuessLong) {
  // A question after a failure holds the run for a minute; Ignore goes on.
  TimeLeft timeLeft({EvenPackage()});
  std::vector<Report> reports;
  Steps(reports, 0, 30, 0, 0.2);
  Steps(reports, 31, 100, 66.0, 0.2);
  ExpectCloseToTheTruth(DriveThrough(timeLeft, reports), 66.0);
}

TEST(TimeLeft, APackageBegunAgainEmptiesTheLineUntilSteadyAgain) {
  TimeLeft timeLeft({EvenPackage()});
  std::vector<Report> reports;
  Steps(reports, 0, 60, 0, 0.2);
  Drive drive = DriveThrough(timeLeft, reports);
  ASSERT_FALSE(drive.texts.empty());
  // Retry: the package starts again from its first byte.
  const Clock::time_point retry = Clock::time_point{} + std::chrono::seconds(13);
  EXPECT_EQ(timeLeft.Progress(0, 0, retry), std::wstring());
  EXPECT_EQ(timeLeft.SecondsLeft(), std::nullopt);
  EXPECT_EQ(timeLeft.Progress(0, 1, retry + milliseconds(600)), std::nullopt);
  EXPECT_EQ(timeLeft.Progress(0, 2, retry + milliseconds(1200)), std::nullopt) << "the first seconds say little";
}

TEST(TimeLeft, NothingShowsWhileNothingMoves) {
  TimeLeft timeLeft({EvenPackage()});
  for (int second = 0; second < 30; ++second)
    EXPECT_EQ(timeLeft.Progress(0, 0, Clock::time_point{} + std::chrono::seconds(second)), std::nullopt);
}

TEST(TimeLeft, DurationsReadShort) {
  EXPECT_EQ(ShortDuration(0), L"5 seconds");
  EXPECT_EQ(ShortDuration(0.2), L"5 seconds");
  EXPECT_EQ(ShortDuration(40), L"40 seconds");
  EXPECT_EQ(ShortDuration(41), L"45 seconds");
  EXPECT_EQ(ShortDuration(55), L"55 seconds");
  EXPECT_EQ(ShortDuration(56), L"1 minute");
  EXPECT_EQ(ShortDuration(89), L"1 minute");
  EXPECT_EQ(ShortDuration(120), L"2 minutes");
  EXPECT_EQ(ShortDuration(3569), L"59 minutes");
  EXPECT_EQ(ShortDuration(3600), L"1 hour");
  EXPECT_EQ(ShortDuration(3660), L"1 hour 1 minute");
  EXPECT_EQ(ShortDuration(3900), L"1 hour 5 minutes");
  EXPECT_EQ(ShortDuration(7200 + 1800), L"2 hours 30 minutes");
  EXPECT_EQ(ShortDuration(-3), L"5 seconds");
  EXPECT_EQ(ShortDuration(std::nan("")), L"5 seconds");
  EXPECT_EQ(ShortDuration(std::numeric_limits<double>::infinity()), L"100000 hours");
}

}  // namespace app
