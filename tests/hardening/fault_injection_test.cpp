// Every file-system fault the extraction can meet, injected into the platform
// layer: what reaches the user, what is left on disk, and that a retry after
// the fault clears installs everything.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>

#include "hardening/install_fixture.h"
#include "package/temp_files.h"
#include "platform/fault_injection.h"
#include "platform/text.h"

namespace fi = platform::fault_injection;

namespace {

struct FaultCase {
  const char* label;
  fi::Operation operation;
  const wchar_t* pathContains;  // below the destination, or the package's name
  int error;
  FileError::Cause cause;
  std::int64_t osError;
  const wchar_t* failingFile;   // relative to the destination; empty: the package
  const wchar_t* callbackText;  // with %s for the failing path; empty: no call
  const wchar_t* userText;      // with %1 for the failing path
};

const FaultCase kFaults[] = {
    // Entries are written into temporary files in their folders; errors name the file being installed.
    {"DiskFullWhileWriting", fi::Operation::kWrite, L"maps/north/", ENOSPC, FileError::kDiskFull, ENOSPC,
     L"maps/north/tiles.bin", L"", L"Disk full while accessing %1."},
    {"QuotaExceededWhileWriting", fi::Operation::kWrite, L"maps/south/", EDQUOT, FileError::kDiskFull, EDQUOT,
     L"maps/south/tiles.bin", L"", L"Disk full while accessing %1."},
    {"ReadErrorOnThePackage", fi::Operation::kRead, L"MAPA.nwq", EIO, FileError::kHardIO, EIO, L"", L"",
     L"Encountered a hardware I/O error while accessing %1."},
    {"LateWriteErrorOnClose", fi::Operation::kClose, package::temp_files::kPrefix, EIO, FileError::kHardIO, EIO,
     L"readme.txt", L"", L"Encountered a hardware I/O error while accessing %1."},
    {"FolderCannotBeCreated", fi::Operation::kCreateFolder, L"maps/south", EACCES, FileError::kBadPath, -1,
     L"maps/south/", L"Der Ordner '%s' konnte nicht erstellt werden.", L"%1 contains an incorrect path."},
    {"OutputFileCannotBeCreated", fi::Operation::kOpen, L"maps/north/tiles.bin", EACCES, FileError::kAccessDenied,
     EACCES, L"maps/north/tiles.bin", L"Die Ausgabedatei '%s' konnte nicht ge\u00F6ffnet werden.",
     L"Access to %1 was denied."},
    {"TooManyOpenFiles", fi::Operation::kOpen, L"readme.txt", EMFILE, FileError::kTooManyOpenFiles, EMFILE,
     L"readme.txt", L"Die Ausgabedatei '%s' konnte nicht ge\u00F6ffnet werden.",
     L"Could not open %1 because there are too many open files."},
    {"TemporaryFileCannotBeCreated", fi::Operation::kOpen, package::temp_files::kPrefix, EMFILE,
     FileError::kTooManyOpenFiles, EMFILE, L"readme.txt", L"Die Ausgabedatei '%s' konnte nicht ge\u00F6ffnet werden.",
     L"Could not open %1 because there are too many open files."},
    {"MoveOverTheTargetFails", fi::Operation::kMove, L"maps/south/tiles.bin", EIO, FileError::kHardIO, EIO,
     L"maps/south/tiles.bin", L"Die Ausgabedatei '%s' konnte nicht ge\u00F6ffnet werden.",
     L"Encountered a hardware I/O error while accessing %1."},
};

std::wstring Fill(std::wstring pattern, const wchar_t* placeholder, const std::wstring& value) {
  const auto at = pattern.find(placeholder);
  if (at != std::wstring::npos) pattern.replace(at, std::wcslen(placeholder), value);
  return pattern;
}

class EachFault : public InstallFixture, public ::testing::WithParamInterface<FaultCase> {};

}  // namespace

