#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <utility>

#include "package/engine.h"
#include "package/file_times.h"
#include "package/package.h"
#include "package/temp_files.h"
#include "platform/text.h"
#include "package/recorder.h"
#include "support/package_bytes.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// 2021-03-05 01:26:07.8901234 UTC and 2022-01-01 21:04:05.6789012 UTC.
constexpr std::uint64_t kCreated = 132593811678901234ull;
constexpr std::uint64_t kModified = 132855446456789012ull;

class Extraction : public ::testing::Test {
 protected:
  void SetUp() override { CallbackRecord::Reset(); }

  HRESULT Extract(const PackageBytes& package, const std::wstring& destination) {
    package.WriteTo(media_.Folder());
    return package::ExtractPackage(media_.Folder(), name_, destination, CallbackRecord::OnProgress,
                                   CallbackRecord::OnError);
  }
  std::wstring Destination() const { return target_.Folder(L"dest"); }
  fs::path Out(const std::string& relative) const { return target_.path() / "dest" / relative; }

  std::wstring name_ = L"Pkg";
  TempDir media_;
  TempDir target_;
};

// True when a temporary file of the extraction is left anywhere below `root`.
bool HasTempFile(const fs::path& root) {
  if (!fs::exists(root)) return false;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (package::temp_files::IsTempName(entry.path().filename().wstring())) return true;
  return false;
}

TEST_F(Extraction, AHeaderOnlyPackageExtractsNothingAndCreatesNoFolder) {
  EXPECT_EQ(Extract(PackageBytes(name_), Destination()), S_OK);
  EXPECT_FALSE(fs::exists(Out("")));
  EXPECT_TRUE(CallbackRecord::Current().progress.empty());
}

TEST_F(Extraction, MissingOrInvalidPackagesFailWithoutCallbacks) {
  EXPECT_EQ(package::ExtractPackage(media_.Folder(), L"none", Destination(), CallbackRecord::OnProgress,
                                    CallbackRecord::OnError),
            E_FAIL);
  PackageBytes wrongVersion(name_, L"t", 3);
  wrongVersion.Entry(L"", L"a.txt", Bytes("a"));
  EXPECT_EQ(Extract(wrongVersion, Destination()), E_FAIL);
  EXPECT_FALSE(fs::exists(Out("")));
  EXPECT_TRUE(CallbackRecord::Current().progress.empty());
  EXPECT_TRUE(CallbackRecord::Current().errors.empty());
}

TEST_F(Extraction, FoldersAreJoinedWithOneSeparator) {
  PackageBytes package(name_);
  package.Entry(L"", L"top.txt", Bytes("top"))
      .Entry(L"maps", L"a.txt", Bytes("a"))
      .Entry(L"maps\\", L"b.txt", Bytes("b"))
      .Entry(L"maps\\deep\\er", L"c.txt", Bytes("c"));
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  EXPECT_EQ(ReadAll(Out("top.txt")), Bytes("top"));
  EXPECT_EQ(ReadAll(Out("maps/a.txt")), Bytes("a"));
  EXPECT_EQ(ReadAll(Out("maps/b.txt")), Bytes("b"));
  EXPECT_EQ(ReadAll(Out("maps/deep/er/c.txt")), Bytes("c"));
  EXPECT_EQ(TreeOf(Out("")), (std::vector<std::string>{"maps", "maps/a.txt", "maps/b.txt", "maps/deep", "maps/deep/er",
                                                       "maps/deep/er/c.txt", "top.txt"}));
}

TEST_F(Extraction, AnEmptyEntryMakesAnEmptyFileWithItsTimesAndNoProgress) {
  PackageBytes package(name_);
  package.RawEntry(L"leer", L"empty.dat", {}, 0, kCreated, kModified);
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  EXPECT_TRUE(fs::exists(Out("leer/empty.dat")));
  EXPECT_EQ(fs::file_size(Out("leer/empty.dat")), 0u);
  EXPECT_TRUE(CallbackRecord::Current().progress.empty());
  platform::FileTimes times;
  ASSERT_TRUE(platform::GetFileTimes(Out("leer/empty.dat").wstring(), &times));
  EXPECT_EQ(times.lastWrite, package::file_times::ToWholeSeconds(kModified));
}

