// The install record: its text, a damaged one read safely, how runs update
// it, and what a removal may take.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "app/install_record.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace app {

namespace {

#if defined(_WIN32)
const std::wstring kMaps = L"D:\\Karten \u00fcber \u6f22\u5b57\\";
const std::wstring kMore = L"\\\\server\\share\\Maps\\";
const std::wstring kSep = L"\\";
#else
const std::wstring kMaps = L"/mnt/Karten \u00fcber \u6f22\u5b57/";
const std::wstring kMore = L"/srv/share/Maps/";
const std::wstring kSep = L"/";
#endif
const std::wstring kNorth = L"{11111111-1111-1111-1111-111111111111}";
const std::wstring kSouth = L"{22222222-2222-2222-2222-222222222222}";

std::wstring Rel(const std::wstring& a, const std::wstring& b) { return a + kSep + b; }

// A record of two packages in two destinations, sharing one file.
InstallRecord TwoPackages() {
  InstallRecord record;
  EXPECT_TRUE(record.RecordFolderCreated(kNorth, kMaps, L"Nord"));
  EXPECT_TRUE(record.RecordFolderCreated(kNorth, kMaps, Rel(L"Nord", L"Stra\u00dfen \U0001F5FA")));
  EXPECT_TRUE(record.RecordCommitted(kNorth, kMaps, Rel(Rel(L"Nord", L"Stra\u00dfen \U0001F5FA"), L"k\u00f6ln.map"),
                                     1234, 133000000000000000ull, 0xdeadbeef));
  EXPECT_TRUE(record.RecordCommitted(kNorth, kMaps, L"legend.txt", 0, 133000000000000001ull, 1));
  EXPECT_TRUE(record.RecordCommitted(kSouth, kMaps, L"legend.txt", 0, 133000000000000001ull, 1));
  EXPECT_TRUE(record.RecordCommitted(kSouth, kMore, L"s\u00fcd.map", 99, 133000000000000002ull, 0x00010001));
  return record;
}

// A disk that holds exactly what the record says, unless told otherwise.
struct FakeDisk {
  std::map<std::wstring, DiskFile> files;
  std::set<std::wstring> asked;
  explicit FakeDisk(const InstallRecord& record) {
    for (const RecordedDestination& destination : record.destinations) {
      for (const RecordedFile& file : destination.files) {
        files[destination.root + file.path] = DiskFile{file.size, file.modified};
      }
    }
  }
  DiskLook Look() {
    return [this](const std::wstring& path) -> std::optional<DiskFile> {
      asked.insert(path);
      auto found = files.find(path);
      if (found == files.end()) return std::nullopt;
      return found->second;
    };
  }
};

std::vector<std::wstring> Paths(const std::vector<PlannedRemoval>& removals) {
  std::vector<std::wstring> paths;
  for (const PlannedRemoval& removal : removals)
    paths.push_back(removal.path);
  return paths;
}

}  // namespace

TEST(InstallRecordText, ReadsBackWhatItWroteWithNonAsciiPathsAndTwoDestinations) {
  InstallRecord record = TwoPackages();
  const std::wstring root = kMaps.substr(0, kMaps.size() - 1);
  ASSERT_TRUE(record.RecordDestinationMade(kMaps, root));
  record.ended = true;
  const std::string text = SerializeInstallRecord(record);
  EXPECT_EQ(text.substr(0, 42), "Varnholt setup install record 1\r\nrun\tended");
  const RecordReading reading = ParseInstallRecord(text);
  ASSERT_EQ(reading.status, RecordReading::Status::kRead) << reading.line << " " << text::ToUtf8(reading.reason);
  EXPECT_EQ(reading.record, record);
  ASSERT_EQ(reading.record.destinations.size(), 2u);

  record.ended = false;
  EXPECT_FALSE(ParseInstallRecord(SerializeInstallRecord(record)).record.ended);

  // An administrator's editor may save it with bare line ends.
  std::string unix;
  for (char c : text) {
    if (c != '\r') unix += c;
  }
  EXPECT_EQ(ParseInstallRecord(unix).record, reading.record);
  // Or with the byte-order mark Notepad puts before UTF-8.
  EXPECT_EQ(ParseInstallRecord("\xEF\xBB\xBF" + text).record, reading.record);
}

