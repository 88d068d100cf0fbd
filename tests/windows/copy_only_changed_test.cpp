// Copying only what changed, as an administrator meets it on media nwq made:
// a second quiet run over an unchanged install, /repair over a damaged one,
// /force, and runs that go on where a cancelled or a killed one stopped.
#include <gtest/gtest.h>

#include <windows.h>
#include <prsht.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "end_to_end_support.h"
#include "remote_wizard.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A run over a tree of some hundred kilobytes on a machine other tests keep busy.
constexpr std::chrono::milliseconds kRunLimit{180000};

struct MapPackage {
  std::wstring name;
  std::wstring title;
  std::vector<PackageFile> files;
};

// Listed by title in this order. Bayern and Chiemgau both carry the legend,
// built from the same file. The large files take the engine several chunks,
// the empty one none.
const std::wstring kLegend = L"gemeinsam\\legende.dat";
const std::vector<MapPackage> kMaps = {
    {L"PKG-A",
     L"Alpen",
     {{L"alpen\\nord", L"a1.txt", Bytes("alpen nord")},
      {L"alpen\\nord", L"a2.dat", RandomBytes(300000, 1)},
      {L"alpen", L"leer.txt", {}}}},
    {L"PKG-B",
     L"Bayern",
     {{L"bayern", L"b1.dat", RandomBytes(200000, 2)},
      {L"bayern\\tief", L"t.txt", Bytes("tief")},
      {L"gemeinsam", L"legende.dat", RandomBytes(3000, 3)}}},
    {L"PKG-C",
     L"Chiemgau",
     {{L"chiemgau", L"c.txt", Bytes(std::string(100000, 'c'))}, {L"gemeinsam", L"legende.dat", RandomBytes(3000, 3)}}},
};

// Six small packages for the runs that are stopped: PKG-1 to PKG-6, in this
// order by title, each with a file of some chunks and a small one.
std::vector<MapPackage> ManySmallPackages() {
  std::vector<MapPackage> packages;
  for (unsigned n = 1; n <= 6; ++n) {
    const std::wstring number = std::to_wstring(n);
    packages.push_back({L"PKG-" + number,
                        L"Karte " + number,
                        {{L"karten\\" + number, L"gross.dat", RandomBytes(40000, 10 + n)},
                         {L"karten\\" + number, L"klein.txt", Bytes("karte " + std::to_string(n))}}});
  }
  return packages;
}

void AddPackages(Medium& medium, const std::vector<MapPackage>& packages) {
  // One time for all: the legend's two entries agree on it.
  for (const MapPackage& package : packages)
    ASSERT_TRUE(medium.Create(package.name, package.title, package.files, kStoredTime)) << Utf8(package.name);
}

// Each case starts without a record: what earlier cases left in it would
// decide what its runs write.
struct NothingInstalled {
  NothingInstalled() { ForgetTheInstalledMaps(); }
  ~NothingInstalled() { ForgetTheInstalledMaps(); }
  NothingInstalled(const NothingInstalled&) = delete;
  NothingInstalled& operator=(const NothingInstalled&) = delete;
};

// A destination with a blank in its name, the logs beside it.
struct Place : ScratchFolder {
  const std::wstring destination = Folder(L"Digital Maps");
  const fs::path root{destination};
  fs::path Log(const std::wstring& name) const { return path() / (name + L".log"); }
  std::wstring Line(const fs::path& log, const std::wstring& switches = L"") const {
    return L"/quiet" + switches + L" /dir=" + Quoted(destination) + L" /log=" + Quoted(log.wstring());
  }
  std::string FullPath(const std::wstring& relative) const { return Utf8(destination + relative); }
};

std::wstring Relative(const PackageFile& file) { return file.folder + L"\\" + file.name; }

