// The installed maps' life after the copy: what a run records of itself, the
// entry that follows, and a removal that takes exactly what was recorded and
// is still as it was written.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/destination_check.h"
#include "app/geo_path.h"
#include "app/install_log.h"
#include "app/installation_run.h"
#include "app/installed_setup.h"
#include "app/removal_run.h"
#include "package/writer.h"
#include "platform/fs_path.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "support/temp_dir.h"
#include "tests/app/settings_sandbox.h"

namespace app {

namespace {

namespace fs = std::filesystem;

struct MapFile {
  std::wstring folder;
  std::wstring name;
  std::string content;
};

void WriteMapPackage(const std::wstring& karten, const std::wstring& name, const std::vector<MapFile>& files) {
  package::PackageWriter writer(package::BuildPackagePath(karten, name),
                                *package::PackageHeader::Make(name, name + L" title", L"test package"));
  for (const MapFile& file : files)
    writer.AddData(file.folder, file.name, file.content.data(), file.content.size(), 0, 0);
  writer.Close();
}

std::uint32_t Adler(const std::string& data) {
  return static_cast<std::uint32_t>(
      adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string TextOf(const std::wstring& path) {
  std::ifstream in(platform::FsPath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::wstring Native(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'\\') c = platform::kPathSeparator;
  return path;
}

// A medium with three packages, a destination that already holds a folder
// of the user's, a setup folder, and the program the setup copies.
struct Machine {
  TempDir root;
  std::wstring karten = root.Folder(L"Karten");
  std::wstring destination = root.Folder() + L"Ziel \u00fcber" + platform::kPathSeparator;
  SetupPlace place{root.Folder(L"Programme") + Native(L"Varnholt\\Setup\\")};
  std::wstring program = root.File(L"Tessavo.exe");
  TempDir logFolder;
  std::wstring logPath = logFolder.File(L"setup.log");
  InstallLog log;
  std::chrono::steady_clock::time_point clock{};
  std::vector<std::wstring> entriesWritten;

  Machine() {
    fs::create_directories(platform::FsPath(karten));
    fs::create_directories(platform::FsPath(destination) / "vektor");
    std::ofstream(platform::FsPath(program), std::ios::binary) << std::string("MZ\x90\0signed setup", 17);
    WriteMapPackage(karten, L"NORD",
                    {{L"vektor", L"nord.geo", "north roads"},
                     {L"raster\\z1", L"1.tile", std::string(70000, 'n')},
                     {L"", L"legende.txt", "shared legend"}});
    WriteMapPackage(karten, L"SUED",
                    {{L"raster\\z1", L"2.tile", std::string(3000, 's')}, {L"", L"legende.txt", "shared legend"}});
    EXPECT_TRUE(log.Open(logPath, nullptr));
  }

  RecordKeeper Keeper() {
    RecordKeeper::Hooks hooks;
    hooks.programPath = program;
    hooks.writeEntry = [this](const InstallRecord&, const std::wstring& where) {
      entriesWritten.push_back(where);
      return platform::kErrorSuccess;
    };
    hooks.now = [this] { return clock; };
    return RecordKeeper(place, &log, hooks);
  }

  RunEnd Install(RecordKeeper& keeper, std::vector<std::wstring> packages, std::function<bool()> stop = {}) {
    InstallationJob job;
    job.packageFolder = karten;
    job.destinationFolder = destination;
    job.packages = std::move(packages);
    job.record = &keeper;
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

  RemovalEnd Remove(std::optional<std::set<std::wstring>> packages, int* forgotten, std::function<bool()> stop = {}) {
    RemovalJob job;
    job.place = place;
    job.record = Record();
    job.packages = std::move(packages);
    job.log = &log;
    job.stopRequested = std::move(stop);
    job.forgetInstallation = [forgotten] { ++*forgotten; };
    SilentRunView view;
    return RunRemoval(job, view);
  }

  bool LogHas(const std::wstring& part) const { return TextOf(logPath).find(text::ToUtf8(part)) != std::string::npos; }
};

const RecordedFile* FindFile(const InstallRecord& record, const std::wstring& package, const std::wstring& path) {
  for (const RecordedDestination& destination : record.destinations)
    for (const RecordedFile& file : destination.files)
      if (file.package == package && file.path == path) return &file;
  return nullptr;
}

}  // namespace

TEST(InstalledMaps, ARunRecordsEachCommittedFileAsTheDiskHoldsItTheFoldersItMadeAndACopyOfTheSetup) {
  Machine machine;
  RecordKeeper keeper = machine.Keeper();
  ASSERT_EQ(machine.Install(keeper, {L"NORD", L"SUED"}), RunEnd::kFinished);

  const InstallRecord record = machine.Record();
  EXPECT_TRUE(record.ended);
  ASSERT_EQ(record.destinations.size(), 1u);
  EXPECT_EQ(record.destinations[0].root, machine.destination);
  EXPECT_EQ(record.destinations[0].files.size(), 5u);
  const RecordedFile* tile = FindFile(record, L"NORD", Native(L"raster\\z1\\1.tile"));
  ASSERT_NE(tile, nullptr);
  const std::optional<DiskFile> disk = LookAtDisk(machine.At(L"raster\\z1\\1.tile"));
  ASSERT_TRUE(disk);
  EXPECT_EQ(tile->size, 70000u);
  EXPECT_EQ(tile->modified, disk->modified);
  EXPECT_EQ(tile->adler, Adler(std::string(70000, 'n')));
  // Both packages wrote the legend: both record it.
  EXPECT_NE(FindFile(record, L"NORD", L"legende.txt"), nullptr);
  EXPECT_NE(FindFile(record, L"SUED", L"legende.txt"), nullptr);
  // "vektor" was the user's before the run.
  std::vector<std::wstring> folders;
  for (const RecordedFolder& folder : record.destinations[0].folders)
    folders.push_back(folder.package + L" " + folder.path);
  EXPECT_EQ(folders, (std::vector<std::wstring>{L"NORD raster", L"NORD " + Native(L"raster\\z1")}));

  EXPECT_EQ(TextOf(machine.place.SetupCopy()), TextOf(machine.program));
  EXPECT_EQ(machine.entriesWritten, std::vector<std::wstring>{machine.destination});
}

// Each run makes sure of the copy, but one that holds the program's bytes
// already is not written and flushed again.
TEST(InstalledMaps, TheSetupCopyIsWrittenOnlyWhenItDiffersFromTheProgram) {
  Machine machine;
  const std::wstring copy = machine.place.SetupCopy();
  const platform::FileTimes marked{0, 0, 132855446450000000ull};
  auto install = [&machine] {
    RecordKeeper keeper = machine.Keeper();
    ASSERT_EQ(machine.Install(keeper, {L"NORD"}), RunEnd::kFinished);
  };
  auto copyTime = [&copy] {
    platform::FileTimes times;
    EXPECT_TRUE(platform::GetFileTimes(copy, &times));
    return times.lastWrite;
  };
  install();
  ASSERT_TRUE(platform::SetFileTimes(copy, marked));
  install();
  EXPECT_EQ(copyTime(), marked.lastWrite);
  EXPECT_EQ(TextOf(copy), TextOf(machine.program));

  // The same size, another byte: written again.
  std::string other = TextOf(machine.program);
  other[2] = 'x';
  std::ofstream(platform::FsPath(copy), std::ios::binary | std::ios::trunc) << other;
  ASSERT_TRUE(platform::SetFileTimes(copy, marked));
  install();
  EXPECT_EQ(TextOf(copy), TextOf(machine.program));
  EXPECT_NE(copyTime(), marked.lastWrite);
}

TEST(InstalledMaps, ACancelledRunKeepsWhatItCommittedAndStillWritesTheEntry) {
  Machine machine;
  RecordKeeper keeper = machine.Keeper();
  // Asked to stop once the first package's last file is in: the second is never begun.
  const std::wstring last = machine.At(L"legende.txt");
  ASSERT_EQ(machine.Install(keeper, {L"NORD", L"SUED"}, [&last] { return fs::exists(platform::FsPath(last)); }),
            RunEnd::kCancelled);
  const InstallRecord record = machine.Record();
  EXPECT_TRUE(record.ended);
  EXPECT_EQ(record.Packages(), std::set<std::wstring>{L"NORD"});
  for (const RecordedFile& file : record.destinations[0].files)
    EXPECT_TRUE(LookAtDisk(machine.destination + file.path)) << text::ToUtf8(file.path);
  EXPECT_EQ(machine.entriesWritten.size(), 1u);
}

TEST(InstalledMaps, ALongPackageSavesTheRecordAsGoingOnceAMinuteAndTheEndMarksItEnded) {
  Machine machine;
  RecordKeeper keeper = machine.Keeper();
  keeper.RunStarted(machine.destination);
  fs::create_directories(platform::FsPath(machine.destination) / "a");
  for (int i = 0; i < 3; ++i) {
    const std::wstring file = machine.At(L"a\\" + std::to_wstring(i) + L".tile");
    std::ofstream(platform::FsPath(file)) << "tile";
    keeper.FileCommitted(L"NORD", file, 4, Adler("tile"));
    if (i == 0) {
      // Written as going when the run started, without the file yet.
      const RecordReading started = ReadInstallRecord(machine.place.Record());
      ASSERT_EQ(started.status, RecordReading::Status::kRead);
      EXPECT_FALSE(started.record.ended);
      EXPECT_TRUE(started.record.Empty());
    }
    machine.clock += std::chrono::seconds(40);
  }
  // Saved at the second file (40 s) was not due; at the third (80 s) it was.
  RecordReading going = ReadInstallRecord(machine.place.Record());
  ASSERT_EQ(going.status, RecordReading::Status::kRead);
  EXPECT_FALSE(going.record.ended);
  EXPECT_EQ(going.record.destinations[0].files.size(), 3u);
  keeper.RunEnded();
  EXPECT_TRUE(machine.Record().ended);
}

TEST(InstalledMaps, ADamagedRecordIsKeptAsideAndANewOneBegun) {
  Machine machine;
  fs::create_directories(platform::FsPath(machine.place.folder));
  std::ofstream(platform::FsPath(machine.place.Record()), std::ios::binary)
      << "Varnholt setup install record 1\r\nrun\tgo";
  RecordKeeper keeper = machine.Keeper();
  ASSERT_EQ(machine.Install(keeper, {L"SUED"}), RunEnd::kFinished);
  EXPECT_EQ(machine.Record().Packages(), std::set<std::wstring>{L"SUED"});
  int aside = 0;
  for (const auto& entry : fs::directory_iterator(platform::FsPath(machine.place.folder)))
    if (entry.path().filename().string().starts_with("InstallRecord-damaged-")) ++aside;
  EXPECT_EQ(aside, 1);
  EXPECT_TRUE(machine.LogHas(L"does not read"));
}

TEST(Removal, TakesTheRecordedUnchangedFilesAndTheEmptyFoldersItMadeAndNothingElse) {
  Machine machine;
  RecordKeeper keeper = machine.Keeper();
  ASSERT_EQ(machine.Install(keeper, {L"NORD", L"SUED"}), RunEnd::kFinished);
  // Changed since: same size, other time. A file of the user's in the setup's folder.
  const std::wstring changed = machine.At(L"vektor\\nord.geo");
  platform::FileTimes times{};
  times.lastWrite = 133000000000000000ull;
  ASSERT_TRUE(platform::SetFileTimes(changed, times));
  std::ofstream(platform::FsPath(machine.At(L"raster\\notes.txt"))) << "mine";

  int forgotten = 0;
  EXPECT_EQ(machine.Remove(std::nullopt, &forgotten), RemovalEnd::kRemoved);
  std::vector<std::string> tree = TreeOf(platform::FsPath(machine.destination));
  EXPECT_EQ(tree, (std::vector<std::string>{"raster", "raster/notes.txt", "vektor", "vektor/nord.geo"}));
  EXPECT_TRUE(machine.LogHas(L"Kept, changed since it was installed: " + changed));
  EXPECT_TRUE(machine.LogHas(L"Kept folder, not empty: " + machine.At(L"raster")));
  // Nothing left recorded: the record goes, the rest is the caller's.
  EXPECT_FALSE(fs::exists(platform::FsPath(machine.place.Record())));
  EXPECT_EQ(forgotten, 1);
}

TEST(Removal, OnePackageLeavesTheFileAnotherStillRecordsUntilItsLastPackageGoes) {
  Machine machine;
  RecordKeeper keeper = machine.Keeper();
  ASSERT_EQ(machine.Install(keeper, {L"NORD", L"SUED"}), RunEnd::kFinished);
  int forgotten = 0;
  EXPECT_EQ(machine.Remove(std::set<std::wstring>{L"NORD"}, &forgotten), RemovalEnd::kRemoved);
  EXPECT_EQ(TreeOf(platform::FsPath(machine.destination)),
            (std::vector<std::string>{"legende.txt", "raster", "raster/z1", "raster/z1/2.tile", "vektor"}));
  EXPECT_EQ(machine.Record().Packages(), std::set<std::wstring>{L"SUED"});
  EXPECT_EQ(forgotten, 0);

  EXPECT_EQ(machine.Remove(std::nullopt, &forgotten), RemovalEnd::kRemoved);
  EXPECT_EQ(TreeOf(platform::FsPath(machine.destination)), std::vector<std::string>{"vektor"});
  EXPECT_EQ(forgotten, 1);
}

TEST(Removal, ACancelLeavesARecordOfWhatIsStillThere) {
  Machine machine;
  RecordKeeper keeper = machine.Keeper();
  ASSERT_EQ(machine.Install(keeper, {L"NORD", L"SUED"}), RunEnd::kFinished);
  int asked = 0;
  int forgotten = 0;
  EXPECT_EQ(machine.Remove(std::nullopt, &forgotten, [&asked] { return ++asked > 2; }), RemovalEnd::kCancelled);
  EXPECT_EQ(ExitCodeOfRemoval(RemovalEnd::kCancelled), 1602);
  const InstallRecord rest = machine.Record();
  std::set<std::wstring> recorded;
  for (const RecordedDestination& destination : rest.destinations) {
    for (const RecordedFile& file : destination.files) {
      EXPECT_TRUE(LookAtDisk(destination.root + file.path)) << text::ToUtf8(file.path);
      recorded.insert(file.path);
    }
  }
  // Two of the four files went before the stop.
  EXPECT_EQ(recorded.size(), 2u);
  EXPECT_EQ(forgotten, 0);
  // The rest goes later, as if nothing had happened.
  EXPECT_EQ(machine.Remove(std::nullopt, &forgotten), RemovalEnd::kRemoved);
  EXPECT_EQ(TreeOf(platform::FsPath(machine.destination)), std::vector<std::string>{"vektor"});
}

TEST(Removal, TheDestinationAndTheParentsTheSetupMadeForItGoWithItsLastFileAndNoOtherFolder) {
  Machine machine;
  const std::wstring parent = machine.root.Folder() + L"neu \u00e4";
  machine.destination = parent + platform::kPathSeparator + L"Karten" + platform::kPathSeparator;
  SystemDestinationFileSystem system;
  ASSERT_TRUE(CheckDestinationFolder(machine.destination, system).passed());
  // Another check's folder is not this destination's.
  ASSERT_TRUE(CheckDestinationFolder(machine.root.Folder() + L"anderswo", system).passed());
  RecordKeeper keeper = machine.Keeper();
  ASSERT_EQ(machine.Install(keeper, {L"NORD"}), RunEnd::kFinished);
  EXPECT_EQ(machine.Record().destinations[0].made,
            (std::vector<std::wstring>{machine.destination.substr(0, machine.destination.size() - 1), parent}));

  int forgotten = 0;
  EXPECT_EQ(machine.Remove(std::nullopt, &forgotten), RemovalEnd::kRemoved);
  EXPECT_FALSE(platform::IsFolder(parent));
  EXPECT_TRUE(platform::IsFolder(machine.root.Folder() + L"anderswo"));
  EXPECT_TRUE(platform::IsFolder(machine.root.Folder()));
}

#if !defined(_WIN32)
// Windows' junctions answer to the same check; Wine makes none to test with.
TEST(Removal, NothingBehindALinkTheUserPutBelowTheDestinationGoes) {
  Machine machine;
  RecordKeeper keeper = machine.Keeper();
  ASSERT_EQ(machine.Install(keeper, {L"NORD"}), RunEnd::kFinished);
  // Moved elsewhere, times and all, with a link left in place of a folder and of a file.
  TempDir elsewhere;
  const fs::path away = platform::FsPath(elsewhere.Folder());
  fs::rename(platform::FsPath(machine.At(L"raster")), away / "raster");
  fs::create_directory_symlink(away / "raster", platform::FsPath(machine.At(L"raster")));
  fs::rename(platform::FsPath(machine.At(L"legende.txt")), away / "legende.txt");
  fs::create_symlink(away / "legende.txt", platform::FsPath(machine.At(L"legende.txt")));

  int forgotten = 0;
  EXPECT_EQ(machine.Remove(std::nullopt, &forgotten), RemovalEnd::kRemoved);
  EXPECT_EQ(TreeOf(away), (std::vector<std::string>{"legende.txt", "raster", "raster/z1", "raster/z1/1.tile"}));
  EXPECT_TRUE(fs::is_symlink(platform::FsPath(machine.At(L"raster"))));
  EXPECT_TRUE(fs::is_symlink(platform::FsPath(machine.At(L"legende.txt"))));
  EXPECT_TRUE(machine.LogHas(L"Kept, changed since it was installed: " + machine.At(L"legende.txt")));
  EXPECT_FALSE(LookAtDisk(machine.At(L"vektor\\nord.geo")));
  EXPECT_EQ(forgotten, 1);
}
#endif

#if !defined(_WIN32)
// On Windows a held file goes at the next restart instead.
TEST(Removal, AFileThatCouldNotGoKeepsTheFoldersThatHoldItRecordedForTheNextRemoval) {
  Machine machine;
  RecordKeeper keeper = machine.Keeper();
  ASSERT_EQ(machine.Install(keeper, {L"NORD"}), RunEnd::kFinished);
  int forgotten = 0;
  {
    platform::File viewer;
    ASSERT_TRUE(viewer.Open(machine.At(L"raster\\z1\\1.tile"), platform::File::Mode::kReadExclusive));
    EXPECT_EQ(machine.Remove(std::nullopt, &forgotten), RemovalEnd::kFailed);
  }
  const InstallRecord rest = machine.Record();
  std::set<std::wstring> folders;
  for (const RecordedFolder& folder : rest.destinations.at(0).folders)
    folders.insert(folder.path);
  EXPECT_EQ(folders, (std::set<std::wstring>{L"raster", Native(L"raster\\z1")}));

  EXPECT_EQ(machine.Remove(std::nullopt, &forgotten), RemovalEnd::kRemoved);
  EXPECT_EQ(TreeOf(platform::FsPath(machine.destination)), std::vector<std::string>{"vektor"});
  EXPECT_EQ(forgotten, 1);
}
#endif

TEST(Removal, ThePreviewTellsNothingInstalledAnUnknownPackageAndADamagedRecordApart) {
  Machine machine;
  EXPECT_EQ(PreviewRemoval(machine.place, std::nullopt, machine.log).exitCode, 1605);
  RecordKeeper keeper = machine.Keeper();
  ASSERT_EQ(machine.Install(keeper, {L"NORD", L"SUED"}), RunEnd::kFinished);
  EXPECT_EQ(PreviewRemoval(machine.place, std::vector<std::wstring>{L"WEST"}, machine.log).exitCode, 1605);
  EXPECT_TRUE(machine.LogHas(L"the package WEST is not recorded as installed"));

  const RemovalPreview north = PreviewRemoval(machine.place, std::vector<std::wstring>{L"nord"}, machine.log);
  EXPECT_EQ(north.exitCode, 0);
  EXPECT_EQ(north.packages, std::set<std::wstring>{L"NORD"});
  const RemovalPreview all = PreviewRemoval(machine.place, std::nullopt, machine.log);
  EXPECT_EQ(all.packageCount, 2u);
  EXPECT_EQ(all.bytes, 11u + 70000u + 13u + 3000u);  // the shared legend once
  EXPECT_EQ(RemovalQuestionText(all), L"Remove the installed maps (2 packages, " + platform::FormatByteSize(all.bytes) +
                                          L") from " + machine.destination + L"?");

  std::ofstream(platform::FsPath(machine.place.Record()), std::ios::app) << "file\tbroken\r\n";
  EXPECT_EQ(PreviewRemoval(machine.place, std::nullopt, machine.log).exitCode, 1603);
  EXPECT_TRUE(machine.LogHas(L"does not read, nothing is removed"));
}

TEST(InstalledMaps, TheEntrySaysHowToRemoveTheMapsAndGoesWithTheLastOfThem) {
  SettingsSandbox sandbox;
  Machine machine;
  InstallRecord record;
  ASSERT_TRUE(record.RecordCommitted(L"NORD", machine.destination, L"a", 1025, 1, 1));
  ASSERT_TRUE(record.RecordCommitted(L"SUED", machine.destination, L"b", 1024 * 1024, 1, 1));
  const UninstallEntry entry = MakeUninstallEntry({L"Maps", L"2.1.0", L"Varnholt"}, machine.place, record,
                                                  machine.destination, {2026, 3, 7, 0, 0, 0, 0});
  EXPECT_EQ(entry.uninstallString, L"\"" + machine.place.SetupCopy() + L"\" /uninstall");
  EXPECT_EQ(entry.quietUninstallString, L"\"" + machine.place.SetupCopy() + L"\" /uninstall /quiet");
  EXPECT_EQ(entry.estimatedSizeKiB, 1026u);  // 1 KiB and a byte rounds up
  EXPECT_EQ(entry.installDate, L"20260307");
  EXPECT_EQ(entry.installLocation, machine.destination);
  ASSERT_EQ(WriteUninstallEntry(entry), platform::kErrorSuccess);

  platform::SettingsKey key;
  ASSERT_EQ(key.OpenOrCreate(kUninstallKeyPath), platform::kErrorSuccess);
  std::uint32_t size = 0;
  std::uint32_t bytes = sizeof size;
  ASSERT_EQ(key.QueryValue(L"EstimatedSize", &size, &bytes), platform::kErrorSuccess);
  EXPECT_EQ(size, 1026u);
  key.Close();

  // The setup copy that is not the running program goes at once, with its folders.
  fs::create_directories(platform::FsPath(machine.place.folder));
  std::ofstream(platform::FsPath(machine.place.SetupCopy())) << "copy";
  ASSERT_TRUE(WriteGeoPathValue(machine.destination));
  ForgetInstallation(machine.place, machine.program, machine.log);
  EXPECT_FALSE(ReadGeoPathValue());
  EXPECT_FALSE(fs::exists(platform::FsPath(machine.place.folder).parent_path().parent_path()));
  ASSERT_EQ(key.OpenOrCreate(kUninstallKeyPath), platform::kErrorSuccess);
  bytes = sizeof size;
  EXPECT_NE(key.QueryValue(L"EstimatedSize", &size, &bytes), platform::kErrorSuccess);
}

}  // namespace app