TEST(InstallRecordText, RefusesNamesItCouldNotWriteOrThatLeadOutOfTheDestination) {
  InstallRecord record;
  EXPECT_FALSE(record.RecordCommitted(kNorth, kMaps, L"a\tb", 1, 1, 1));
  EXPECT_FALSE(record.RecordCommitted(kNorth, kMaps, L"a\nb", 1, 1, 1));
  EXPECT_FALSE(record.RecordCommitted(kNorth, kMaps, Rel(L"..", L"evil"), 1, 1, 1));
  EXPECT_FALSE(record.RecordCommitted(kNorth, kMaps, kSep + L"abs", 1, 1, 1));
  EXPECT_FALSE(record.RecordCommitted(kNorth, kMaps, L"", 1, 1, 1));
  EXPECT_FALSE(record.RecordCommitted(L"", kMaps, L"a", 1, 1, 1));
  EXPECT_FALSE(record.RecordCommitted(kNorth, L"relative" + kSep, L"a", 1, 1, 1));
  EXPECT_FALSE(record.RecordFolderCreated(kNorth, kMaps, L"."));
#if defined(_WIN32)
  // Windows drops a name's trailing dots and blanks, so these may climb too,
  // as the packages' own names are refused.
  EXPECT_FALSE(record.RecordCommitted(kNorth, kMaps, Rel(L".. ", L"evil"), 1, 1, 1));
  EXPECT_FALSE(record.RecordCommitted(kNorth, kMaps, Rel(L"...", L"evil"), 1, 1, 1));
  EXPECT_FALSE(record.RecordFolderCreated(kNorth, kMaps, L". "));
#endif
  // A made folder is the destination or above it, and never a drive's root.
  EXPECT_FALSE(record.RecordDestinationMade(kMaps, kMore.substr(0, kMore.size() - 1)));
  EXPECT_FALSE(record.RecordDestinationMade(kMaps, kMaps.substr(0, 2)));
  EXPECT_FALSE(record.RecordDestinationMade(kMaps, kMaps + L"Nord"));
  EXPECT_TRUE(record.Empty());

  // Put in by hand, such an entry is left out of the text rather than
  // making the whole record unreadable.
  record = TwoPackages();
  const InstallRecord good = record;
  record.destinations[0].files.push_back(RecordedFile{kNorth, L"a\tb", 1, 1, 1});
  record.destinations[1].folders.push_back(RecordedFolder{kSouth, Rel(L"..", L"x")});
  record.destinations.push_back(RecordedDestination{L"nowhere", {RecordedFile{kNorth, L"c", 1, 1, 1}}, {}, {}});
  const RecordReading reading = ParseInstallRecord(SerializeInstallRecord(record));
  ASSERT_EQ(reading.status, RecordReading::Status::kRead);
  EXPECT_EQ(reading.record, good);
}