TEST_P(EachFault, IsReportedByNameAndARetryAfterItClearsInstallsEverything) {
  const FaultCase& fault = GetParam();
  // Reads fail in the middle of the second entry's stored data.
  const std::uint64_t after = fault.operation == fi::Operation::kRead ? DataOffset(L"MAPA", 1) + 3000 : 0;
  const std::wstring failing = fault.failingFile[0] ? DestinationPath(fault.failingFile) : PackagePath(L"MAPA");
  {
    fi::ScopedFault armed({fault.operation, fault.pathContains, static_cast<platform::ErrorCode>(fault.error), after});
    try {
      Extract(L"MAPA");
      FAIL() << "no FileError";
    } catch (const FileError& error) {
      EXPECT_EQ(error.cause(), fault.cause);
      EXPECT_EQ(error.osError(), fault.osError);
      EXPECT_EQ(error.fileName(), failing);
      EXPECT_EQ(error.Text(), Fill(fault.userText, L"%1", failing));
    }
    EXPECT_GE(fi::HitCount(), 1u);
  }
  const std::vector<std::wstring> expectedCallbacks =
      fault.callbackText[0] ? std::vector<std::wstring>{Fill(fault.callbackText, L"%s", failing)}
                            : std::vector<std::wstring>{};
  EXPECT_EQ(CallbackLog::Errors(), expectedCallbacks);

  CallbackLog::Errors().clear();
  EXPECT_EQ(Extract(L"MAPA"), S_OK);
  ExpectInstalled(L"MAPA");
  EXPECT_TRUE(CallbackLog::Errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, EachFault, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(InstallFixture, AFailureInTheMiddleOfAnEntryKeepsTheFileItWouldReplace) {
  const auto& files = packages_.at(L"MAPA");
  const std::wstring tiles = L"maps\\north\\tiles.bin";
  const std::wstring target = DestinationPath(tiles);
  const std::wstring north = DestinationPath(L"maps\\north\\");
  const struct {
    const char* label;
    fi::Fault fault;
    FileError::Cause cause;
    std::wstring failingFile;
    bool toldTheCallback;
  } cases[] = {
      // The volume fills 10000 bytes into the second file. Counted in its
      // folder alone: decoders side by side write the two files in any order.
      {"disk full", {fi::Operation::kWrite, north, ENOSPC, 10000}, FileError::kDiskFull, target, false},
      {"medium unreadable",
       {fi::Operation::kRead, L"MAPA.nwq", EIO, DataOffset(L"MAPA", 1) + 12000},
       FileError::kHardIO,
       PackagePath(L"MAPA"),
       false},
      {"late write error", {fi::Operation::kClose, north, EIO}, FileError::kHardIO, target, false},
      {"move refused", {fi::Operation::kMove, target, EACCES}, FileError::kAccessDenied, target, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    CallbackLog::Errors().clear();
    PlaceEarlier(tiles, NoiseBytes(15000, 99));
    {
      fi::ScopedFault armed(c.fault);
      try {
        Extract(L"MAPA");
        ADD_FAILURE() << "no FileError";
      } catch (const FileError& error) {
        EXPECT_EQ(error.cause(), c.cause);
        EXPECT_EQ(error.fileName(), c.failingFile);
      }
      EXPECT_GE(fi::HitCount(), 1u);
    }
    EXPECT_EQ(ReadBytes(DestinationPath(L"readme.txt")), files[0].content);
    ExpectEarlierKept(tiles);
    EXPECT_FALSE(std::filesystem::exists(DestinationPath(L"maps\\south")));
    EXPECT_EQ(CallbackLog::Errors().size(), c.toldTheCallback ? 1u : 0u);
    ExpectNoTempFiles();
  }
  // Once the fault is gone the same package replaces the earlier file.
  EXPECT_EQ(Extract(L"MAPA"), S_OK);
  ExpectInstalled(L"MAPA");
}

TEST_F(InstallFixture, IgnoreGoesOnWithTheNextPackageAndAbortStopsTheRun) {
  fi::Arm({fi::Operation::kWrite, L"roads/", ENOSPC, 5000});
  RunOutcome ignored = Run({L"MAPA", L"MAPB", L"MAPC"}, [](const std::wstring&) { return Answer::kIgnore; });
  EXPECT_FALSE(ignored.stopped);
  EXPECT_TRUE(ignored.destinationRecorded);
  EXPECT_EQ(ignored.shownErrors,
            std::vector<std::wstring>{L"Disk full while accessing " + DestinationPath(L"roads\\roads.bin") + L"."});
  ExpectInstalled(L"MAPA");
  ExpectInstalled(L"MAPC");
  EXPECT_FALSE(std::filesystem::exists(DestinationPath(L"roads\\roads.bin")));
  fi::Clear();

  std::filesystem::remove_all(Destination());
  std::filesystem::create_directories(Destination());
  fi::ScopedFault full({fi::Operation::kWrite, L"roads/", ENOSPC, 5000});
  RunOutcome aborted = Run({L"MAPB", L"MAPC"}, [](const std::wstring&) { return Answer::kAbort; });
  EXPECT_TRUE(aborted.stopped);
  EXPECT_FALSE(aborted.destinationRecorded);
  EXPECT_EQ(aborted.shownErrors.size(), 1u);
  ExpectNothingOf(L"MAPC");
}

TEST_F(InstallFixture, RetryAfterTheDiskIsFreedInstallsEverything) {
  fi::Arm({fi::Operation::kWrite, L"roads/", ENOSPC, 5000});
  int asked = 0;
  RunOutcome outcome = Run({L"MAPA", L"MAPB", L"MAPC"}, [&](const std::wstring& message) {
    EXPECT_TRUE(message.starts_with(L"Disk full while accessing ")) << text::ToUtf8(message);
    if (++asked == 2) fi::Clear();  // the user made room after the second failure
    return Answer::kRetry;
  });
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(asked, 2);
  ExpectInstalled(L"MAPA");
  ExpectInstalled(L"MAPB");
  ExpectInstalled(L"MAPC");
}

TEST_F(InstallFixture, APackageThatVanishesAfterTheCatalogueIsPassedOverSilently) {
  std::vector<std::wstring> listed;
  package::GetAvailableGuids(packageFolder_, listed);
  std::sort(listed.begin(), listed.end());
  ASSERT_EQ(listed, (std::vector<std::wstring>{L"MAPA", L"MAPB", L"MAPC"}));

  const auto beforeVanish = Snapshot(sandbox_.root(), Destination());
  {
    fi::ScopedFault vanish({fi::Operation::kVanish, L"MAPB.nwq"});
    RunOutcome outcome = Run(listed, [](const std::wstring&) { return Answer::kAbort; });
    EXPECT_FALSE(outcome.stopped);
    EXPECT_TRUE(outcome.destinationRecorded);
    EXPECT_TRUE(outcome.shownErrors.empty());
    EXPECT_EQ(fi::HitCount(), 1u);
  }
  EXPECT_TRUE(CallbackLog::Errors().empty());
  ExpectInstalled(L"MAPA");
  ExpectNothingOf(L"MAPB");
  ExpectInstalled(L"MAPC");
  // The vanished package is the one change outside the destination.
  auto expected = beforeVanish;
  expected.erase("Karten/MAPB.nwq");
  auto after = Snapshot(sandbox_.root(), Destination());
  after.erase("Karten");
  expected.erase("Karten");
  EXPECT_EQ(after, expected);
  packages_.erase(L"MAPB");
  RecordOutsideState();
}
