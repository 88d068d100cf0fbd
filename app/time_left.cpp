#include "app/time_left.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "package/package.h"
#include "package/package_path.h"
#include "platform/platform.h"
#include "resources/texts_en.h"

namespace app {

namespace {

// Twice a second at most: more often, the line only flickers.
constexpr auto kShortestGap = std::chrono::milliseconds(500);
// The first seconds of a run say little of its pace.
constexpr auto kSettling = std::chrono::seconds(3);
// The rate is taken over the latest intervals between samples, about ten
// seconds of a copy that reports often.
constexpr std::size_t kWindow = 20;
// Estimates in a row that must agree before the line shows: within a
// quarter of the smallest, or within a few seconds near the end.
constexpr std::size_t kAgreeing = 4;
constexpr double kAgreement = 0.25;
constexpr double kCloseEnough = 5.0;
// A hundred thousand hours: beyond that, a stalled copy's estimate means
// nothing anyway.
constexpr double kLongest = 3.6e8;

}  // namespace

UnpackedProgress::UnpackedProgress(const std::vector<IndexedFile>& files) {
  std::uint64_t end = package::kPackageHeaderSize;
  for (const IndexedFile& file : files)
    end += package::kPackageFileRecordSize + file.stored;
  std::size_t next = 0;
  std::uint64_t start = package::kPackageHeaderSize;  // of the next entry's record
  std::uint64_t whole = 0;                            // unpacked bytes of the entries before it
  for (int percent = 0; percent <= 100; ++percent) {
    // The engine reports a percentage once it has read at least this far.
    const std::uint64_t read =
        percent == 100 ? end : static_cast<std::uint64_t>(static_cast<double>(end) * percent / 100.0);
    while (next < files.size() && start + package::kPackageFileRecordSize + files[next].stored <= read) {
      start += package::kPackageFileRecordSize + files[next].stored;
      whole += files[next].size;
      ++next;
    }
    double part = 0;
    const std::uint64_t data = start + package::kPackageFileRecordSize;
    if (next < files.size() && read > data && files[next].stored > 0)
      part = static_cast<double>(files[next].size) * static_cast<double>(read - data) /
             static_cast<double>(files[next].stored);
    copiedAt_[static_cast<std::size_t>(percent)] = whole + static_cast<std::uint64_t>(part);
  }
}

std::uint64_t UnpackedProgress::At(int percent) const {
  return copiedAt_[static_cast<std::size_t>(std::clamp(percent, 0, 100))];
}

TimeLeft::TimeLeft(std::vector<UnpackedProgress> packages) : packages_(std::move(packages)) {
  for (const UnpackedProgress& package : packages_) {
    starts_.push_back(total_);
    total_ += package.total();
  }
}

std::uint64_t TimeLeft::Copied(std::size_t packagesDone, int percent) const {
  if (packagesDone >= packages_.size()) return total_;
  return starts_[packagesDone] + packages_[packagesDone].At(percent);
}

std::optional<std::wstring> TimeLeft::Progress(std::size_t packagesDone, int percent, Clock::time_point now) {
  if (!Estimates()) return std::nullopt;
  const std::uint64_t copied = Copied(packagesDone, percent);
  if (copied < lastCopied_) {
    // A package begun again after a failure: the pace measured so far
    // no longer says how long the rest takes.
    lastCopied_ = copied;
    const bool wasShown = !lastText_.empty();
    Restart();
    return wasShown ? std::optional<std::wstring>(std::wstring()) : std::nullopt;
  }
  lastCopied_ = copied;
  if (!firstReport_) firstReport_ = now;
  if (!samples_.empty() && now - samples_.back().at < kShortestGap) return std::nullopt;
  samples_.push_back({now, copied});
  if (samples_.size() > kWindow + 1) samples_.pop_front();

  const std::optional<double> rate = Rate();
  if (!rate) return std::nullopt;
  estimates_.push_back(static_cast<double>(total_ - copied) / *rate);
  if (estimates_.size() > kAgreeing) estimates_.pop_front();
  if (!shown_ && (now - *firstReport_ < kSettling || !Steady())) return std::nullopt;
  shown_ = true;

  std::wstring text = texts_en::Filled(texts_en::kTimeLeft, platform::FormatByteSize(copied),
                                       platform::FormatByteSize(total_), ShortDuration(estimates_.back()));
  if (text == lastText_) return std::nullopt;
  lastText_ = text;
  return text;
}

// Bytes per second over the middle half of the latest intervals: files
// stepped over as unchanged rush by in an interval or two, and a question
// after a failure holds one up; neither tells how fast the rest will go.
std::optional<double> TimeLeft::Rate() const {
  struct Interval {
    double bytes;
    double seconds;
  };
  std::vector<Interval> intervals;
  for (std::size_t i = 1; i < samples_.size(); ++i) {
    const double seconds = std::chrono::duration<double>(samples_[i].at - samples_[i - 1].at).count();
    intervals.push_back({static_cast<double>(samples_[i].copied - samples_[i - 1].copied), seconds});
  }
  std::sort(intervals.begin(), intervals.end(),
            [](const Interval& a, const Interval& b) { return a.bytes * b.seconds < b.bytes * a.seconds; });
  const std::size_t trim = intervals.size() / 4;
  double bytes = 0;
  double seconds = 0;
  for (std::size_t i = trim; i + trim < intervals.size(); ++i) {
    bytes += intervals[i].bytes;
    seconds += intervals[i].seconds;
  }
  if (bytes <= 0 || seconds <= 0) return std::nullopt;
  return bytes / seconds;
}

bool TimeLeft::Steady() const {
  if (estimates_.size() < kAgreeing) return false;
  const auto [least, most] = std::minmax_element(estimates_.begin(), estimates_.end());
  return *most - *least <= std::max(*least * kAgreement, kCloseEnough);
}

void TimeLeft::Restart() {
  firstReport_.reset();
  samples_.clear();
  estimates_.clear();
  shown_ = false;
  lastText_.clear();
}

TimeLeft ReadTimeLeft(const std::wstring& folder, const std::vector<std::wstring>& names,
                      std::vector<std::optional<bool>>* indexed) noexcept {
  try {
    if (indexed != nullptr) indexed->assign(names.size(), std::nullopt);
    std::vector<UnpackedProgress> packages;
    packages.reserve(names.size());
    bool all = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const PackageSizes sizes = ReadPackageSizes(package::package_path::Build(folder, names[i]));
      if (indexed != nullptr && sizes.read) (*indexed)[i] = sizes.indexed;
      all = all && sizes.indexed;
      if (!all && indexed == nullptr) break;
      if (all) packages.emplace_back(sizes.files);
    }
    return all ? TimeLeft(std::move(packages)) : TimeLeft();
  } catch (...) {
    // Memory that runs out costs the line, never the copy.
    return TimeLeft();
  }
}

std::wstring ShortDuration(double seconds) {
  seconds = std::clamp(std::isnan(seconds) ? 0.0 : seconds, 0.0, kLongest);
  const auto fives = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ceil(seconds / 5)));
  if (fives < 12) return texts_en::Filled(texts_en::kSeconds, std::to_wstring(fives * 5));
  const auto minutes = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::llround(seconds / 60)));
  const auto minuteText = [](std::uint64_t count) {
    return count == 1 ? std::wstring(texts_en::kOneMinute)
                      : texts_en::Filled(texts_en::kMinutes, std::to_wstring(count));
  };
  if (minutes < 60) return minuteText(minutes);
  const std::uint64_t hours = minutes / 60;
  std::wstring text =
      hours == 1 ? std::wstring(texts_en::kOneHour) : texts_en::Filled(texts_en::kHours, std::to_wstring(hours));
  if (minutes % 60 != 0) text += L" " + minuteText(minutes % 60);
  return text;
}

}  // namespace app