TEST(InstallRecordText, ADamagedRecordReadsAsNothingWithTheLineAndTheReason) {
  const std::string text = SerializeInstallRecord(TwoPackages());
  // Cut anywhere short of its end, it never reads as a record.
  for (std::size_t length = 0; length + 2 < text.size(); ++length) {
    const RecordReading reading = ParseInstallRecord(text.substr(0, length));
    ASSERT_EQ(reading.status, RecordReading::Status::kDamaged) << length;
    EXPECT_TRUE(reading.record.Empty());
    EXPECT_FALSE(reading.reason.empty());
  }

  auto damagedAt = [](const std::string& bad) {
    const RecordReading reading = ParseInstallRecord(bad);
    EXPECT_EQ(reading.status, RecordReading::Status::kDamaged) << bad;
    EXPECT_TRUE(reading.record.Empty());
    return reading.line;
  };
  const std::string head = "Varnholt setup install record 1\nrun\tended\ndestination\t" +
                           std::string(kSep == L"/" ? "/maps/" : "D:\\maps\\") + "\n";
  EXPECT_EQ(damagedAt("Varnholt setup install record 2\nrun\tended\nend\n"), 1u);
  EXPECT_EQ(damagedAt("something else\n"), 1u);
  EXPECT_EQ(damagedAt("Varnholt setup install record 1\nrun\tmaybe\nend\n"), 2u);
  EXPECT_EQ(damagedAt(head + "file\tP\t12x\t1\t00000001\ta\nend\n"), 4u);
  EXPECT_EQ(damagedAt(head + "file\tP\t99999999999999999999\t1\t00000001\ta\nend\n"), 4u);
  EXPECT_EQ(damagedAt(head + "file\tP\t1\t1\t0001\ta\nend\n"), 4u);
  EXPECT_EQ(damagedAt(head + "file\tP\t1\t1\t00000001\t..\nend\n"), 4u);
  EXPECT_EQ(damagedAt(head + "file\tP\t1\t1\t00000001\ta\textra\nend\n"), 4u);
  EXPECT_EQ(damagedAt(head + "file\tP\t1\t1\t00000001\t\xff\xfe\nend\n"), 4u);
  EXPECT_EQ(damagedAt(head + "folder\tP\ta\nwhat\nend\n"), 5u);
  EXPECT_EQ(damagedAt(head + "end\nfile\tP\t1\t1\t00000001\ta\n"), 5u);
  EXPECT_EQ(damagedAt("Varnholt setup install record 1\nrun\tended\nfile\tP\t1\t1\t00000001\ta\nend\n"), 3u);
  EXPECT_EQ(ParseInstallRecord(head + "file\tP\t1\t1\t00000001\ta\nend").status, RecordReading::Status::kRead);
}

TEST(InstallRecordFile, IsReplacedWholeAndReadBack) {
  TempDir dir;
  const std::wstring path = dir.Folder() + L"install record \u00e4.txt";
  EXPECT_EQ(ReadInstallRecord(path).status, RecordReading::Status::kMissing);

  InstallRecord record = TwoPackages();
  FileError error;
  ASSERT_TRUE(WriteInstallRecord(path, record, &error)) << error.osError();
  record.ended = true;
  record.RecordCommitted(kSouth, kMore, L"neu.map", 5, 6, 7);
  ASSERT_TRUE(WriteInstallRecord(path, record, &error));
  const RecordReading reading = ReadInstallRecord(path);
  ASSERT_EQ(reading.status, RecordReading::Status::kRead);
  EXPECT_EQ(reading.record, record);
  EXPECT_EQ(TreeOf(dir.path()).size(), 1u) << "no temporary file is left beside it";

  WriteAll(dir.path() / "cut.txt", Bytes(SerializeInstallRecord(record).substr(0, 60)));
  const RecordReading cut = ReadInstallRecord(dir.File(L"cut.txt"));
  EXPECT_EQ(cut.status, RecordReading::Status::kDamaged);
  EXPECT_EQ(cut.error.fileName(), dir.File(L"cut.txt"));

  // A folder that is not there keeps nothing half-written anywhere.
  EXPECT_FALSE(WriteInstallRecord(dir.File(L"missing" + kSep + L"record.txt"), record, &error));
}

TEST(InstallRecordUpdates, APackageInstalledAgainUpdatesItsPartAndKeepsWhatItNoLongerCarries) {
  InstallRecord record = TwoPackages();
  ASSERT_TRUE(record.RecordCommitted(kNorth, kMaps, L"legend.txt", 40, 134000000000000000ull, 0x12345678));
  ASSERT_TRUE(record.RecordFolderCreated(kNorth, kMaps, L"Nord"));

  const RecordedDestination& maps = record.destinations[0];
  ASSERT_EQ(maps.files.size(), 3u);
  EXPECT_EQ(maps.files[1], (RecordedFile{kNorth, L"legend.txt", 40, 134000000000000000ull, 0x12345678}));
  // The other package's entry for the same file takes the values the disk
  // now holds, or it would seem changed to the removal and stay for good.
  EXPECT_EQ(maps.files[2], (RecordedFile{kSouth, L"legend.txt", 40, 134000000000000000ull, 0x12345678}));
  // The map the new version did not write is still listed.
  EXPECT_EQ(maps.files[0].size, 1234u);
  EXPECT_EQ(maps.folders.size(), 2u);

  EXPECT_EQ(record.Packages(), (std::set<std::wstring>{kNorth, kSouth}));
  EXPECT_EQ(record.Bytes(), 1234u + 40u + 99u);
  EXPECT_EQ(record.Bytes(std::set<std::wstring>{kSouth}), 40u + 99u);
}