TEST_F(Extraction, StoredTimesAreSetCutToWholeSeconds) {
  PackageBytes package(name_);
  package.Entry(L"", L"t.txt", Bytes("time"), kCreated, kModified);
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  platform::FileTimes times;
  ASSERT_TRUE(platform::GetFileTimes(Out("t.txt").wstring(), &times));
  EXPECT_EQ(times.lastWrite, kModified - kModified % 10'000'000);
  EXPECT_EQ(times.lastAccess % 10'000'000, 0u);
#if defined(_WIN32)           // POSIX keeps no creation time
  if (!RunningUnderWine()) {  // Wine keeps no creation time of its own
    EXPECT_EQ(times.creation, kCreated - kCreated % 10'000'000);
  }
#endif
}

TEST_F(Extraction, ZeroAndUnrepresentableTimesLeaveTheSystemsTimes) {
  const auto before = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  PackageBytes package(name_);
  package.Entry(L"", L"zero.txt", Bytes("z"), kCreated, 0)
      .Entry(L"", L"old.txt", Bytes("o"), 0, 100)  // 1601: before 1970
      .Entry(L"", L"far.txt", Bytes("f"), 0, 0x7FFFFFFFFFFFFFFFull);
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  for (const char* name : {"zero.txt", "old.txt", "far.txt"})
    EXPECT_GT(fs::last_write_time(Out(name)), before) << name;
}

TEST_F(Extraction, HighlyCompressibleDataIsWrittenCompletely) {
  // Zeros compress about 1000:1, so one 4096-byte chunk decodes to far more
  // than the 8192-byte output buffer, also on the stream's last chunk.
  std::vector<std::uint8_t> zeros(6 * 1024 * 1024, 0);
  zeros.back() = 1;
  PackageBytes package(name_);
  package.Entry(L"", L"zeros.bin", zeros).Entry(L"", L"after.txt", Bytes("after"));
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  EXPECT_EQ(ReadAll(Out("zeros.bin")), zeros);
  EXPECT_EQ(ReadAll(Out("after.txt")), Bytes("after"));
}

TEST_F(Extraction, ARepeatedEntryOverwritesTheEarlierOne) {
  PackageBytes package(name_);
  package.Entry(L"d", L"same.txt", Bytes("first version, longer")).Entry(L"d\\", L"same.txt", Bytes("second"));
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  EXPECT_EQ(ReadAll(Out("d/same.txt")), Bytes("second"));
}

TEST_F(Extraction, AnExistingDestinationAndFoldersAreNoError) {
  fs::create_directories(Out("maps"));
  WriteAll(Out("maps/old.txt"), Bytes("old"));
  PackageBytes package(name_);
  package.Entry(L"maps", L"new.txt", Bytes("new"));
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  EXPECT_EQ(ReadAll(Out("maps/old.txt")), Bytes("old"));
  EXPECT_EQ(ReadAll(Out("maps/new.txt")), Bytes("new"));
}

// A zlib stream of one stored (uncompressed) block: its length is known to
// the byte, so the progress sequence can be worked out by hand.
std::vector<std::uint8_t> StoredStream(const std::vector<std::uint8_t>& data) {
  const auto n = static_cast<unsigned>(data.size());
  const unsigned inverse = ~n & 0xFFFFu;
  std::vector<std::uint8_t> stream;
  stream.reserve(data.size() + 11);
  for (const unsigned byte : {0x78u, 0x01u, 0x01u, n & 0xFFu, n >> 8, inverse & 0xFFu, inverse >> 8})
    stream.push_back(static_cast<std::uint8_t>(byte));
  for (const std::uint8_t byte : data)
    stream.push_back(byte);
  const uLong check = adler32(adler32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size()));
  for (int shift = 24; shift >= 0; shift -= 8)
    stream.push_back(static_cast<std::uint8_t>(check >> shift));
  return stream;
}

