// Which files a run writes: the skip rule on its own, what the record keeps of
// fresh and unchanged files, and whole runs over an engine stand-in that asks
// the run about each entry as the engine does, then does what it was told.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/copy_rule.h"
#include "app/install_log.h"
#include "app/installation_run.h"
#include "app/installed_setup.h"
#include "package/writer.h"
#include "platform/fs_path.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace app {

namespace {

namespace fs = std::filesystem;
using package::TargetCheck;

#if defined(_WIN32)
const std::wstring kDest = L"D:\\Maps\\";
#else
const std::wstring kDest = L"/mnt/maps/";
#endif
const std::wstring kNord = L"NORD";
const std::wstring kSued = L"SUED";
// Whole seconds, as the commit sets them.
constexpr std::uint64_t kTime = 133'000'000'000'000'000ull;
constexpr std::uint64_t kSecond = 10'000'000;

std::uint32_t Adler(const std::string& data) {
  return static_cast<std::uint32_t>(
      adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::wstring Native(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'\\') c = platform::kPathSeparator;
  return path;
}

std::string TextOf(const std::wstring& path) {
  std::ifstream in(platform::FsPath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---------------------------------------------------------------------------
// The rule on its own.

// An entry of 100 bytes at "a.map" that NORD wrote at kTime, as the disk still
// holds it: every case below changes one thing.
struct RuleCase {
  const char* what;
  CopyRule rule = CopyRule::kSkipUnchanged;
  std::uint64_t entrySize = 100;
  std::optional<std::uint64_t> entryModified = kTime;
  std::uint32_t entryAdler = 0xabc;
  std::optional<package::EntryFacts::Target> target = package::EntryFacts::Target{100, kTime};
  // NORD's entry; nullopt: NORD has none.
  std::optional<RecordedFile> own = RecordedFile{kNord, L"a.map", 100, kTime, 0xabc, false};
  // SUED's entry for the same path, if any.
  std::optional<RecordedFile> other = std::nullopt;
  bool previousRunEnded = true;
  TargetCheck expected = TargetCheck::kUnchanged;
};

TEST(SkipRule, DecidesEachEntryByTheRecordTheEntryAndTheTarget) {
  const RecordedFile sued{kSued, L"a.map", 100, kTime, 0xabc, false};
  RecordedFile suedFresh = sued;
  suedFresh.fresh = true;
  RecordedFile nordFresh{kNord, L"a.map", 100, kTime, 0xabc, true};
  const std::vector<RuleCase> cases = {
      {.what = "as recorded"},
      {.what = "entry without a time", .entryModified = std::nullopt},
      {.what = "target's size changed",
       .target = package::EntryFacts::Target{99, kTime},
       .expected = TargetCheck::kWrite},
      {.what = "target's time changed",
       .target = package::EntryFacts::Target{100, kTime + kSecond},
       .expected = TargetCheck::kWrite},
      {.what = "entry of another size", .entrySize = 101, .expected = TargetCheck::kWrite},
      {.what = "entry of another time", .entryModified = kTime + 2 * kSecond, .expected = TargetCheck::kWrite},
      {.what = "entry an odd second off a time of odd seconds",
       .entryModified = kTime + 2 * kSecond,
       .target = package::EntryFacts::Target{100, kTime + 3 * kSecond},
       .own = RecordedFile{kNord, L"a.map", 100, kTime + 3 * kSecond, 0xabc, false},
       .expected = TargetCheck::kWrite},
      // A FAT volume keeps even seconds: an entry's odd second comes back one off.
      {.what = "odd second kept rounded up",
       .entryModified = kTime + kSecond,
       .target = package::EntryFacts::Target{100, kTime + 2 * kSecond},
       .own = RecordedFile{kNord, L"a.map", 100, kTime + 2 * kSecond, 0xabc, false}},
      {.what = "odd second kept rounded down", .entryModified = kTime + kSecond},
      {.what = "same size and time, other contents", .entryAdler = 0xabd, .expected = TargetCheck::kWrite},
      {.what = "recorded fresh", .own = nordFresh, .expected = TargetCheck::kCompareContent},
      {.what = "recorded fresh, target changed",
       .target = package::EntryFacts::Target{100, kTime + kSecond},
       .own = nordFresh,
       .expected = TargetCheck::kWrite},
      {.what = "no target", .target = std::nullopt, .expected = TargetCheck::kWrite},
      {.what = "write all", .rule = CopyRule::kWriteAll, .expected = TargetCheck::kWrite},
      // /repair trusts no record, only the bytes.
      {.what = "repair", .rule = CopyRule::kRepair, .expected = TargetCheck::kCompareContent},
      {.what = "repair, nothing recorded",
       .rule = CopyRule::kRepair,
       .entryAdler = 0xabd,
       .own = std::nullopt,
       .expected = TargetCheck::kCompareContent},
      {.what = "repair, size differs",
       .rule = CopyRule::kRepair,
       .target = package::EntryFacts::Target{99, kTime},
       .expected = TargetCheck::kWrite},
      {.what = "repair, no target", .rule = CopyRule::kRepair, .target = std::nullopt, .expected = TargetCheck::kWrite},
      // No entry of the package: the quick check.
      {.what = "unrecorded, same size and time", .own = std::nullopt},
      {.what = "unrecorded, another package's plain entry", .own = std::nullopt, .other = sued},
      {.what = "unrecorded, size differs",
       .target = package::EntryFacts::Target{99, kTime},
       .own = std::nullopt,
       .expected = TargetCheck::kWrite},
      {.what = "unrecorded, time differs",
       .target = package::EntryFacts::Target{100, kTime + kSecond},
       .own = std::nullopt,
       .expected = TargetCheck::kWrite},
      {.what = "unrecorded, entry without a time",
       .entryModified = std::nullopt,
       .own = std::nullopt,
       .expected = TargetCheck::kWrite},
      {.what = "unrecorded after a run that had not ended",
       .own = std::nullopt,
       .previousRunEnded = false,
       .expected = TargetCheck::kCompareContent},
      // The record knows the bytes another package left there: the quick
      // check must not take them for this entry's.
      {.what = "unrecorded, another package's entry tells other contents",
       .own = std::nullopt,
       .other = RecordedFile{kSued, L"a.map", 100, kTime, 0xdef, false},
       .expected = TargetCheck::kWrite},
      {.what = "unrecorded, another package's fresh entry",
       .own = std::nullopt,
       .other = suedFresh,
       .expected = TargetCheck::kCompareContent},
      // The package's own entry, not the quick check, decides for it.
      {.what = "recorded with other values, quick check would pass",
       .own = RecordedFile{kNord, L"a.map", 100, kTime - kSecond, 0xabc, false},
       .expected = TargetCheck::kWrite},
  };
  for (const RuleCase& c : cases) {
    InstallRecord record;
    record.destinations.push_back(RecordedDestination{kDest, {}, {}, {}});
    if (c.own) record.destinations[0].files.push_back(*c.own);
    if (c.other) record.destinations[0].files.push_back(*c.other);
    package::EntryFacts facts;
    facts.outputPath = kDest + L"a.map";
    facts.size = c.entrySize;
    facts.modified = c.entryModified;
    facts.adler32 = c.entryAdler;
    facts.target = c.target;
    EXPECT_EQ(ChooseTargetCheck(facts, c.rule, record, kDest, kNord, c.previousRunEnded), c.expected) << c.what;
  }
}

TEST(SkipRule, OnlyWriteAllLeavesTheTargetsUnlookedAt) {
  EXPECT_TRUE(ExtractOptionsFor(CopyRule::kSkipUnchanged).skipUnchanged);
  EXPECT_TRUE(ExtractOptionsFor(CopyRule::kRepair).skipUnchanged);
  EXPECT_FALSE(ExtractOptionsFor(CopyRule::kWriteAll).skipUnchanged);
  EXPECT_EQ(ExtractOptionsFor(CopyRule::kRepair).buffers.input, package::kLargeBuffers.input);
}

// ---------------------------------------------------------------------------
// Runs over an engine stand-in.

struct MapEntry {
  std::wstring path;  // below the destination, "\"-separated
  std::string content;
  std::uint64_t modified = kTime;
};

// Plays the engine's part for packages of `entries`: for each entry, the
// facts with one look at the target, the run's answer, and then the entry
// written, left or compared by size and Adler-32 and written when they
// differ. A package not `indexed` is written whole without asking.
struct EngineStandIn {
  std::map<std::wstring, std::vector<MapEntry>> packages;
  std::map<std::wstring, bool> unindexed;
  std::vector<std::wstring> written;  // relative paths, in order
  int compared = 0;

  PackageExtractor Function() {
    return [this](const std::wstring&, const std::wstring& name, const std::wstring& destination,
                  package::Observer& observer) {
      const std::vector<MapEntry>& entries = packages.at(name);
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (observer.StopRequested()) {
          package::Result stopped;
          stopped.outcome = package::Outcome::kCancelled;
          return stopped;
        }
        const MapEntry& entry = entries[i];
        package::EntryFacts facts;
        facts.outputPath = destination + Native(entry.path);
        facts.size = entry.content.size();
        facts.modified = entry.modified;
        facts.adler32 = Adler(entry.content);
        if (const std::optional<DiskFile> disk = LookAtDisk(facts.outputPath))
          facts.target = package::EntryFacts::Target{disk->size, disk->modified};
        TargetCheck check = unindexed[name] ? TargetCheck::kWrite : observer.CompareTarget(facts);
        if (check == TargetCheck::kCompareContent) {
          ++compared;
          const std::string there = TextOf(facts.outputPath);
          check = there.size() == facts.size && Adler(there) == facts.adler32 ? TargetCheck::kUnchanged
                                                                              : TargetCheck::kWrite;
          if (check == TargetCheck::kUnchanged) observer.OnEntryUnchanged(facts, true);
        } else if (check == TargetCheck::kUnchanged) {
          observer.OnEntryUnchanged(facts, false);
        }
        if (check == TargetCheck::kWrite) {
          fs::create_directories(platform::FsPath(facts.outputPath).parent_path());
          std::ofstream(platform::FsPath(facts.outputPath), std::ios::binary | std::ios::trunc) << entry.content;
          platform::SetFileTimes(facts.outputPath, platform::FileTimes{0, 0, entry.modified});
          written.push_back(entry.path);
          observer.OnEntryFinished(facts.outputPath, facts.size, facts.adler32);
        }
        const package::PackageFileRecord record = *package::PackageFileRecord::Make(entry.path, L"", 0, 0, 0);
        observer.OnProgress(static_cast<std::int32_t>((i + 1) * 100 / entries.size()), record);
      }
      return package::Result{};
    };
  }
};

// A destination, the setup's folder, a log, and the stand-in's packages:
// NORD with five files, SUED with one of its own and one it shares.
struct Machine {
  TempDir root;
  std::wstring destination = root.Folder() + L"Ziel" + platform::kPathSeparator;
  SetupPlace place{root.Folder(L"Setup")};
  TempDir logFolder;
  std::wstring logPath;
  InstallLog log;
  EngineStandIn engine;
  int entriesWritten = 0;

  Machine() {
    engine.packages[kNord] = {{L"nord\\1.tile", std::string(3000, '1')},
                              {L"nord\\2.tile", std::string(3000, '2')},
                              {L"nord\\3.tile", std::string(5000, '3'), kTime + 7 * kSecond},
                              {L"nord\\4.tile", "four"},
                              {L"legende.txt", "legend"}};
    engine.packages[kSued] = {{L"sued\\1.tile", std::string(200, 's')}, {L"legende.txt", "legend"}};
    NewLog(L"first.log");
  }
  void NewLog(const std::wstring& name) {
    logPath = logFolder.File(name);
    EXPECT_TRUE(log.Open(logPath, nullptr));
  }

  RecordKeeper Keeper() {
    RecordKeeper::Hooks hooks;
    hooks.writeEntry = [this](const InstallRecord&, const std::wstring&) {
      ++entriesWritten;
      return platform::kErrorSuccess;
    };
    return RecordKeeper(place, &log, hooks);
  }

  RunEnd Install(std::vector<std::wstring> packages, CopyRule rule, std::function<bool()> stop = {}) {
    RecordKeeper keeper = Keeper();
    return Install(keeper, std::move(packages), rule, std::move(stop));
  }
  RunEnd Install(RecordKeeper& keeper, std::vector<std::wstring> packages, CopyRule rule,
                 std::function<bool()> stop = {}) {
    engine.written.clear();
    engine.compared = 0;
    InstallationJob job;
    job.packageFolder = root.Folder(L"Karten");
    job.destinationFolder = destination;
    job.packages = std::move(packages);
    job.extract = engine.Function();
    job.record = &keeper;
    job.log = &log;
    job.copyRule = rule;
    job.stopRequested = std::move(stop);
    SilentRunView view;
    return RunInstallation(job, view);
  }

  std::wstring At(const std::wstring& relative) const { return destination + Native(relative); }
  InstallRecord Record() const {
    const RecordReading reading = ReadInstallRecord(place.Record());
    EXPECT_EQ(reading.status, RecordReading::Status::kRead) << text::ToUtf8(reading.reason);
    return reading.record;
  }
  const RecordedFile* Find(const InstallRecord& record, const std::wstring& package, const std::wstring& path) const {
    for (const RecordedFile* file : record.FilesAt(destination, Native(path)))
      if (file->package == package) return file;
    return nullptr;
  }
  std::string Logged() const { return TextOf(logPath); }
  bool Logs(const std::wstring& line) const { return Logged().find(text::ToUtf8(line)) != std::string::npos; }

  // The file keeps its size and last-write time but not its bytes, as after
  // a power cut, or a change made behind the setup's back.
  void Spoil(const std::wstring& relative) const {
    const std::wstring path = At(relative);
    platform::FileTimes times;
    ASSERT_TRUE(platform::GetFileTimes(path, &times));
    const std::string was = TextOf(path);
    std::ofstream(platform::FsPath(path), std::ios::binary | std::ios::trunc) << std::string(was.size(), '\0');
    ASSERT_TRUE(platform::SetFileTimes(path, platform::FileTimes{0, 0, times.lastWrite}));
  }
};

const std::vector<std::wstring> kNordFiles = {L"nord\\1.tile", L"nord\\2.tile", L"nord\\3.tile", L"nord\\4.tile",
                                              L"legende.txt"};

TEST(SkippingRun, ASecondRunWritesNothingLogsEveryFileUnchangedAndKeepsTheRecord) {
  Machine machine;
  ASSERT_EQ(machine.Install({kNord, kSued}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  // SUED finds the legend NORD has just written, not yet safe on the disk:
  // left as it is once its bytes checked out.
  EXPECT_EQ(machine.engine.written.size(), 6u);
  EXPECT_EQ(machine.engine.compared, 1);
  const InstallRecord first = machine.Record();
  for (const RecordedDestination& destination : first.destinations)
    for (const RecordedFile& file : destination.files)
      EXPECT_FALSE(file.fresh) << text::ToUtf8(file.path);

  machine.NewLog(L"second.log");
  ASSERT_EQ(machine.Install({kNord, kSued}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  EXPECT_TRUE(machine.engine.written.empty());
  EXPECT_EQ(machine.engine.compared, 0);
  for (const std::wstring& file : kNordFiles)
    EXPECT_TRUE(machine.Logs(L"File unchanged: " + machine.At(file))) << machine.Logged();
  EXPECT_FALSE(machine.Logs(L"File written: "));
  EXPECT_TRUE(machine.Logs(L"Package NORD: end, 0 files, 0 bytes, ")) << machine.Logged();
  EXPECT_TRUE(machine.Logs(L" s, 5 files unchanged")) << machine.Logged();
  EXPECT_EQ(machine.Record(), first);
  // The entry still names this destination as the last run's.
  EXPECT_EQ(machine.entriesWritten, 2);

  machine.NewLog(L"forced.log");
  ASSERT_EQ(machine.Install({kNord}, CopyRule::kWriteAll), RunEnd::kFinished);
  EXPECT_EQ(machine.engine.written, kNordFiles);
  EXPECT_FALSE(machine.Logs(L"File unchanged: "));
}

TEST(RepairRun, FindsAndRewritesOnlyTheFilesWhoseBytesDifferOrThatAreMissing) {
  Machine machine;
  ASSERT_EQ(machine.Install({kNord}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  machine.Spoil(L"nord\\2.tile");
  fs::remove(platform::FsPath(machine.At(L"nord\\4.tile")));
  // Same size and time: only its bytes tell.
  ASSERT_EQ(machine.Install({kNord}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  EXPECT_EQ(machine.engine.written, std::vector<std::wstring>{L"nord\\4.tile"});

  machine.Spoil(L"nord\\2.tile");
  machine.NewLog(L"repair.log");
  ASSERT_EQ(machine.Install({kNord}, CopyRule::kRepair), RunEnd::kFinished);
  EXPECT_EQ(machine.engine.compared, 5);
  EXPECT_EQ(machine.engine.written, std::vector<std::wstring>{L"nord\\2.tile"});
  EXPECT_EQ(TextOf(machine.At(L"nord\\2.tile")), std::string(3000, '2'));
  EXPECT_TRUE(machine.Logs(L"Repaired file: " + machine.At(L"nord\\2.tile"))) << machine.Logged();
  EXPECT_TRUE(machine.Logs(L"File unchanged: " + machine.At(L"nord\\1.tile")));
  EXPECT_EQ(machine.Logged().find("Repaired file: " + text::ToUtf8(machine.At(L"nord\\1.tile"))), std::string::npos);
}

TEST(RepairRun, AFileTouchedButStillRightIsTakenBackWithItsNewTime) {
  Machine machine;
  ASSERT_EQ(machine.Install({kNord}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  ASSERT_TRUE(platform::SetFileTimes(machine.At(L"legende.txt"), platform::FileTimes{0, 0, kTime + 99 * kSecond}));
  ASSERT_EQ(machine.Install({kNord}, CopyRule::kRepair), RunEnd::kFinished);
  EXPECT_TRUE(machine.engine.written.empty());
  // Else the removal would keep it as the user's.
  EXPECT_EQ(machine.Find(machine.Record(), kNord, L"legende.txt")->modified, kTime + 99 * kSecond);
}

TEST(ResumedRun, ARunCancelledHalfWayIsFinishedByTheNextWithoutRewritingWhatItCommitted) {
  Machine machine;
  ASSERT_EQ(
      machine.Install({kNord}, CopyRule::kSkipUnchanged, [&machine] { return machine.engine.written.size() >= 2; }),
      RunEnd::kCancelled);
  const InstallRecord cancelled = machine.Record();
  EXPECT_TRUE(cancelled.ended);
  ASSERT_EQ(cancelled.destinations.size(), 1u);
  ASSERT_EQ(cancelled.destinations[0].files.size(), 2u);
  EXPECT_FALSE(cancelled.destinations[0].files[0].fresh);

  ASSERT_EQ(machine.Install({kNord}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  EXPECT_EQ(machine.engine.compared, 0);
  EXPECT_EQ(machine.engine.written, (std::vector<std::wstring>{L"nord\\3.tile", L"nord\\4.tile", L"legende.txt"}));
}

TEST(ResumedRun, AKilledRunsFilesAreTrustedOnlyOnceTheirBytesCheckOut) {
  Machine machine;
  {
    // Three files saved with the package's end as fresh, two more after the
    // last save, then the process dies: no end of the run.
    RecordKeeper killed = machine.Keeper();
    killed.RunStarted(machine.destination);
    const std::vector<MapEntry>& entries = machine.engine.packages[kNord];
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::wstring path = machine.At(entries[i].path);
      fs::create_directories(platform::FsPath(path).parent_path());
      std::ofstream(platform::FsPath(path), std::ios::binary) << entries[i].content;
      ASSERT_TRUE(platform::SetFileTimes(path, platform::FileTimes{0, 0, entries[i].modified}));
      killed.FileCommitted(kNord, path, entries[i].content.size(), Adler(entries[i].content));
      if (i == 2) killed.PackageEnded();
    }
  }
  const InstallRecord left = machine.Record();
  EXPECT_FALSE(left.ended);
  ASSERT_EQ(left.destinations.at(0).files.size(), 3u);
  EXPECT_TRUE(left.destinations[0].files[1].fresh);
  // The power cut: one listed file and one unlisted lost their data.
  machine.Spoil(L"nord\\2.tile");
  machine.Spoil(L"nord\\4.tile");

  RecordKeeper next = machine.Keeper();
  ASSERT_EQ(machine.Install(next, {kNord}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  EXPECT_FALSE(next.previousRunEnded());
  EXPECT_EQ(machine.engine.compared, 5);
  EXPECT_EQ(machine.engine.written, (std::vector<std::wstring>{L"nord\\2.tile", L"nord\\4.tile"}));
  const InstallRecord resumed = machine.Record();
  EXPECT_TRUE(resumed.ended);
  ASSERT_EQ(resumed.destinations[0].files.size(), 5u);
  for (const MapEntry& entry : machine.engine.packages[kNord]) {
    const RecordedFile* file = machine.Find(resumed, kNord, entry.path);
    ASSERT_NE(file, nullptr) << text::ToUtf8(entry.path);
    EXPECT_FALSE(file->fresh) << text::ToUtf8(entry.path);
    EXPECT_EQ(file->size, entry.content.size());
    EXPECT_EQ(file->modified, entry.modified);
    EXPECT_EQ(file->adler, Adler(entry.content));
  }

  // And the run after that trusts them without reading them.
  ASSERT_EQ(machine.Install({kNord}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  EXPECT_EQ(machine.engine.compared, 0);
  EXPECT_TRUE(machine.engine.written.empty());
}

TEST(ResumedRun, FreshFilesThisRunDidNotReachStayFreshAfterItEnds) {
  Machine machine;
  {
    RecordKeeper killed = machine.Keeper();
    ASSERT_EQ(machine.Install(killed, {kNord, kSued}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  }
  // Made as a killed run leaves it.
  InstallRecord record = machine.Record();
  record.ended = false;
  for (RecordedFile& file : record.destinations[0].files)
    file.fresh = true;
  ASSERT_TRUE(WriteInstallRecord(machine.place.Record(), record, nullptr));

  RecordKeeper keeper = machine.Keeper();
  ASSERT_EQ(machine.Install(keeper, {kSued}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  const InstallRecord after = machine.Record();
  EXPECT_TRUE(after.ended);
  // SUED's bytes were read: plain files now, the shared legend for NORD too.
  EXPECT_FALSE(machine.Find(after, kSued, L"sued\\1.tile")->fresh);
  EXPECT_FALSE(machine.Find(after, kNord, L"legende.txt")->fresh);
  EXPECT_TRUE(machine.Find(after, kNord, L"nord\\1.tile")->fresh);
}

TEST(ResumedRun, TheKeeperKnowsWhetherTheRecordsLastRunEnded) {
  Machine machine;
  RecordKeeper keeper = machine.Keeper();
  keeper.RunStarted(machine.destination);
  EXPECT_TRUE(keeper.previousRunEnded());  // no record yet
  RecordKeeper second = machine.Keeper();
  second.RunStarted(machine.destination);
  EXPECT_FALSE(second.previousRunEnded());  // the first was written as going and never ended
  second.RunEnded();
  RecordKeeper third = machine.Keeper();
  third.RunStarted(machine.destination);
  EXPECT_TRUE(third.previousRunEnded());
  third.RunEnded();
  std::ofstream(platform::FsPath(machine.place.Record()), std::ios::binary | std::ios::trunc) << "garbage";
  RecordKeeper fourth = machine.Keeper();
  fourth.RunStarted(machine.destination);
  EXPECT_FALSE(fourth.previousRunEnded());
}

TEST(SkippingRun, ATreeCopiedByHandIsTakenOverByTheQuickCheckAndRecorded) {
  Machine machine;
  for (const MapEntry& entry : machine.engine.packages[kSued]) {
    const std::wstring path = machine.At(entry.path);
    fs::create_directories(platform::FsPath(path).parent_path());
    std::ofstream(platform::FsPath(path), std::ios::binary) << entry.content;
    ASSERT_TRUE(platform::SetFileTimes(path, platform::FileTimes{0, 0, entry.modified}));
  }
  ASSERT_EQ(machine.Install({kSued}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  EXPECT_TRUE(machine.engine.written.empty());
  EXPECT_EQ(machine.engine.compared, 0);
  const InstallRecord record = machine.Record();
  const RecordedFile* tile = machine.Find(record, kSued, L"sued\\1.tile");
  ASSERT_NE(tile, nullptr);
  EXPECT_EQ(tile->size, 200u);
  EXPECT_EQ(tile->modified, kTime);
  EXPECT_EQ(tile->adler, Adler(std::string(200, 's')));
  EXPECT_FALSE(tile->fresh);
  EXPECT_EQ(machine.entriesWritten, 1);
}

TEST(SkippingRun, WithoutARecordKeeperAQuickCheckIsConfirmedByTheBytes) {
  Machine machine;
  ASSERT_EQ(machine.Install({kSued}, CopyRule::kSkipUnchanged), RunEnd::kFinished);
  InstallationJob job;
  job.destinationFolder = machine.destination;
  job.packages = {kSued};
  job.extract = machine.engine.Function();
  machine.engine.written.clear();
  SilentRunView view;
  ASSERT_EQ(RunInstallation(job, view), RunEnd::kFinished);
  EXPECT_EQ(machine.engine.compared, 2);
  EXPECT_TRUE(machine.engine.written.empty());
}

// Real packages, one of them without a valid size index, on the real engine.
TEST(SkippingRun, APackageWithoutAValidSizeIndexIsSaidToBeWrittenWhole) {
  TempDir medium;
  TempDir target;
  const std::wstring karten = medium.Folder(L"Karten");
  fs::create_directories(platform::FsPath(karten));
  for (const std::wstring& name : {kNord, kSued}) {
    package::PackageWriter writer(package::BuildPackagePath(karten, name),
                                  *package::PackageHeader::Make(name, name, L"test package"));
    writer.AddData(name, L"a.tile", "tile", 4, 0, 0);
    writer.Close();
  }
  {
    // The footer's last byte: the index no longer checks out.
    std::fstream file(platform::FsPath(package::BuildPackagePath(karten, kSued)),
                      std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(-1, std::ios::end);
    file.put('?');
  }
  for (const CopyRule rule : {CopyRule::kSkipUnchanged, CopyRule::kRepair, CopyRule::kWriteAll}) {
    TempDir logFolder;
    InstallLog log;
    ASSERT_TRUE(log.Open(logFolder.File(L"run.log"), nullptr));
    InstallationJob job;
    job.packageFolder = karten;
    job.destinationFolder = target.Folder();
    job.packages = {kNord, kSued};
    job.log = &log;
    job.copyRule = rule;
    SilentRunView view;
    ASSERT_EQ(RunInstallation(job, view), RunEnd::kFinished);
    const std::string logged = TextOf(logFolder.File(L"run.log"));
    const std::string line = "Package SUED: every file is written, none checked: it has no valid size index";
    const std::size_t at = logged.find(line);
    if (rule == CopyRule::kWriteAll) {
      EXPECT_EQ(at, std::string::npos) << logged;
    } else {
      ASSERT_NE(at, std::string::npos) << logged;
      EXPECT_EQ(logged.find(line, at + 1), std::string::npos) << logged;
      EXPECT_EQ(logged.find("Package NORD: every file"), std::string::npos) << logged;
    }
    // Written without a look: nothing was repaired there.
    EXPECT_EQ(logged.find("Repaired file: " + text::ToUtf8(target.Folder() + Native(L"SUED\\a.tile"))),
              std::string::npos)
        << logged;
  }
}

}  // namespace

}  // namespace app