TEST(InstallRecordUpdates, ASecondDestinationIsRecordedBesideTheFirst) {
  InstallRecord record;
  ASSERT_TRUE(record.RecordCommitted(kNorth, kMaps, L"a.map", 1, 2, 3));
  ASSERT_TRUE(record.RecordCommitted(kNorth, kMore, L"a.map", 4, 5, 6));
  ASSERT_TRUE(record.RecordCommitted(kNorth, kMaps, L"b.map", 1, 2, 3));
  ASSERT_EQ(record.destinations.size(), 2u);
  EXPECT_EQ(record.destinations[0].files.size(), 2u);
  EXPECT_EQ(record.destinations[1].files[0].size, 4u);
}

TEST(InstallRecordText, AFreshFileReadsBackAsFreshAndIsRemovedAsAFile) {
  InstallRecord record = TwoPackages();
  ASSERT_TRUE(record.RecordCommitted(kSouth, kMore, L"neu.map", 5, 133000000000000003ull, 7, /*fresh=*/true));
  const std::string text = SerializeInstallRecord(record);
  EXPECT_NE(text.find("\r\nfresh\t" + text::ToUtf8(kSouth) + "\t5\t133000000000000003\t00000007\tneu.map\r\n"),
            std::string::npos)
      << text;
  const RecordReading reading = ParseInstallRecord(text);
  ASSERT_EQ(reading.status, RecordReading::Status::kRead);
  EXPECT_EQ(reading.record, record);
  EXPECT_TRUE(reading.record.destinations[1].files[1].fresh);
  EXPECT_FALSE(reading.record.destinations[1].files[0].fresh);
  EXPECT_EQ(ParseInstallRecord("Varnholt setup install record 1\nrun\tgoing\ndestination\t" + text::ToUtf8(kMore) +
                               "\nfresh\tP\t1\t1\t00000001\nend\n")
                .line,
            4u);

  FakeDisk disk(record);
  const RemovalPlan plan = PlanRemoval(record, std::set<std::wstring>{kSouth}, disk.Look());
  const std::vector<std::wstring> removed = Paths(plan.files);
  EXPECT_NE(std::find(removed.begin(), removed.end(), kMore + L"neu.map"), removed.end());
  // Put back by a removal that stops, it is still fresh.
  InstallRecord remaining = plan.remaining;
  for (const PlannedRemoval& removal : plan.files)
    RestoreEntries(&remaining, removal);
  bool fresh = false;
  for (const RecordedDestination& destination : remaining.destinations)
    for (const RecordedFile& file : destination.files)
      if (file.path == L"neu.map") fresh = file.fresh;
  EXPECT_TRUE(fresh);
}

TEST(InstallRecordUpdates, ARunsFreshFilesArePlainWhenItEndsAndAnEarlierRunsStayFreshUntilChecked) {
  const std::string earlier = "Varnholt setup install record 1\nrun\tgoing\ndestination\t" + text::ToUtf8(kMaps) +
                              "\nfresh\tN\t1\t1\t00000001\told.map\nfresh\tN\t1\t1\t00000001\tagain.map\n"
                              "fresh\tN\t1\t1\t00000001\tshared.map\nfresh\tS\t1\t1\t00000001\tshared.map\nend\n";
  RecordReading reading = ParseInstallRecord(earlier);
  ASSERT_EQ(reading.status, RecordReading::Status::kRead);
  InstallRecord record = reading.record;
  ASSERT_TRUE(record.RecordCommitted(L"N", kMaps, L"new.map", 2, 2, 2, true));
  ASSERT_TRUE(record.RecordCommitted(L"N", kMaps, L"again.map", 2, 2, 2, true));
  // A destination added during the run leaves the first one's fresh commits known.
  ASSERT_TRUE(record.RecordCommitted(L"N", kMore, L"far.map", 3, 3, 3, true));
  record.RecordContentChecked(kMaps, L"shared.map");
  const auto freshOf = [&record](const std::wstring& path) {
    std::vector<bool> fresh;
    for (const RecordedDestination& destination : record.destinations)
      for (const RecordedFile& file : destination.files)
        if (file.path == path) fresh.push_back(file.fresh);
    return fresh;
  };
  EXPECT_EQ(freshOf(L"new.map"), std::vector<bool>{true});
  EXPECT_EQ(freshOf(L"shared.map"), (std::vector<bool>{false, false}));
  record.EndRun();
  EXPECT_TRUE(record.ended);
  EXPECT_EQ(freshOf(L"new.map"), std::vector<bool>{false});
  EXPECT_EQ(freshOf(L"again.map"), std::vector<bool>{false});
  EXPECT_EQ(freshOf(L"far.map"), std::vector<bool>{false});
  // Neither written nor read by this run: its data may still be missing.
  EXPECT_EQ(freshOf(L"old.map"), std::vector<bool>{true});
}

