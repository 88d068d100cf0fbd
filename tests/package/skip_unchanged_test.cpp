// A run that skips unchanged files: the facts the observer is shown, what
// each of its answers does to the target, and that the engine's guarantees
// (record order, the same calls with any number of decoders, a stop) hold
// for entries left as they are too.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "package/engine.h"
#include "package/engine_recorder.h"
#include "package/entry_steps.h"
#include "package/package.h"
#include "package/size_index.h"
#include "package/temp_files.h"
#include "platform/platform.h"
#include "support/package_bytes.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using package::EntryFacts;
using package::TargetCheck;

namespace {

// 2022-01-01 21:04:05 UTC, and a fraction of a second that no file keeps.
constexpr std::uint64_t kWholeSecond = 132855446450000000ull;
constexpr std::uint64_t kFraction = 6'789'012;

// Noise with runs: a few chunks of small buffers each.
std::vector<std::uint8_t> Content(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    data[i] = i % 64 < 32 ? static_cast<std::uint8_t>(seed >> 24) : static_cast<std::uint8_t>(i / 64);
  }
  return data;
}

std::uint32_t Adler(const std::vector<std::uint8_t>& data) {
  return static_cast<std::uint32_t>(adler32(adler32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size())));
}

std::wstring NameOf(const std::wstring& path) { return fs::path(path).filename().wstring(); }

// Answers by a rule and keeps what it was shown, by file name.
class Answering : public Recorder {
 public:
  std::function<TargetCheck(const EntryFacts&)> rule = [](const EntryFacts&) { return TargetCheck::kWrite; };
  std::map<std::wstring, EntryFacts> shown;
  std::map<std::wstring, std::uint32_t> finished;
  std::int64_t asked = 0;
  std::int64_t started = 0;
  // The most questions asked ahead of the entries' turns.
  std::int64_t mostAhead = 0;

  TargetCheck CompareTarget(const EntryFacts& facts) override {
    shown[NameOf(facts.outputPath)] = facts;
    mostAhead = std::max(mostAhead, ++asked - started);
    return rule(facts);
  }
  void OnEntryStarted(const package::PackageFileRecord& record, const std::wstring& outputPath) override {
    ++started;
    Recorder::OnEntryStarted(record, outputPath);
  }
  void OnEntryFinished(const std::wstring& outputPath, std::uint64_t bytesWritten, std::uint32_t adler32) override {
    finished[NameOf(outputPath)] = adler32;
    Recorder::OnEntryFinished(outputPath, bytesWritten, adler32);
  }
};

// Answers by file name; any other is written.
std::function<TargetCheck(const EntryFacts&)> ByName(std::map<std::wstring, TargetCheck> answers) {
  return [answers](const EntryFacts& facts) {
    const auto found = answers.find(NameOf(facts.outputPath));
    return found == answers.end() ? TargetCheck::kWrite : found->second;
  };
}

// The quick check: a target of the entry's size and time is left.
TargetCheck QuickCheck(const EntryFacts& facts) {
  const bool same =
      facts.target && facts.modified && facts.target->size == facts.size && facts.target->modified == *facts.modified;
  return same ? TargetCheck::kUnchanged : TargetCheck::kWrite;
}

struct Outcome {
  std::vector<std::wstring> calls;
  package::Outcome result = package::Outcome::kExtracted;
  bool raised = false;
  FileError error;
  std::uint64_t decoded = 0;
  std::uint64_t unchanged = 0;
  std::uint64_t compared = 0;
};

class SkipUnchanged : public ::testing::Test {
 protected:
  // A destination of its own for each scenario and decoder count.
  fs::path Destination(const std::string& name) const { return target_.path() / name; }

  Outcome Extract(const PackageBytes& package, const fs::path& destination, Answering& observer,
                  std::size_t decoders = 2, bool skip = true) {
    package.WriteTo(media_.Folder());
    package::DecodeCounts counts;
    package::Options options{{1024, 2048}, decoders};
    options.skipUnchanged = skip;
    options.counts = &counts;
    Outcome outcome;
    const std::wstring root = destination.wstring() + platform::kPathSeparator;
    try {
      outcome.result =
          package::Extract(package::BuildPackagePath(media_.Folder(), L"Pkg"), L"Pkg", root, observer, options).outcome;
    } catch (const FileError& error) {
      outcome.raised = true;
      outcome.error = error;
      if (const auto* failed = dynamic_cast<const package::ExtractionError*>(&error))
        observer.calls.push_back(L"error " + std::to_wstring(static_cast<int>(failed->kind())) + L" " + failed->path());
    }
    for (std::wstring call : observer.calls) {
      for (auto at = call.find(root); at != std::wstring::npos; at = call.find(root))
        call.replace(at, root.size(), L"<dest>/");
      std::replace(call.begin(), call.end(), platform::kPathSeparator, L'/');
      outcome.calls.push_back(call);
    }
    outcome.decoded = counts.whole + counts.streamed;
    outcome.unchanged = counts.unchanged;
    outcome.compared = counts.compared;
    return outcome;
  }