// Each file the packages install, with the contents the last of them gives it.
std::map<std::wstring, std::vector<std::uint8_t>> Expected(const std::vector<MapPackage>& packages) {
  std::map<std::wstring, std::vector<std::uint8_t>> files;
  for (const MapPackage& package : packages)
    for (const PackageFile& file : package.files)
      files[Relative(file)] = file.content;
  return files;
}

// The full path of every entry of the packages, once per package that
// carries it, as a run logs them: sorted.
std::vector<std::string> EveryEntry(const Place& place, const std::vector<MapPackage>& packages) {
  std::vector<std::string> paths;
  for (const MapPackage& package : packages)
    for (const PackageFile& file : package.files)
      paths.push_back(place.FullPath(Relative(file)));
  std::sort(paths.begin(), paths.end());
  return paths;
}

// One of `paths` taken out for each of `gone`.
std::vector<std::string> Without(std::vector<std::string> paths, const std::vector<std::string>& gone) {
  for (const std::string& path : gone) {
    if (const auto found = std::find(paths.begin(), paths.end(), path); found != paths.end()) paths.erase(found);
  }
  return paths;
}

// The paths of the log's lines that begin (after the time) with `kind`,
// sorted; "File written: " lines lose their byte count.
std::vector<std::string> Logged(const std::vector<std::string>& lines, const std::string& kind) {
  std::vector<std::string> paths;
  for (const std::string& line : lines) {
    const std::size_t at = line.find(kind);
    if (at == std::string::npos) continue;
    std::string path = line.substr(at + kind.size());
    if (const std::size_t count = path.rfind(" ("); count != std::string::npos && kind == "File written: ")
      path.resize(count);
    paths.push_back(path);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

const std::string kUnchanged = "File unchanged: ";
const std::string kWritten = "File written: ";
const std::string kRepaired = "Repaired file: ";

// A file as the disk holds it. Under Wine the index is the file's inode: a
// file written again is a new file moved over the old one, with an index of
// its own. The change time moves with any change to the file, its times and
// attributes included.
struct OnDisk {
  std::uint64_t index = 0;
  std::uint64_t written = 0;
  std::uint64_t changed = 0;
  std::vector<std::uint8_t> bytes;
};

std::optional<OnDisk> Look(const fs::path& path) {
  const UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  FILE_BASIC_INFO basic{};
  if (!file.IsValid() || !::GetFileInformationByHandle(file.Get(), &information) ||
      !::GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof(basic))) {
    return std::nullopt;
  }
  OnDisk onDisk;
  onDisk.index = (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  onDisk.written = (static_cast<std::uint64_t>(information.ftLastWriteTime.dwHighDateTime) << 32) |
                   information.ftLastWriteTime.dwLowDateTime;
  onDisk.changed = static_cast<std::uint64_t>(basic.ChangeTime.QuadPart);
  onDisk.bytes = ReadAll(path);
  return onDisk;
}

using Snapshot = std::map<std::wstring, OnDisk>;

Snapshot Take(const Place& place, const std::map<std::wstring, std::vector<std::uint8_t>>& files) {
  Snapshot snapshot;
  for (const auto& [relative, content] : files) {
    if (const std::optional<OnDisk> onDisk = Look(place.root / relative)) snapshot[relative] = *onDisk;
  }
  return snapshot;
}

// The file is the one it was, untouched.
void ExpectUntouched(const Place& place, const std::wstring& relative, const OnDisk& before) {
  SCOPED_TRACE(Utf8(relative));
  const std::optional<OnDisk> now = Look(place.root / relative);
  ASSERT_TRUE(now.has_value()) << "gone";
  EXPECT_EQ(now->index, before.index) << "another file in its place";
  EXPECT_EQ(now->written, before.written);
  EXPECT_EQ(now->changed, before.changed) << "changed in place";
  EXPECT_TRUE(now->bytes == before.bytes) << "other contents";
}

// The tree is exactly the packages' files, each with its contents.
void ExpectTheInstalledTree(const Place& place, const std::vector<MapPackage>& packages) {
  const std::map<std::wstring, std::vector<std::uint8_t>> files = Expected(packages);
  std::vector<std::string> expected;
  for (const auto& [relative, content] : files) {
    std::wstring generic = relative;
    std::replace(generic.begin(), generic.end(), L'\\', L'/');
    for (std::size_t cut = generic.find(L'/'); cut != std::wstring::npos; cut = generic.find(L'/', cut + 1))
      expected.push_back(Utf8(generic.substr(0, cut)));
    expected.push_back(Utf8(generic));
    EXPECT_TRUE(ReadAll(place.root / relative) == content) << Utf8(relative);
  }
  std::sort(expected.begin(), expected.end());
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
  EXPECT_EQ(TreeOf(place.root), expected) << "nothing else, no temporary file left";
}

std::vector<std::string> RecordLines() { return LogLines(InstallRecordPath()); }

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  for (std::size_t start = 0;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// The record's lines of this kind ("file" or "fresh") as "PACKAGE\tPATH", sorted.
std::vector<std::string> Recorded(const std::vector<std::string>& record, const std::string& kind) {
  std::vector<std::string> files;
  for (const std::string& line : record) {
    // kind, package, size, time, Adler-32, path
    const std::vector<std::string> fields = Fields(line);
    if (fields.size() == 6 && fields[0] == kind) files.push_back(fields[1] + "\t" + fields[5]);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> EveryRecordedFile(const std::vector<MapPackage>& packages) {
  std::vector<std::string> files;
  for (const MapPackage& package : packages)
    for (const PackageFile& file : package.files)
      files.push_back(Utf8(package.name) + "\t" + Utf8(Relative(file)));
  std::sort(files.begin(), files.end());
  return files;
}

// Every file listed as a plain file, for the run that has ended.
void ExpectTheRecordListsEveryFile(const std::vector<MapPackage>& packages) {
  const std::vector<std::string> record = RecordLines();
  EXPECT_GE(LineWith(record, "run\tended"), 0) << Joined(record);
  EXPECT_EQ(Recorded(record, "file"), EveryRecordedFile(packages)) << Joined(record);
  EXPECT_TRUE(Recorded(record, "fresh").empty()) << Joined(record);
}

std::vector<std::string> RunQuiet(const Medium& medium, const Place& place, const std::wstring& name,
                                  const std::wstring& switches = L"") {
  const fs::path log = place.Log(name);
  const Ended ended = RunToTheEnd(medium, place.Line(log, switches), kRunLimit);
  std::vector<std::string> lines = LogLines(log);
  EXPECT_EQ(ended.code, kSuccess) << Utf8(name) << "\n" << Joined(lines);
  EXPECT_FALSE(ended.sawWindow);
  return lines;
}

// The byte in the middle turned over, the file's size and last-write time kept.
void DamageKeepingSizeAndTime(const fs::path& path) {
  const std::optional<OnDisk> before = Look(path);
  ASSERT_TRUE(before.has_value()) << path;
  std::vector<std::uint8_t> bytes = before->bytes;
  ASSERT_FALSE(bytes.empty());
  bytes[bytes.size() / 2] ^= 0xFF;
  WriteAll(path, bytes);
  ASSERT_TRUE(SetWriteTime(path, before->written));
  ASSERT_EQ(Look(path)->written, before->written);
}

// Zeroes the file's data, as a power cut leaves a file new to the disk
// whose size and times were written but not its data.
void ZeroKeepingSizeAndTime(const fs::path& path) {
  const std::optional<OnDisk> before = Look(path);
  ASSERT_TRUE(before.has_value()) << path;
  WriteAll(path, std::vector<std::uint8_t>(before->bytes.size(), 0));
  ASSERT_TRUE(SetWriteTime(path, before->written));
}

// The record without its fresh line for `relative` of `package`.
void DropFromTheRecord(const std::wstring& package, const std::wstring& relative) {
  const std::vector<std::string> lines = RecordLines();
  std::string kept;
  int dropped = 0;
  for (const std::string& line : lines) {
    const std::vector<std::string> fields = Fields(line);
    if (fields.size() == 6 && fields[0] == "fresh" && fields[1] == Utf8(package) && fields[5] == Utf8(relative)) {
      ++dropped;
      continue;
    }
    kept += line;
    kept += "\r\n";
  }
  ASSERT_EQ(dropped, 1) << Joined(lines);
  WriteAll(InstallRecordPath(), std::vector<std::uint8_t>(kept.begin(), kept.end()));
}

}  // namespace

TEST(CopyOnlyChanged, ASecondQuietRunLeavesEveryFileAsItWas) {
  NothingInstalled nothing;
  Medium medium;
  ASSERT_NO_FATAL_FAILURE(AddPackages(medium, kMaps));
  Place place;
  const std::vector<std::string> first = RunQuiet(medium, place, L"first");
  // Chiemgau finds the legend Bayern has just written.
  ASSERT_EQ(Logged(first, kWritten), Without(EveryEntry(place, kMaps), {place.FullPath(kLegend)})) << Joined(first);
  ASSERT_EQ(Logged(first, kUnchanged), std::vector<std::string>{place.FullPath(kLegend)}) << Joined(first);
  const Snapshot before = Take(place, Expected(kMaps));
  ASSERT_EQ(before.size(), Expected(kMaps).size());

  const std::vector<std::string> second = RunQuiet(medium, place, L"second");
  EXPECT_EQ(Logged(second, kUnchanged), EveryEntry(place, kMaps)) << Joined(second);
  EXPECT_TRUE(Logged(second, kWritten).empty()) << Joined(second);
  EXPECT_EQ(LineWith(second, "no valid size index"), -1) << "nwq writes one";
  EXPECT_GE(LineWith(second, "Package PKG-A: end, 0 files, 0 bytes"), 0) << Joined(second);
  for (const auto& [relative, onDisk] : before)
    ExpectUntouched(place, relative, onDisk);
  ExpectTheRecordListsEveryFile(kMaps);
  ExpectTheLogEndsWithExitCode(second, kSuccess);
}

// The next medium as map updates come: a tile rebuilt with the same size
// and time but other bytes, one grown, one new; the rest as before.
TEST(CopyOnlyChanged, AnUpdatedMediumWritesOnlyWhatItChanged) {
  NothingInstalled nothing;
  Medium medium;
  ASSERT_NO_FATAL_FAILURE(AddPackages(medium, kMaps));
  Place place;
  RunQuiet(medium, place, L"first");
  const Snapshot before = Take(place, Expected(kMaps));

  std::vector<MapPackage> updated = kMaps;
  std::vector<std::uint8_t>& rebuilt = updated[0].files[1].content;  // alpen\nord\a2.dat
  rebuilt[rebuilt.size() / 3] ^= 0x5A;
  updated[1].files[0].content.push_back(0x42);  // bayern\b1.dat
  updated[2].files.push_back({L"chiemgau", L"neu.txt", Bytes("neu")});
  Medium next;
  ASSERT_NO_FATAL_FAILURE(AddPackages(next, updated));

  const std::vector<std::string> update = RunQuiet(next, place, L"update");
  std::vector<std::string> changed = {place.FullPath(L"alpen\\nord\\a2.dat"), place.FullPath(L"bayern\\b1.dat"),
                                      place.FullPath(L"chiemgau\\neu.txt")};
  std::sort(changed.begin(), changed.end());
  EXPECT_EQ(Logged(update, kWritten), changed) << Joined(update);
  EXPECT_EQ(Logged(update, kUnchanged), Without(EveryEntry(place, updated), changed)) << Joined(update);
  ExpectTheInstalledTree(place, updated);
  for (const auto& [relative, onDisk] : before) {
    if (std::find(changed.begin(), changed.end(), place.FullPath(relative)) == changed.end())
      ExpectUntouched(place, relative, onDisk);
  }
  ExpectTheRecordListsEveryFile(updated);
}

// A tree installed before the record existed, or copied by hand: files of
// their entries' size and time are left, and recorded so that the removal
// takes them; the folders, found there, are not the setup's.
TEST(CopyOnlyChanged, ATreeTheRecordDoesNotKnowIsLeftAndRecordedForTheRemoval) {
  NothingInstalled nothing;
  Medium medium;
  ASSERT_NO_FATAL_FAILURE(AddPackages(medium, kMaps));
  Place place;
  RunQuiet(medium, place, L"first");
  ForgetTheInstalledMaps();
  ASSERT_FALSE(fs::exists(InstallRecordPath()));
  const Snapshot before = Take(place, Expected(kMaps));

  const std::vector<std::string> second = RunQuiet(medium, place, L"second");
  EXPECT_EQ(Logged(second, kUnchanged), EveryEntry(place, kMaps)) << Joined(second);
  EXPECT_TRUE(Logged(second, kWritten).empty()) << Joined(second);
  for (const auto& [relative, onDisk] : before)
    ExpectUntouched(place, relative, onDisk);
  ExpectTheRecordListsEveryFile(kMaps);

  const Ended removal =
      RunToTheEnd(medium, L"/uninstall /quiet /log=" + Quoted(place.Log(L"removal").wstring()), kRunLimit);
  EXPECT_EQ(removal.code, kSuccess) << Joined(LogLines(place.Log(L"removal")));
  // Its folders were there before the run: not the setup's to remove.
  EXPECT_EQ(TreeOf(place.root),
            (std::vector<std::string>{"alpen", "alpen/nord", "bayern", "bayern/tief", "chiemgau", "gemeinsam"}));
  // The setup copy goes by a helper of its own once the removal has ended.
  EXPECT_TRUE(WaitUntil([] { return !fs::exists(InstallRecordPath().parent_path()); }, std::chrono::seconds(30)));
}

TEST(CopyOnlyChanged, RepairRewritesTheDamagedAndTheMissingFileAndLeavesTheRest) {
  NothingInstalled nothing;
  Medium medium;
  ASSERT_NO_FATAL_FAILURE(AddPackages(medium, kMaps));
  Place place;
  RunQuiet(medium, place, L"first");
  const std::wstring damaged = L"alpen\\nord\\a2.dat";
  const std::wstring missing = L"bayern\\tief\\t.txt";
  ASSERT_NO_FATAL_FAILURE(DamageKeepingSizeAndTime(place.root / damaged));
  ASSERT_TRUE(fs::remove(place.root / missing));

  // A plain run trusts size and time: the damaged file passes; the missing
  // one is simply written.
  const std::vector<std::string> plain = RunQuiet(medium, place, L"plain");
  EXPECT_EQ(Logged(plain, kWritten), std::vector<std::string>{place.FullPath(missing)}) << Joined(plain);
  EXPECT_EQ(Logged(plain, kUnchanged), Without(EveryEntry(place, kMaps), {place.FullPath(missing)}));
  EXPECT_TRUE(Logged(plain, kRepaired).empty()) << Joined(plain);
  EXPECT_FALSE(ReadAll(place.root / damaged) == RandomBytes(300000, 1)) << "still damaged";

  ASSERT_TRUE(fs::remove(place.root / missing));
  Snapshot rest = Take(place, Expected(kMaps));
  rest.erase(damaged);
  const std::vector<std::string> repair = RunQuiet(medium, place, L"repair", L" /repair");
  std::vector<std::string> repaired = {place.FullPath(damaged), place.FullPath(missing)};
  std::sort(repaired.begin(), repaired.end());
  EXPECT_EQ(Logged(repair, kRepaired), repaired) << Joined(repair);
  EXPECT_EQ(Logged(repair, kWritten), repaired) << Joined(repair);
  EXPECT_EQ(Logged(repair, kUnchanged), Without(EveryEntry(place, kMaps), repaired)) << Joined(repair);
  ExpectTheInstalledTree(place, kMaps);
  for (const auto& [relative, onDisk] : rest)
    ExpectUntouched(place, relative, onDisk);
  ExpectTheRecordListsEveryFile(kMaps);
  ExpectTheLogEndsWithExitCode(repair, kSuccess);
}

TEST(CopyOnlyChanged, ForceWritesEveryFileAgain) {
  NothingInstalled nothing;
  Medium medium;
  ASSERT_NO_FATAL_FAILURE(AddPackages(medium, kMaps));
  Place place;
  RunQuiet(medium, place, L"first");
  const Snapshot before = Take(place, Expected(kMaps));

  const std::vector<std::string> forced = RunQuiet(medium, place, L"forced", L" /force");
  EXPECT_EQ(Logged(forced, kWritten), EveryEntry(place, kMaps)) << Joined(forced);
  EXPECT_EQ(LineWith(forced, kUnchanged), -1) << Joined(forced);
  EXPECT_EQ(LineWith(forced, kRepaired), -1) << Joined(forced);
  ExpectTheInstalledTree(place, kMaps);
  // What tells the first test's untouched files from written ones: a new
  // file, changed since. The legend is written twice, and the second file may
  // get back the number the first one freed.
  for (const auto& [relative, onDisk] : before) {
    SCOPED_TRACE(Utf8(relative));
    const std::optional<OnDisk> now = Look(place.root / relative);
    ASSERT_TRUE(now.has_value());
    EXPECT_NE(now->changed, onDisk.changed);
    if (relative != kLegend) {
      EXPECT_NE(now->index, onDisk.index);
    }
  }
  ExpectTheRecordListsEveryFile(kMaps);
}

TEST(CopyOnlyChanged, AQuietRunAfterACancelledOneWritesOnlyWhatThatOneHadNot) {
  NothingInstalled nothing;
  Medium medium("TESSAVO_PACED_EXE");
  const std::vector<MapPackage> packages = ManySmallPackages();
  ASSERT_NO_FATAL_FAILURE(AddPackages(medium, packages));
  Place place;
  const fs::path cancelledLog = place.Log(L"cancelled");
  {
    PacedCopy paced;
    RemoteWizard wizard(medium.Program(),
                        L"/passive /dir=" + Quoted(place.destination) + L" /log=" + Quoted(cancelledLog.wstring()));
    ASSERT_TRUE(wizard.started());
    // Half way, inside a package: once its first file is in place.
    const std::string halfWay = kWritten + place.FullPath(L"karten\\3\\gross.dat");
    ASSERT_TRUE(WaitUntil([&] { return LineWith(LogLines(cancelledLog), halfWay) >= 0; }, std::chrono::seconds(120)))
        << Joined(LogLines(cancelledLog));
    wizard.Press(PSBTN_CANCEL);
    HWND box = wizard.WaitForDialog(std::chrono::seconds(30));
    ASSERT_NE(box, nullptr);
    RemoteWizard::AnswerDialog(box, IDYES);
    EXPECT_EQ(wizard.WaitForExit(std::chrono::seconds(60)), kUserCancel);
  }
  const std::vector<std::string> cancelled = LogLines(cancelledLog);
  const std::vector<std::string> committed = Logged(cancelled, kWritten);
  ASSERT_GE(committed.size(), 5u) << Joined(cancelled);
  ASSERT_LT(committed.size(), EveryEntry(place, packages).size()) << "the Cancel came too late\n" << Joined(cancelled);
  const Snapshot before = Take(place, Expected(packages));

  const std::vector<std::string> resumed = RunQuiet(medium, place, L"resumed");
  EXPECT_EQ(Logged(resumed, kUnchanged), committed) << Joined(resumed);
  EXPECT_EQ(Logged(resumed, kWritten), Without(EveryEntry(place, packages), committed)) << Joined(resumed);
  ExpectTheInstalledTree(place, packages);
  for (const auto& [relative, onDisk] : before) {
    if (std::find(committed.begin(), committed.end(), place.FullPath(relative)) != committed.end())
      ExpectUntouched(place, relative, onDisk);
  }
  ExpectTheRecordListsEveryFile(packages);
}

// Killed as a crash or a power cut ends it: the record says the run was
// going and lists what it had committed by its last save as fresh. Such a
// file is trusted only when its bytes check out, and so is one on the disk
// that the record does not list (committed after the last save).
TEST(CopyOnlyChanged, AfterAKilledRunItsFilesAreCheckedByTheirContent) {
  NothingInstalled nothing;
  Medium medium("TESSAVO_PACED_EXE");
  const std::vector<MapPackage> packages = ManySmallPackages();
  ASSERT_NO_FATAL_FAILURE(AddPackages(medium, packages));
  Place place;
  {
    PacedCopy paced;
    RemoteWizard wizard(medium.Program(), L"/passive /dir=" + Quoted(place.destination));
    ASSERT_TRUE(wizard.started());
    // Saved after each package.
    ASSERT_TRUE(WaitUntil([] { return Recorded(RecordLines(), "fresh").size() >= 4; }, std::chrono::seconds(120)))
        << Joined(RecordLines());
    ASSERT_TRUE(wizard.Kill());
  }
  const std::vector<std::string> record = RecordLines();
  ASSERT_GE(LineWith(record, "run\tgoing"), 0) << Joined(record);
  const std::vector<std::string> fresh = Recorded(record, "fresh");
  ASSERT_LT(fresh.size(), EveryRecordedFile(packages).size()) << "the run ended before it was killed";
  for (const char* file : {"PKG-1\tkarten\\1\\gross.dat", "PKG-1\tkarten\\1\\klein.txt", "PKG-2\tkarten\\2\\gross.dat",
                           "PKG-2\tkarten\\2\\klein.txt"})
    ASSERT_NE(std::find(fresh.begin(), fresh.end(), file), fresh.end()) << file << "\n" << Joined(record);

  const std::wstring zeroed = L"karten\\1\\gross.dat";
  const std::wstring unlisted = L"karten\\2\\gross.dat";
  const std::wstring intact = L"karten\\1\\klein.txt";
  ASSERT_NO_FATAL_FAILURE(ZeroKeepingSizeAndTime(place.root / zeroed));
  ASSERT_NO_FATAL_FAILURE(ZeroKeepingSizeAndTime(place.root / unlisted));
  ASSERT_NO_FATAL_FAILURE(DropFromTheRecord(L"PKG-2", unlisted));
  const std::optional<OnDisk> intactBefore = Look(place.root / intact);
  ASSERT_TRUE(intactBefore.has_value());

  const std::vector<std::string> next = RunQuiet(medium, place, L"next");
  const std::vector<std::string> written = Logged(next, kWritten);
  const std::vector<std::string> unchanged = Logged(next, kUnchanged);
  for (const std::wstring& rewritten : {zeroed, unlisted}) {
    EXPECT_NE(std::find(written.begin(), written.end(), place.FullPath(rewritten)), written.end())
        << Utf8(rewritten) << "\n"
        << Joined(next);
  }
  EXPECT_NE(std::find(unchanged.begin(), unchanged.end(), place.FullPath(intact)), unchanged.end()) << Joined(next);
  std::vector<std::string> every = written;
  every.insert(every.end(), unchanged.begin(), unchanged.end());
  std::sort(every.begin(), every.end());
  EXPECT_EQ(every, EveryEntry(place, packages)) << "each entry once, written or left\n" << Joined(next);
  ExpectTheInstalledTree(place, packages);
  ExpectUntouched(place, intact, *intactBefore);
  ExpectTheRecordListsEveryFile(packages);
}