TEST(RemovalPlan, RemovesOnlyWhatIsRecordedAndUnchanged) {
  const InstallRecord record = TwoPackages();
  FakeDisk disk(record);
  const std::wstring koeln = kMaps + Rel(Rel(L"Nord", L"Stra\u00dfen \U0001F5FA"), L"k\u00f6ln.map");
  disk.files[koeln].modified += 1;  // the user saved over it
  disk.files[kMaps + L"mine.txt"] = DiskFile{3, 3};

  const RemovalPlan plan = PlanRemoval(record, std::nullopt, disk.Look());
  EXPECT_EQ(Paths(plan.files), (std::vector<std::wstring>{kMaps + L"legend.txt", kMore + L"s\u00fcd.map"}));
  EXPECT_EQ(plan.changedFiles, (std::vector<std::wstring>{koeln}));
  EXPECT_TRUE(plan.sharedFiles.empty());
  EXPECT_EQ(disk.asked.count(kMaps + L"mine.txt"), 0u);
  // Both packages' entries for the shared file go with it.
  EXPECT_EQ(plan.files[0].files.size(), 2u);
  // Innermost first, whatever order they were created in.
  EXPECT_EQ(Paths(plan.folders),
            (std::vector<std::wstring>{kMaps + Rel(L"Nord", L"Stra\u00dfen \U0001F5FA"), kMaps + L"Nord"}));
  EXPECT_TRUE(plan.remaining.Empty());

  // A file of a different size is changed too; one already gone is dropped.
  FakeDisk resized(record);
  resized.files[koeln].size = 1;
  resized.files.erase(kMore + L"s\u00fcd.map");
  const RemovalPlan again = PlanRemoval(record, std::nullopt, resized.Look());
  EXPECT_EQ(again.changedFiles, (std::vector<std::wstring>{koeln}));
  EXPECT_EQ(Paths(again.files), (std::vector<std::wstring>{kMaps + L"legend.txt"}));
}

