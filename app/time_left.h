// The copy page's line under the bars: how much of the chosen packages'
// unpacked bytes the run has copied and about how long the rest will take.
// Worked out from the progress the engine reports and the packages' size
// indexes; the caller gives the time, so tests drive it with a clock of
// their own.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/package_sizes.h"

namespace app {

// A package's progress in unpacked bytes. The engine reports the whole
// percentage of the package file read (header, records and stored data);
// the index says where each entry's stored bytes end and what they unpack
// to. Entries stepped over as unchanged are reported as read, so they count
// as copied.
class UnpackedProgress {
 public:
  // `files` as a valid index lists them, in record order.
  explicit UnpackedProgress(const std::vector<IndexedFile>& files);

  std::uint64_t total() const { return copiedAt_[100]; }
  // The entries that end by `percent` of the package's bytes, and the share
  // of the one in hand that its stored bytes read so far stand for.
  std::uint64_t At(int percent) const;

 private:
  std::array<std::uint64_t, 101> copiedAt_{};
};

class TimeLeft {
 public:
  using Clock = std::chrono::steady_clock;

  // Never shows anything.
  TimeLeft() = default;
  // The chosen packages in the run's order, each as its valid index gives
  // it (ReadTimeLeft shows nothing when one has none).
  explicit TimeLeft(std::vector<UnpackedProgress> packages);

  bool Estimates() const { return !starts_.empty(); }
  std::uint64_t total() const { return total_; }
  // `packagesDone` packages have ended (whatever became of them), and the
  // next one is `percent` into its bytes.
  std::uint64_t Copied(std::size_t packagesDone, int percent) const;

  // At each progress report: the text the line should show from now on, or
  // nullopt to leave it. A new text comes at most twice a second, and only
  // once the estimate is steady; empty when a package begins again after a
  // failure, until it is steady anew.
  std::optional<std::wstring> Progress(std::size_t packagesDone, int percent, Clock::time_point now);
  // The seconds left the line shows, before rounding; nullopt while it shows nothing.
  std::optional<double> SecondsLeft() const {
    return shown_ && !estimates_.empty() ? std::optional<double>(estimates_.back()) : std::nullopt;
  }

 private:
  struct Sample {
    Clock::time_point at;
    std::uint64_t copied;
  };
  std::optional<double> Rate() const;
  bool Steady() const;
  void Restart();

  std::vector<UnpackedProgress> packages_;
  std::vector<std::uint64_t> starts_;  // unpacked bytes before each package
  std::uint64_t total_ = 0;

  std::optional<Clock::time_point> firstReport_;
  std::deque<Sample> samples_;
  std::deque<double> estimates_;  // seconds left, at the latest samples
  std::uint64_t lastCopied_ = 0;
  bool shown_ = false;
  std::wstring lastText_;
};

// The chosen packages of `folder`, their indexes read now. Nothing is shown
// when any of them lacks a valid index: the total would be a guess. Never
// throws: a package that cannot be read counts as one without an index.
// `indexed`, when given, gets for each package whether it has a valid index
// (nullopt: it could not be read), so that the run reads each index once.
TimeLeft ReadTimeLeft(const std::wstring& folder, const std::vector<std::wstring>& names,
                      std::vector<std::optional<bool>>* indexed = nullptr) noexcept;

// "40 seconds", "2 minutes", "1 hour 5 minutes": rounded as befits an
// estimate, seconds in fives and never below five.
std::wstring ShortDuration(double seconds);

}  // namespace app