  void Install(const PackageBytes& package, const fs::path& destination) {
    Answering plain;
    ASSERT_FALSE(Extract(package, destination, plain, 2, false).raised);
  }

  static void ExpectNoTempFiles(const fs::path& root) {
    for (const std::string& entry : TreeOf(root))
      EXPECT_FALSE(package::temp_files::IsTempName(fs::path(entry).filename().wstring())) << entry;
  }

  TempDir media_;
  TempDir target_;
};

TEST_F(SkipUnchanged, TheFactsAreTheIndexedSizeTheTimeTheFileGetsAndTheStoredCheckValue) {
  PackageBytes package(L"Pkg");
  package.Entry(L"a", L"timed.bin", Content(30'000, 1), 0, kWholeSecond + kFraction)
      .Entry(L"a", L"untimed.bin", Content(4'000, 2))
      .Entry(L"b", L"unrepresentable.bin", Content(9'000, 3), 0, 5)
      .RawEntry(L"b", L"empty.bin", {}, 0)
      .Entry(L"b", L"last.bin", Content(7'000, 4), 0, kWholeSecond);
  const PackageBytes indexed = package.Indexed();

  Answering first;
  const fs::path destination = Destination("facts");
  ASSERT_FALSE(Extract(indexed, destination, first).raised);
  // An empty file has no stream, and the check value of no bytes.
  EXPECT_EQ(first.shown.size(), 5u);
  EXPECT_EQ(first.shown.at(L"empty.bin").size, 0u);
  EXPECT_EQ(first.shown.at(L"empty.bin").adler32, 1u);
  const std::map<std::wstring, std::size_t> sizes = {
      {L"timed.bin", 30'000}, {L"untimed.bin", 4'000}, {L"unrepresentable.bin", 9'000}};
  for (const auto& [name, size] : sizes) {
    SCOPED_TRACE(name);
    const EntryFacts& facts = first.shown.at(name);
    EXPECT_EQ(facts.size, size);
    EXPECT_EQ(facts.adler32, first.finished.at(name));
    EXPECT_FALSE(facts.target.has_value());
  }
  EXPECT_EQ(first.shown.at(L"timed.bin").modified, std::optional<std::uint64_t>(kWholeSecond));
  EXPECT_FALSE(first.shown.at(L"untimed.bin").modified.has_value());
  EXPECT_FALSE(first.shown.at(L"unrepresentable.bin").modified.has_value());

  Answering second;
  ASSERT_FALSE(Extract(indexed, destination, second).raised);
  const EntryFacts& timed = second.shown.at(L"timed.bin");
  ASSERT_TRUE(timed.target.has_value());
  EXPECT_EQ(timed.target->size, 30'000u);
  EXPECT_EQ(timed.target->modified, kWholeSecond);
  EXPECT_EQ(timed.outputPath, (destination / "a" / "timed.bin").wstring());

  // Nobody is asked without the option or without a valid index, and an
  // entry that the index lists otherwise than the walk reads it has no facts.
  Answering unasked;
  EXPECT_FALSE(Extract(indexed, destination, unasked, 2, false).raised);
  EXPECT_FALSE(Extract(package, destination, unasked).raised);
  PackageBytes damaged = indexed;
  damaged.bytes()[damaged.bytes().size() - 30] ^= 0x01;
  EXPECT_FALSE(Extract(damaged, destination, unasked).raised);
  EXPECT_EQ(unasked.asked, 0);
  // Valid, as the stored sizes still sum to where the entries end.
  const std::vector<package::size_index::Entry> mislisted = {
      {L"a", L"timed.bin", 30'000, Compress(Content(30'000, 1)).size() - 1},
      {L"a", L"other.bin", 4'000, Compress(Content(4'000, 2)).size()},
      {L"b", L"unrepresentable.bin", 9'000, Compress(Content(9'000, 3)).size() + 1},
      {L"b", L"empty.bin", 0, 0},
      {L"b", L"last.bin", 7'000, Compress(Content(7'000, 4)).size()}};
  PackageBytes otherwise = package;
  otherwise.Append(package::size_index::Encode(mislisted, package.bytes().size()));
  Answering asked;
  EXPECT_FALSE(Extract(otherwise, destination, asked).raised);
  EXPECT_EQ(asked.shown.size(), 2u);
  EXPECT_EQ(asked.shown.count(L"empty.bin"), 1u);
  EXPECT_EQ(asked.shown.count(L"last.bin"), 1u);
}

// Left means untouched: not decoded, no folder made, the target not even
// probed, yet the entry has its turn and its bytes count as done.
TEST_F(SkipUnchanged, AnEntryCalledUnchangedIsNeitherDecodedNorTouched) {
  PackageBytes package(L"Pkg");
  package.Entry(L"a", L"mine.bin", Content(40'000, 1), 0, kWholeSecond)
      .Entry(L"a", L"written.bin", Content(50'000, 2), 0, kWholeSecond)
      .Entry(L"b", L"folder.bin", Content(20'000, 3))
      .Entry(L"c\\d", L"gone.bin", Content(10'000, 4))
      .Entry(L"e", L"last.bin", Content(60'000, 5));
  package = package.Indexed();
  const auto answers = ByName({{L"mine.bin", TargetCheck::kUnchanged},
                               {L"folder.bin", TargetCheck::kUnchanged},
                               {L"gone.bin", TargetCheck::kUnchanged}});
  std::vector<Outcome> outcomes;
  for (const std::size_t decoders : {1u, 4u}) {
    SCOPED_TRACE(decoders);
    const fs::path destination = Destination("left" + std::to_string(decoders));
    Install(package, destination);
    WriteAll(destination / "a" / "mine.bin", Bytes("my own"));
    fs::remove(destination / "b" / "folder.bin");
    fs::create_directories(destination / "b" / "folder.bin");  // a file could not replace it
    fs::remove_all(destination / "c");
    Answering observer;
    observer.rule = answers;
    outcomes.push_back(Extract(package, destination, observer, decoders));
    const Outcome& outcome = outcomes.back();
    ASSERT_FALSE(outcome.raised) << fs::path(outcome.error.fileName());
    EXPECT_EQ(ReadAll(destination / "a" / "mine.bin"), Bytes("my own"));
    EXPECT_TRUE(fs::is_directory(destination / "b" / "folder.bin"));
    EXPECT_FALSE(fs::exists(destination / "c"));
    EXPECT_EQ(ReadAll(destination / "e" / "last.bin"), Content(60'000, 5));
    EXPECT_EQ(outcome.unchanged, 3u);
    EXPECT_EQ(outcome.decoded, 2u);
    ExpectNoTempFiles(destination);
  }
  EXPECT_EQ(outcomes[0].calls, outcomes[1].calls);
  const std::vector<std::wstring>& calls = outcomes[0].calls;
  std::vector<std::wstring> ends;
  for (const std::wstring& call : calls)
    if (call.starts_with(L"unchanged ") || call.starts_with(L"finished ")) ends.push_back(call.substr(0, 10));
  EXPECT_EQ(ends,
            (std::vector<std::wstring>{L"unchanged ", L"finished <", L"unchanged ", L"unchanged ", L"finished <"}));
  // Every entry starts and ends in record order, and the bar still reaches its end.
  const auto mineStarts = std::find(calls.begin(), calls.end(), L"start mine.bin <dest>/a/mine.bin");
  ASSERT_NE(mineStarts, calls.end());
  const auto mineLeft = std::find(mineStarts, calls.end(), L"unchanged <dest>/a/mine.bin");
  ASSERT_NE(mineLeft, calls.end());
  for (auto call = mineStarts + 1; call != mineLeft; ++call)
    EXPECT_TRUE(call->starts_with(L"progress ") && call->ends_with(L" mine.bin")) << *call;
  EXPECT_EQ(calls.back(), L"finished <dest>/e/last.bin 60000 " + std::to_wstring(Adler(Content(60'000, 5))));
  EXPECT_NE(std::find(calls.begin(), calls.end(), L"progress 100 last.bin"), calls.end());
}

TEST_F(SkipUnchanged, AComparedTargetIsLeftOnlyWhenItHoldsTheEntrysBytes) {
  PackageBytes package(L"Pkg");
  package.Entry(L"a", L"same.bin", Content(300'000, 1), 0, kWholeSecond)
      .Entry(L"a", L"flipped.bin", Content(30'000, 2), 0, kWholeSecond)
      .Entry(L"a", L"longer.bin", Content(20'000, 3))
      .Entry(L"b", L"missing.bin", Content(10'000, 4))
      .Entry(L"b", L"padded.bin", Content(10'000, 5));
  package = package.Indexed();
  std::vector<Outcome> outcomes;
  for (const std::size_t decoders : {1u, 3u}) {
    SCOPED_TRACE(decoders);
    const fs::path destination = Destination("compared" + std::to_string(decoders));
    Install(package, destination);
    // Same size, same time, one byte different: only the content tells.
    std::vector<std::uint8_t> flipped = Content(30'000, 2);
    flipped[12'345] ^= 0x20;
    WriteAll(destination / "a" / "flipped.bin", flipped);
    platform::FileTimes times;
    times.lastWrite = kWholeSecond;
    ASSERT_TRUE(platform::SetFileTimes((destination / "a" / "flipped.bin").wstring(), times));
    std::vector<std::uint8_t> longer = Content(20'000, 3);
    longer.push_back(0);
    WriteAll(destination / "a" / "longer.bin", longer);
    fs::remove(destination / "b" / "missing.bin");
    // The same bytes and more: its check value differs.
    std::vector<std::uint8_t> padded = Content(10'000, 5);
    padded.resize(10'001);
    WriteAll(destination / "b" / "padded.bin", padded);

    Answering observer;
    observer.rule = [](const EntryFacts&) { return TargetCheck::kCompareContent; };
    outcomes.push_back(Extract(package, destination, observer, decoders));
    const Outcome& outcome = outcomes.back();
    ASSERT_FALSE(outcome.raised) << fs::path(outcome.error.fileName());
    EXPECT_EQ(ReadAll(destination / "a" / "flipped.bin"), Content(30'000, 2));
    EXPECT_EQ(ReadAll(destination / "a" / "longer.bin"), Content(20'000, 3));
    EXPECT_EQ(ReadAll(destination / "b" / "missing.bin"), Content(10'000, 4));
    EXPECT_EQ(ReadAll(destination / "b" / "padded.bin"), Content(10'000, 5));
    EXPECT_EQ(outcome.unchanged, 1u);
    EXPECT_EQ(outcome.compared, 5u);
    EXPECT_EQ(outcome.decoded, 4u);
    ExpectNoTempFiles(destination);
  }
  EXPECT_EQ(outcomes[0].calls, outcomes[1].calls);
  EXPECT_NE(std::find(outcomes[0].calls.begin(), outcomes[0].calls.end(), L"same <dest>/a/same.bin"),
            outcomes[0].calls.end());
  EXPECT_EQ(std::count_if(outcomes[0].calls.begin(), outcomes[0].calls.end(),
                          [](const std::wstring& call) { return call.starts_with(L"finished "); }),
            4);
}

// An empty file has no stream, yet its facts are known without one: written
// again on every run, each would be flushed as it replaces the one there,
// and a repair would call it repaired. Unless the index says it is not empty.
TEST_F(SkipUnchanged, AnEmptyFileIsLeftAsAnyOtherWithoutAStreamToEndIn) {
  PackageBytes package(L"Pkg");
  for (int i = 0; i < 3; ++i)
    package.RawEntry(L"e", std::to_wstring(i) + L".txt", {}, 0, 0, kWholeSecond);
  package.RawEntry(L"e", L"listed.txt", {}, 0, 0, kWholeSecond).Unpacked(65'521);
  package = package.Indexed();
  const fs::path destination = Destination("empty");
  Install(package, destination);
  package::DecodeCounts counts;
  package.WriteTo(media_.Folder());
  package::Options options{{1024, 2048}, 2};
  options.skipUnchanged = true;
  options.counts = &counts;
  Answering observer;
  observer.rule = QuickCheck;
  ASSERT_EQ(package::Extract(package::BuildPackagePath(media_.Folder(), L"Pkg"), L"Pkg",
                             destination.wstring() + platform::kPathSeparator, observer, options)
                .outcome,
            package::Outcome::kExtracted);
  EXPECT_EQ(counts.unchanged, 3u);
  EXPECT_EQ(counts.flushed, 1u);
  ASSERT_EQ(observer.shown.count(L"0.txt"), 1u);
  EXPECT_EQ(observer.shown.at(L"0.txt").size, 0u);
  EXPECT_EQ(observer.shown.at(L"0.txt").adler32, 1u);
  EXPECT_EQ(observer.shown.count(L"listed.txt"), 0u);
  EXPECT_EQ(observer.finished.size(), 1u);
}

// The point of leaving a file is not to decode its entry: a stream damaged
// in the middle, whose last four bytes still hold the check value of the
// file installed, is not found then. Written, it is.
TEST_F(SkipUnchanged, AStreamDamagedBehindAMatchingCheckValueIsNotFoundWhenItsFileIsLeft) {
  const std::vector<std::uint8_t> content = Content(80'000, 7);
  PackageBytes good(L"Pkg");
  good.Entry(L"a", L"map.bin", content, 0, kWholeSecond);
  std::vector<std::uint8_t> stored = Compress(content);
  stored[stored.size() / 2] ^= 0xFF;
  PackageBytes damaged(L"Pkg");
  damaged.RawEntry(L"a", L"map.bin", stored, static_cast<std::int64_t>(stored.size()), 0, kWholeSecond)
      .Unpacked(content.size());
  const fs::path destination = Destination("damaged");
  Install(good.Indexed(), destination);
  for (const TargetCheck answer : {TargetCheck::kUnchanged, TargetCheck::kCompareContent, TargetCheck::kWrite}) {
    SCOPED_TRACE(static_cast<int>(answer));
    Answering observer;
    observer.rule = [answer](const EntryFacts&) { return answer; };
    const Outcome outcome = Extract(damaged.Indexed(), destination, observer);
    EXPECT_EQ(outcome.raised, answer == TargetCheck::kWrite);
    if (outcome.raised) {
      EXPECT_EQ(outcome.error.cause(), FileError::kDamaged);
    }
    EXPECT_EQ(ReadAll(destination / "a" / "map.bin"), content);
  }
}

// A package may write one file twice, the later entry winning. The later
// one's look at the file must see what the earlier one made of it, however
// far ahead the walk runs, or a file left would be the earlier one's.
TEST_F(SkipUnchanged, AnEntryLooksAtItsTargetOnlyOnceTheEntriesAheadThatWriteItHaveHadTheirTurn) {
  for (const std::wstring& again : {std::wstring(L"a"), std::wstring(L"a\\.")}) {
    SCOPED_TRACE(again.size());
    PackageBytes package(L"Pkg");
    package.Entry(L"a", L"x.bin", Content(10'000, 1), 0, kWholeSecond);
    for (int i = 0; i < 3; ++i)
      package.Entry(L"fill", std::to_wstring(i) + L".bin", Content(5'000, 10 + i), 0, kWholeSecond);
    package.Entry(again, L"x.bin", Content(12'000, 2), 0, kWholeSecond + 10 * 10'000'000ull);
    package = package.Indexed();
    for (const std::size_t decoders : {1u, 4u}) {
      SCOPED_TRACE(decoders);
      const fs::path destination = Destination("twice" + std::to_string(again.size()) + std::to_string(decoders));
      Install(package, destination);
      Answering observer;
      observer.rule = QuickCheck;
      const Outcome outcome = Extract(package, destination, observer, decoders);
      ASSERT_FALSE(outcome.raised);
      EXPECT_EQ(ReadAll(destination / "a" / "x.bin"), Content(12'000, 2));
      EXPECT_EQ(outcome.unchanged, 3u);
      EXPECT_EQ(observer.finished.size(), 1u);
    }
  }
}

// Entries left take no decoder: the walk ahead of the turns still keeps a
// bound, so a package of any number of unchanged files holds few at once.
TEST_F(SkipUnchanged, TheWalkOverUnchangedEntriesRunsOnlyALittleAhead) {
  PackageBytes package(L"Pkg");
  for (int i = 0; i < 150; ++i)
    package.Entry(L"t\\" + std::to_wstring(i % 7), std::to_wstring(i) + L".bin", Content(300, i), 0, kWholeSecond);
  package = package.Indexed();
  const fs::path destination = Destination("many");
  Install(package, destination);
  Answering observer;
  observer.rule = QuickCheck;
  const Outcome outcome = Extract(package, destination, observer, 2);
  EXPECT_EQ(outcome.unchanged, 150u);
  EXPECT_EQ(outcome.decoded, 0u);
  EXPECT_LE(observer.mostAhead, 2 * 2 * 4 + 1);
  EXPECT_EQ(outcome.calls.back(), L"unchanged <dest>/t/2/149.bin");
}

// A comparison asks about a stop between its reads; the run stops at the
// entry in hand, and the target stays as it was.
TEST_F(SkipUnchanged, AStopEndsAComparison) {
  class StopAtSecondQuestion : public package::Observer {
   public:
    bool StopRequested() override { return ++asked >= 2; }
    int asked = 0;
  };
  const fs::path file = Destination("large.bin");
  WriteAll(file, Content(2'000'000, 1));
  EntryFacts facts;
  facts.outputPath = file.wstring();
  facts.size = 2'000'000;
  facts.adler32 = Adler(Content(2'000'000, 1));
  std::vector<unsigned char> buffer;
  StopAtSecondQuestion stop;
  EXPECT_EQ(package::CompareContent(facts, buffer, stop), package::Comparison::kStopped);
  package::Observer never;
  EXPECT_EQ(package::CompareContent(facts, buffer, never), package::Comparison::kSame);

  PackageBytes package(L"Pkg");
  package.Entry(L"a", L"first.bin", Content(5'000, 2))
      .Entry(L"a", L"large.bin", Content(2'000'000, 1))
      .Entry(L"b", L"after.bin", Content(5'000, 3));
  package = package.Indexed();
  const fs::path destination = Destination("stopped");
  Install(package, destination);
  fs::remove_all(destination / "b");
  class StopAtLarge : public Answering {
   public:
    void OnEntryStarted(const package::PackageFileRecord& record, const std::wstring& outputPath) override {
      Answering::OnEntryStarted(record, outputPath);
      stop = record.Name() == L"large.bin";
    }
    bool StopRequested() override { return stop; }
    bool stop = false;
  };
  for (const std::size_t decoders : {1u, 3u}) {
    SCOPED_TRACE(decoders);
    StopAtLarge observer;
    observer.rule = [](const EntryFacts&) { return TargetCheck::kCompareContent; };
    const Outcome outcome = Extract(package, destination, observer, decoders);
    EXPECT_FALSE(outcome.raised);
    EXPECT_EQ(outcome.result, package::Outcome::kCancelled);
    EXPECT_EQ(ReadAll(destination / "a" / "large.bin"), Content(2'000'000, 1));
    EXPECT_FALSE(fs::exists(destination / "b"));
    ExpectNoTempFiles(destination);
  }
}

// A failure that the work done side by side may have caused is met again
// alone, the entries behind it walked again and their targets asked about
// again: the same calls and the same error as with one decoder.
TEST_F(SkipUnchanged, AFailureMetAloneGivesTheSameCallsAndErrorAsOneDecoder) {
  // A file, then a folder of its name: a later entry's folder made ahead
  // refuses the file its move, until it is met alone.
  PackageBytes package(L"Pkg");
  package.Entry(L"", L"a", Content(3'000, 1));
  for (int i = 0; i < 5; ++i)
    package.Entry(L"fill", std::to_wstring(i) + L".bin", Content(2'000, i));
  package.Entry(L"a", L"x.bin", Content(3'000, 2));
  package = package.Indexed();
  std::vector<Outcome> outcomes;
  for (const std::size_t decoders : {1u, 2u, 8u}) {
    SCOPED_TRACE(decoders);
    const fs::path destination = Destination("alone" + std::to_string(decoders));
    fs::create_directories(destination / "fill");
    WriteAll(destination / "fill" / "2.bin", Content(2'000, 2));
    Answering observer;
    observer.rule = [](const EntryFacts&) { return TargetCheck::kCompareContent; };
    outcomes.push_back(Extract(package, destination, observer, decoders));
    ASSERT_TRUE(outcomes.back().raised);
    EXPECT_EQ(outcomes.back().calls.back(),
              L"error " + std::to_wstring(static_cast<int>(package::ErrorKind::kFolderNotCreated)) + L" <dest>/a/");
    EXPECT_EQ(ReadAll(destination / "a"), Content(3'000, 1));
    ExpectNoTempFiles(destination);
    EXPECT_EQ(outcomes.back().unchanged, 1u);
  }
  EXPECT_EQ(outcomes[0].calls, outcomes[1].calls);
  EXPECT_EQ(outcomes[0].calls, outcomes[2].calls);
}

}  // namespace