TEST(RemovalPlan, ANamedPackageLeavesWhatAnotherStillRecords) {
  InstallRecord record = TwoPackages();
  // South's file in a folder North created.
  ASSERT_TRUE(record.RecordCommitted(kSouth, kMaps, Rel(L"Nord", L"s.map"), 7, 8, 9));
  FakeDisk disk(record);

  const RemovalPlan north = PlanRemoval(record, std::set<std::wstring>{kNorth}, disk.Look());
  EXPECT_EQ(Paths(north.files),
            (std::vector<std::wstring>{kMaps + Rel(Rel(L"Nord", L"Stra\u00dfen \U0001F5FA"), L"k\u00f6ln.map")}));
  EXPECT_EQ(north.sharedFiles, (std::vector<std::wstring>{kMaps + L"legend.txt"}));
  EXPECT_EQ(Paths(north.folders), (std::vector<std::wstring>{kMaps + Rel(L"Nord", L"Stra\u00dfen \U0001F5FA")}));
  // North's folder stays while South's file is in it, and is South's to take:
  // North leaves the record whole, so that naming it again finds nothing.
  EXPECT_EQ(north.remaining.Packages(), (std::set<std::wstring>{kSouth}));
  ASSERT_EQ(north.remaining.destinations.size(), 2u);
  EXPECT_EQ(north.remaining.destinations[0].files.size(), 2u);
  EXPECT_EQ(north.remaining.destinations[0].folders, (std::vector<RecordedFolder>{{kSouth, L"Nord"}}));

  // The shared file goes with its last package.
  const RemovalPlan south = PlanRemoval(north.remaining, std::set<std::wstring>{kSouth}, disk.Look());
  EXPECT_EQ(Paths(south.files), (std::vector<std::wstring>{kMaps + L"legend.txt", kMaps + Rel(L"Nord", L"s.map"),
                                                           kMore + L"s\u00fcd.map"}));
  EXPECT_EQ(Paths(south.folders), (std::vector<std::wstring>{kMaps + L"Nord"}));
  EXPECT_TRUE(south.remaining.Empty());

  // A package nobody recorded plans nothing.
  const RemovalPlan none = PlanRemoval(record, std::set<std::wstring>{L"{other}"}, disk.Look());
  EXPECT_TRUE(none.files.empty() && none.folders.empty());
  EXPECT_EQ(none.remaining, record);
}

TEST(RemovalPlan, ARemovalThatStopsPutsBackWhatItDidNotRemove) {
  const InstallRecord record = TwoPackages();
  FakeDisk disk(record);
  RemovalPlan plan = PlanRemoval(record, std::nullopt, disk.Look());
  ASSERT_EQ(plan.files.size(), 3u);
  // Stopped after two files: the third and the folders are still there.
  InstallRecord left = plan.remaining;
  RestoreEntries(&left, plan.files[2]);
  for (const PlannedRemoval& folder : plan.folders)
    RestoreEntries(&left, folder);
  EXPECT_EQ(left.Packages(), (std::set<std::wstring>{kNorth, kSouth}));
  EXPECT_EQ(left.Bytes(), 99u);
  const RemovalPlan rest = PlanRemoval(left, std::nullopt, disk.Look());
  EXPECT_EQ(Paths(rest.files), (std::vector<std::wstring>{kMore + L"s\u00fcd.map"}));
  EXPECT_EQ(rest.folders.size(), 2u);
}

}  // namespace app

namespace app {

// Map media carry hundreds of thousands of tiles: recording, reading back
// and planning must each take every file once, not once per file before it
// (at this size that would run for hours).
TEST(InstallRecordScale, AHundredThousandFilesAreRecordedReadAndPlannedInOnePass) {
  InstallRecord record;
  constexpr int kFiles = 100'000;
  for (int i = 0; i < kFiles; ++i) {
    const std::wstring folder = L"z" + std::to_wstring(i % 100);
    if (i < 100) {
      ASSERT_TRUE(record.RecordFolderCreated(kNorth, kMaps, folder));
    }
    ASSERT_TRUE(
        record.RecordCommitted(i % 2 ? kNorth : kSouth, kMaps, Rel(folder, std::to_wstring(i) + L".tile"), 10, 20, 1));
  }
  // South's tiles written again by North: one entry more each, values shared.
  for (int i = 0; i < 100; ++i)
    ASSERT_TRUE(record.RecordCommitted(kNorth, kMaps, Rel(L"z0", std::to_wstring(i * 100) + L".tile"), 11, 21, 2));
  ASSERT_EQ(record.destinations[0].files.size(), static_cast<std::size_t>(kFiles + 100));

  const RecordReading reading = ParseInstallRecord(SerializeInstallRecord(record));
  ASSERT_EQ(reading.status, RecordReading::Status::kRead);
  EXPECT_EQ(reading.record, record);

  FakeDisk disk(record);
  const RemovalPlan south = PlanRemoval(record, std::set<std::wstring>{kSouth}, disk.Look());
  EXPECT_EQ(south.files.size(), static_cast<std::size_t>(kFiles / 2 - 100));
  EXPECT_EQ(south.sharedFiles.size(), 100u);
  EXPECT_TRUE(south.folders.empty());  // North's tiles are in all of them
}

}  // namespace app