TEST_F(Extraction, ProgressFollowsThePackagesBytesChunkByChunk) {
  const auto one = StoredStream(Pattern(10'000));   // 10011 bytes: chunks of 4096, 4096, 1819
  const auto three = StoredStream(Pattern(3'000));  // 3011 bytes: one chunk
  ASSERT_EQ(one.size(), 10'011u);
  PackageBytes package(name_);
  package.RawEntry(L"", L"one.bin", one, 10'011)
      .RawEntry(L"", L"empty.bin", {}, 0)
      .RawEntry(L"", L"three.bin", three, 3'011);
  ASSERT_EQ(package.bytes().size(), 16'202u);
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  EXPECT_EQ(ReadAll(Out("one.bin")), Pattern(10'000));
  // 924 + 752 + 4096 = 5772 of 16202 bytes: 35 %; then 9868: 60 %; 11687: 72 %;
  // the empty entry reads its record only; the last chunk ends the package.
  const std::vector<std::pair<std::int32_t, std::wstring>> expected = {
      {35, L"one.bin"}, {60, L"one.bin"}, {72, L"one.bin"}, {100, L"three.bin"}};
  std::vector<std::pair<std::int32_t, std::wstring>> seen;
  for (const ProgressCall& call : CallbackRecord::Current().progress) {
    EXPECT_EQ(call.maximum, 100);
    seen.emplace_back(call.percent, call.fileName);
  }
  EXPECT_EQ(seen, expected);
}

TEST_F(Extraction, AManyChunkPackageReportsEachPercentOnce) {
  PackageBytes package(name_);
  package.Entry(L"", L"one.bin", Pattern(300'000)).Entry(L"", L"two.bin", Pattern(200'000));
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  const auto& calls = CallbackRecord::Current().progress;
  ASSERT_EQ(calls.size(), 100u);  // 0 % passes with the first records
  for (std::size_t i = 0; i < calls.size(); ++i)
    EXPECT_EQ(calls[i].percent, static_cast<std::int32_t>(i + 1));
}

#if !defined(_WIN32)  // Windows' text-mode stdout adds a "\r" of its own
TEST_F(Extraction, EachRecordIsTracedWithItsFields) {
  PackageBytes package(name_);
  package.Entry(L"maps", L"a.txt", Bytes("a"), kCreated, kModified).RawEntry(L"", L"e", {}, 0);
  const auto stored = Compress(Bytes("a"));
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  std::fflush(stdout);
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(output.substr(output.find("\r\nDateiname")),
            "\r\nDateiname: a.txt\r\n"
            "CreateDate: 132593811678901234\r\n"
            "ModifiedDate: 132855446456789012\r\n"
            "FileSize: " +
                std::to_string(stored.size()) +
                "\r\n"
                "\r\nDateiname: e\r\nCreateDate: 0\r\nModifiedDate: 0\r\nFileSize: 0\r\n");
}
#endif

TEST_F(Extraction, AFolderInThePlaceOfTheOutputFileIsReportedByName) {
  fs::create_directories(Out("taken.txt"));
  PackageBytes package(name_);
  package.Entry(L"", L"taken.txt", Bytes("x"));
  try {
    Extract(package, Destination());
    FAIL() << "no FileError";
  } catch (const FileError& error) {
    EXPECT_EQ(error.fileName(), Out("taken.txt").wstring());
  }
  ASSERT_EQ(CallbackRecord::Current().errors.size(), 1u);
  EXPECT_EQ(CallbackRecord::Current().errors[0],
            L"Die Ausgabedatei '" + Out("taken.txt").wstring() + L"' konnte nicht ge\u00F6ffnet werden.");
}

TEST_F(Extraction, AFileInTheWayOfAFolderIsReportedAsAnIncorrectPath) {
  fs::create_directories(Out(""));
  WriteAll(Out("maps"), Bytes("a file, not a folder"));
  PackageBytes package(name_);
  package.Entry(L"maps", L"a.txt", Bytes("a"));
  const std::wstring folder = Destination() + L"maps" + platform::kPathSeparator;
  try {
    Extract(package, Destination());
    FAIL() << "no FileError";
  } catch (const FileError& error) {
    EXPECT_EQ(error.cause(), FileError::kBadPath);
    EXPECT_EQ(error.osError(), -1);
    EXPECT_EQ(error.Text(), folder + L" contains an incorrect path.");
  }
  EXPECT_EQ(CallbackRecord::Current().errors,
            std::vector<std::wstring>{L"Der Ordner '" + folder + L"' konnte nicht erstellt werden."});
}

// A target that cannot be replaced is found before anything is decoded and
// reported as a failed open of the output file; it stays as it was.
class UnreplaceableTarget : public Extraction {
 protected:
  void ExpectRefused(const std::string& name, FileError::Cause cause) {
    PackageBytes package(name_);
    package.Entry(L"", L"first.txt", Bytes("first")).Entry(L"", text::FromUtf8(name), Bytes("new"));
    const std::wstring path = Out(name).wstring();
    try {
      Extract(package, Destination());
      ADD_FAILURE() << "no FileError";
    } catch (const FileError& error) {
      EXPECT_EQ(error.cause(), cause);
      EXPECT_EQ(error.fileName(), path);
    }
    EXPECT_EQ(CallbackRecord::Current().errors,
              std::vector<std::wstring>{L"Die Ausgabedatei '" + path + L"' konnte nicht ge\u00F6ffnet werden."});
    EXPECT_EQ(ReadAll(Out("first.txt")), Bytes("first"));
    EXPECT_FALSE(HasTempFile(Out("")));
  }
};

TEST_F(UnreplaceableTarget, AReadOnlyFile) {
  fs::create_directories(Out(""));
  WriteAll(Out("ro.txt"), Bytes("keep me"));
  fs::permissions(Out("ro.txt"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  if (std::ofstream(Out("ro.txt"), std::ios::app))
    GTEST_SKIP() << "this user may write read-only files (root), so nothing refuses the replacement";
  ExpectRefused("ro.txt", FileError::kAccessDenied);
  EXPECT_EQ(ReadAll(Out("ro.txt")), Bytes("keep me"));
}

TEST_F(UnreplaceableTarget, AFileThatIsHeldOpen) {
  fs::create_directories(Out(""));
  WriteAll(Out("busy.txt"), Bytes("in use"));
  platform::File holder;
  ASSERT_TRUE(holder.Open(Out("busy.txt").wstring(), platform::File::Mode::kReadExclusive));
  ExpectRefused("busy.txt", FileError::kSharingViolation);
  holder.Close();
  EXPECT_EQ(ReadAll(Out("busy.txt")), Bytes("in use"));
}

TEST_F(UnreplaceableTarget, AFolderInTheWay) {
  fs::create_directories(Out("taken.txt"));
  WriteAll(Out("taken.txt/inside.txt"), Bytes("inside"));
#if defined(_WIN32)
  ExpectRefused("taken.txt", FileError::kAccessDenied);
#else
  ExpectRefused("taken.txt", FileError::kBadPath);
#endif
  EXPECT_EQ(TreeOf(Out("taken.txt")), std::vector<std::string>{"inside.txt"});
}

TEST_F(Extraction, ThePackageIsClosedWhenAnErrorLeavesTheExtraction) {
  fs::create_directories(Out("taken.txt"));
  PackageBytes package(name_);
  package.Entry(L"", L"taken.txt", Bytes("x"));
  EXPECT_THROW(Extract(package, Destination()), FileError);
  platform::File again;
  EXPECT_TRUE(again.Open(package::BuildPackagePath(media_.Folder(), name_), platform::File::Mode::kReadExclusive));
}

TEST_F(Extraction, ARecordWithoutFileMagicEndsThePackage) {
  PackageBytes package(name_);
  package.Entry(L"", L"a.txt", Bytes("a"));
  PackageBytes rest(L"X");
  rest.Entry(L"", L"never.txt", Bytes("n"));
  std::vector<std::uint8_t> trailing(rest.bytes().begin() + package::kPackageHeaderSize, rest.bytes().end());
  trailing[0] = 'G';  // "GILE"
  package.Append(trailing);
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  EXPECT_EQ(TreeOf(Out("")), std::vector<std::string>{"a.txt"});
}

TEST_F(Extraction, AShortRecordAtTheEndIsIgnored) {
  PackageBytes package(name_);
  package.Entry(L"", L"a.txt", Bytes("a")).Append(std::vector<std::uint8_t>(751, 0));
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  EXPECT_EQ(TreeOf(Out("")), std::vector<std::string>{"a.txt"});
}

TEST_F(Extraction, LargerBuffersGiveTheSameFiles) {
  const auto data = Pattern(1'000'000);
  PackageBytes package(name_);
  package.Entry(L"x", L"big.bin", data);
  package.WriteTo(media_.Folder());
  ASSERT_EQ(package::ExtractPackage(media_.Folder(), name_, Destination(), nullptr, nullptr, {256 * 1024, 1024 * 1024}),
            S_OK);
  EXPECT_EQ(ReadAll(Out("x/big.bin")), data);
}

TEST_F(Extraction, AnExistingFileIsReplacedWholeAndGetsTheStoredTimes) {
  fs::create_directories(Out("maps"));
  WriteAll(Out("maps/sheet.bin"), Pattern(50'000));
  fs::last_write_time(Out("maps/sheet.bin"), fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  PackageBytes package(name_);
  package.Entry(L"maps", L"sheet.bin", Bytes("shorter new sheet"), kCreated, kModified);
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  EXPECT_EQ(ReadAll(Out("maps/sheet.bin")), Bytes("shorter new sheet"));
  platform::FileTimes times;
  ASSERT_TRUE(platform::GetFileTimes(Out("maps/sheet.bin").wstring(), &times));
  EXPECT_EQ(times.lastWrite, package::file_times::ToWholeSeconds(kModified));
#if defined(_WIN32)
  if (!RunningUnderWine()) {  // not the replaced file's creation time, which NTFS may carry over
    EXPECT_EQ(times.creation, package::file_times::ToWholeSeconds(kCreated));
  }
#endif
  EXPECT_EQ(TreeOf(Out("")), (std::vector<std::string>{"maps", "maps/sheet.bin"}));
}

TEST_F(Extraction, LeftoverTemporaryFilesGoFromTheFoldersWrittenIntoAndNothingElse) {
  fs::create_directories(Out("maps/north"));
  fs::create_directories(Out("other"));
  const std::vector<std::string> leftovers = {"~nwq0123ABCD.tmp", "maps/~NWQ89abcdef.TMP",
                                              "maps/north/~nwqFFFFFFFF.tmp"};
  const std::vector<std::string> kept = {"~nwq0123ABCD.tmp.keep", "~nwq0123ABC.tmp",  "~nwq0123ABCDE.tmp",
                                         "nwq0123ABCD.tmp",       "~nwq0123ABCG.tmp", "~nwq0123ABCD.tm",
                                         "other/~nwq00000000.tmp"};  // "other" is not written into
  for (const auto& name : leftovers)
    WriteAll(Out(name), Bytes("left by a killed run"));
  for (const auto& name : kept)
    WriteAll(Out(name), Bytes("someone's file"));
  fs::create_directories(Out("maps/north/~nwq11111111.tmp"));  // a folder is no leftover
  // A temporary file that another run is still writing is not taken from it.
  WriteAll(Out("maps/north/~nwq22222222.tmp"), Bytes("being written"));
  platform::File otherRun;
  ASSERT_TRUE(otherRun.Open(Out("maps/north/~nwq22222222.tmp").wstring(), platform::File::Mode::kReadExclusive));

  PackageBytes package(name_);
  package.Entry(L"", L"top.txt", Bytes("top"))
      .Entry(L"maps", L"a.txt", Bytes("a"))
      .Entry(L"maps\\north", L"b.txt", Bytes("b"));
  ASSERT_EQ(Extract(package, Destination()), S_OK);
  otherRun.Close();
  for (const auto& name : leftovers)
    EXPECT_FALSE(fs::exists(Out(name))) << name;
  for (const auto& name : kept)
    EXPECT_EQ(ReadAll(Out(name)), Bytes("someone's file")) << name;
  EXPECT_TRUE(fs::is_directory(Out("maps/north/~nwq11111111.tmp")));
  EXPECT_EQ(ReadAll(Out("maps/north/~nwq22222222.tmp")), Bytes("being written"));
}

// An observer that asks the engine to stop once `stopWhen` says so.
class StoppingObserver : public package::Observer {
 public:
  void OnEntryStarted(const package::PackageFileRecord& record, const std::wstring&) override {
    current = record.Name();
    questionsInEntry = 0;
  }
  void OnEntryFinished(const std::wstring& outputPath, std::uint64_t, std::uint32_t) override {
    finished.push_back(outputPath);
  }
  bool StopRequested() override {
    ++questionsInEntry;
    return stopWhen(*this);
  }

  std::function<bool(const StoppingObserver&)> stopWhen;
  std::wstring current;
  int questionsInEntry = 0;
  std::vector<std::wstring> finished;
};

class Cancel : public Extraction {
 protected:
  void SetUp() override {
    Extraction::SetUp();
    fs::create_directories(Out("maps"));
    WriteAll(Out("maps/big.bin"), Bytes("the earlier big file"));
    WriteAll(target_.path() / "beside.txt", Bytes("not ours"));
    package_.Entry(L"", L"first.txt", Bytes("first"))
        .Entry(L"maps", L"big.bin", Pattern(100'000))
        .Entry(L"", L"last.txt", Bytes("last"));
    package_.WriteTo(media_.Folder());
  }
  package::Result Run(StoppingObserver& observer) {
    return package::Extract(package::BuildPackagePath(media_.Folder(), name_), name_, Destination(), observer);
  }
  // Whatever the moment of the cancel: the earlier file is whole, nothing
  // half-written remains, nothing beside the destination changed.
  void ExpectCancelledCleanly() {
    EXPECT_EQ(ReadAll(Out("maps/big.bin")), Bytes("the earlier big file"));
    EXPECT_FALSE(fs::exists(Out("last.txt")));
    EXPECT_FALSE(HasTempFile(target_.path()));
    EXPECT_EQ(TreeOf(target_.path()),
              (std::vector<std::string>{"beside.txt", "dest", "dest/first.txt", "dest/maps", "dest/maps/big.bin"}));
    EXPECT_EQ(ReadAll(target_.path() / "beside.txt"), Bytes("not ours"));
  }

  PackageBytes package_{L"Pkg"};
};

TEST_F(Cancel, InTheMiddleOfAnEntryDiscardsItAndKeepsTheEarlierEntries) {
  StoppingObserver observer;
  // Pattern data barely shrinks: 100000 bytes take many 4096-byte chunks.
  observer.stopWhen = [](const StoppingObserver& o) { return o.current == L"big.bin" && o.questionsInEntry == 3; };
  EXPECT_EQ(Run(observer).outcome, package::Outcome::kCancelled);
  EXPECT_EQ(observer.finished, std::vector<std::wstring>{Out("first.txt").wstring()});
  EXPECT_EQ(ReadAll(Out("first.txt")), Bytes("first"));
  ExpectCancelledCleanly();
}

TEST_F(Cancel, BeforeAnEntryStopsWithoutTouchingIt) {
  StoppingObserver observer;
  observer.stopWhen = [](const StoppingObserver& o) { return o.finished.size() == 1; };
  EXPECT_EQ(Run(observer).outcome, package::Outcome::kCancelled);
  EXPECT_EQ(observer.current, L"first.txt");  // big.bin never started
  ExpectCancelledCleanly();
}

}  // namespace
