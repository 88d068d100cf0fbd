#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>

#include "package/file_times.h"
#include "package/reader.h"
#include "package/size_index.h"
#include "package/trace.h"
#include "platform/platform.h"
#include "platform/text.h"
#if defined(VARNHOLT_FAULT_INJECTION)
#include <cerrno>

#include "platform/fault_injection.h"
#endif
#include "support/allocation_watch.h"
#include "support/package_bytes.h"
#include "support/temp_dir.h"
#include "tools/nwq/commands.h"

namespace fs = std::filesystem;

namespace {

std::string WithoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

class Nwq : public ::testing::Test {
 protected:
  void SetUp() override {
    package::trace::SetEnabled(false);  // as the tool runs without --trace
    source_ = dir_.path() / "source";
    fs::create_directories(source_ / "tiles" / "z12");
    fs::create_directories(source_ / "empty-folder");
    WriteAll(source_ / "readme.txt", Bytes("Karte\r\n"));
    WriteAll(source_ / "tiles" / "z12" / "0_0.csv", std::vector<std::uint8_t>(200'000, ';'));
    WriteAll(source_ / "tiles" / "empty.bin", {});
    std::vector<std::uint8_t> noise(70'000);
    for (std::size_t i = 0; i < noise.size(); ++i)
      noise[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
    WriteAll(source_ / "tiles" / "noise.bin", noise);
    // Whole seconds, as the extractor keeps them.
    platform::FileTimes times;
    times.lastWrite = 132855446450000000ull;
    ASSERT_TRUE(platform::SetFileTimes((source_ / "readme.txt").wstring(), times));
  }

  std::wstring Package(const std::wstring& name = L"Nord.nwq") const { return (dir_.path() / name).wstring(); }

  TempDir dir_;
  fs::path source_;
};

TEST_F(Nwq, CreateVerifyExtractRoundTripKeepsBytesAndTimes) {
  ASSERT_EQ(nwq::Create({Package(), source_.wstring(), L"--title", L"Nordkarte", L"--level", L"9"}), nwq::kExitOk);
  EXPECT_EQ(nwq::Verify({Package()}), nwq::kExitOk);
  const fs::path out = dir_.path() / "out";
  ASSERT_EQ(nwq::Extract({Package(), out.wstring()}), nwq::kExitOk);

  EXPECT_EQ(TreeOf(out), (std::vector<std::string>{"readme.txt", "tiles", "tiles/empty.bin", "tiles/noise.bin",
                                                   "tiles/z12", "tiles/z12/0_0.csv"}));
  for (const char* file : {"readme.txt", "tiles/empty.bin", "tiles/noise.bin", "tiles/z12/0_0.csv"}) {
    EXPECT_EQ(ReadAll(out / file), ReadAll(source_ / file)) << file;
    platform::FileTimes original, extracted;
    ASSERT_TRUE(platform::GetFileTimes((source_ / file).wstring(), &original));
    ASSERT_TRUE(platform::GetFileTimes((out / file).wstring(), &extracted));
    EXPECT_EQ(extracted.lastWrite, package::file_times::ToWholeSeconds(original.lastWrite)) << file;
  }

  package::PackageReader reader;
  ASSERT_EQ(reader.Open(Package(), L"Nord").outcome, package::Outcome::kExtracted);
  EXPECT_EQ(reader.header().GUID(), L"Nord");
  EXPECT_EQ(reader.header().TITLE(), L"Nordkarte");
  std::vector<std::wstring> entries;
  package::PackageFileRecord record;
  while (reader.NextRecord(&record)) {
    entries.push_back(record.Folder() + L"|" + record.Name());
    reader.SkipData();
  }
  EXPECT_EQ(entries,
            (std::vector<std::wstring>{L"|readme.txt", L"tiles|empty.bin", L"tiles|noise.bin", L"tiles\\z12|0_0.csv"}));
}

TEST_F(Nwq, ListShowsTheHeaderAndOneLinePerEntry) {
  PackageBytes(L"Nord", L"Nordkarte")
      .Entry(L"", L"readme.txt", Bytes("r"), 0, 132855446450000000ull)
      .RawEntry(L"tiles\\z12", L"empty.bin", {}, 0, 132593811670000000ull, 0)
      .WriteTo(dir_.path().wstring());
  const std::string stored = std::to_string(Compress(Bytes("r")).size());
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(nwq::List({Package()}), nwq::kExitOk);
  EXPECT_EQ(WithoutCarriageReturns(::testing::internal::GetCapturedStdout()),
            "GUID: Nord\n"
            "TITLE: Nordkarte\n"
            "DESCRIPTION: Beschreibung\n"
            "Version: 2\n"
            "readme.txt\t" +
                stored +
                "\t-\t2022-01-01T21:04:05Z\n"
                "tiles\\z12\\empty.bin\t0\t2021-03-05T01:26:07Z\t-\n");
}

struct Captured {
  int status;
  std::string out, err;
};

template <typename Command>
Captured RunCommand(Command command, const nwq::Arguments& arguments) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = command(arguments);
  std::string out = WithoutCarriageReturns(::testing::internal::GetCapturedStdout());
  return {status, out, ::testing::internal::GetCapturedStderr()};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(Nwq, ListShowsUnpackedSizesAndTheTotalFromTheSizeIndexThatCreateWrites) {
  ASSERT_EQ(nwq::Create({Package(), source_.wstring()}), nwq::kExitOk);
  const Captured list = RunCommand(nwq::List, {Package()});
  EXPECT_EQ(list.status, nwq::kExitOk);
  std::vector<std::string> lines;
  std::istringstream text(list.out);
  for (std::string line; std::getline(text, line);)
    lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u + 4u + 1u);
  const char* unpacked[] = {"\t7", "\t0", "\t70000", "\t200000"};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(lines[4 + i].ends_with(unpacked[i])) << lines[4 + i];
    EXPECT_EQ(std::count(lines[4 + i].begin(), lines[4 + i].end(), '\t'), 4) << lines[4 + i];
  }
  EXPECT_EQ(lines.back(), "Unpacked: 270007");
  const Captured verify = RunCommand(nwq::Verify, {Package()});
  EXPECT_EQ(verify.status, nwq::kExitOk);
  EXPECT_TRUE(Contains(verify.out, "OK, 4 files, 270007 bytes, size index matches")) << verify.out;
}

TEST_F(Nwq, IndexAppendsAnIndexWithoutChangingAByteBeforeItAndLeavesAValidOneAlone) {
  PackageBytes(L"Nord")
      .Entry(L"", L"readme.txt", Bytes("Karte"))
      .Entry(L"tiles", L"a.bin", std::vector<std::uint8_t>(100'000, 'a'))
      .WriteTo(dir_.path().wstring());
  const std::vector<std::uint8_t> before = ReadAll(Package());
  const Captured index = RunCommand(nwq::Index, {Package()});
  EXPECT_EQ(index.status, nwq::kExitOk) << index.err;
  EXPECT_TRUE(Contains(index.out, "size index added; 2 files, 100005 bytes unpacked")) << index.out;
  const std::vector<std::uint8_t> after = ReadAll(Package());
  ASSERT_GT(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
  const package::size_index::SizeIndex read = package::size_index::ReadFile(Package());
  ASSERT_TRUE(read.IsValid()) << text::ToUtf8(read.damage);
  EXPECT_EQ(read.contentsEnd, before.size());
  EXPECT_EQ(read.entries,
            (std::vector<package::size_index::Entry>{
                {L"", L"readme.txt", 5, Compress(Bytes("Karte")).size()},
                {L"tiles", L"a.bin", 100'000, Compress(std::vector<std::uint8_t>(100'000, 'a')).size()}}));
  EXPECT_TRUE(Contains(RunCommand(nwq::Verify, {Package()}).out, "size index matches"));

  const Captured again = RunCommand(nwq::Index, {Package()});
  EXPECT_EQ(again.status, nwq::kExitOk);
  EXPECT_TRUE(Contains(again.out, "has a valid size index; left as it is")) << again.out;
  EXPECT_EQ(ReadAll(Package()), after);
  EXPECT_EQ(nwq::Index({}), nwq::kExitUsage);
}

TEST_F(Nwq, ADamagedIndexIsReportedByVerifyIgnoredByListAndReplacedByIndex) {
  ASSERT_EQ(nwq::Create({Package(), source_.wstring()}), nwq::kExitOk);
  const std::vector<std::uint8_t> created = ReadAll(Package());
  const package::size_index::SizeIndex written = package::size_index::ReadFile(Package());
  ASSERT_TRUE(written.IsValid());
  const std::size_t offset = written.contentsEnd;
  auto reindexed = [&](std::vector<package::size_index::Entry> entries) {
    std::vector<std::uint8_t> bytes(created.begin(), created.begin() + static_cast<std::ptrdiff_t>(offset));
    const std::vector<std::uint8_t> index = package::size_index::Encode(entries, offset);
    bytes.insert(bytes.end(), index.begin(), index.end());
    return bytes;
  };
  std::vector<package::size_index::Entry> wrongSize = written.entries, oneFewer = written.entries;
  wrongSize[2].unpackedSize += 1;
  oneFewer.pop_back();
  std::vector<std::uint8_t> flippedData = created, flippedFooter = created, cut = created;
  flippedData[offset + package::kPackageFileRecordSize + 10] ^= 0x01;
  flippedFooter[created.size() - package::size_index::kFooterSize + 9] ^= 0x10;
  cut.resize(cut.size() - 40);
  const struct {
    const char* label;
    std::vector<std::uint8_t> bytes;
    std::string why;
    bool listSeesIt = true;  // list decodes nothing, so it cannot check the sizes
  } cases[] = {
      {"a byte of its data", flippedData, "size index damaged: its checksum does not match"},
      {"a byte of its footer", flippedFooter, "size index damaged: its checksum does not match"},
      {"a cut inside it", cut, "size index damaged: the file does not end in its footer"},
      {"an entry too few", reindexed(oneFewer), "size index damaged: its entries end at offset"},
      {"a wrong unpacked size", reindexed(wrongSize),
       "size index does not match the entries: tiles\\noise.bin: 70001 bytes unpacked in the index, 70000 in its "
       "stream",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteAll(Package(), c.bytes);
    const Captured verify = RunCommand(nwq::Verify, {Package()});
    EXPECT_EQ(verify.status, nwq::kExitFailed);
    EXPECT_TRUE(Contains(verify.err, "Nord.nwq: " + c.why)) << verify.err;
    const Captured list = RunCommand(nwq::List, {Package()});
    EXPECT_EQ(list.status, nwq::kExitOk);
    EXPECT_EQ(Contains(list.out, "Unpacked:"), !c.listSeesIt) << list.out;
    EXPECT_TRUE(Contains(list.out, "tiles\\z12\\0_0.csv\t")) << list.out;
    const Captured index = RunCommand(nwq::Index, {Package()});
    EXPECT_EQ(index.status, nwq::kExitOk) << index.err;
    EXPECT_TRUE(Contains(index.out, "size index replaced (")) << index.out;
    EXPECT_EQ(ReadAll(Package()), created);
  }
}

TEST_F(Nwq, IndexRefusesPackagesItCannotIndexSafelyAndLeavesThemAsTheyAre) {
  auto damagedStream = Compress(std::vector<std::uint8_t>(10'000, 'z'));
  damagedStream[damagedStream.size() / 2] ^= 0x55;
  const struct {
    const char* label;
    std::vector<std::uint8_t> bytes;
    std::string why;
  } cases[] = {
      {"foreign bytes behind the entries",
       PackageBytes(L"Nord").Entry(L"", L"a.txt", Bytes("a")).Append(std::vector<std::uint8_t>(100, 7)).bytes(),
       "Nord.nwq: not indexed: the 100 bytes after its last entry are not a size index"},
      {"a damaged stream",
       PackageBytes(L"Nord")
           .RawEntry(L"", L"bad.txt", damagedStream, static_cast<std::int64_t>(damagedStream.size()))
           .bytes(),
       "Nord.nwq: not indexed: it does not verify"},
      {"a last entry claiming more than the file holds",
       PackageBytes(L"Nord").RawEntry(L"", L"b.txt", Compress(Bytes("b")), std::int64_t{1} << 50).bytes(),
       "Nord.nwq: not indexed: its last entry claims more bytes than the file holds"},
      {"an unsafe path", PackageBytes(L"Nord").Entry(L"..", L"evil.txt", Bytes("evil")).bytes(),
       "not indexed: it does not verify"},
      {"another package's header", PackageBytes(L"Other").Entry(L"", L"a.txt", Bytes("a")).bytes(),
       "its header names 'Other', its file name 'Nord'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteAll(Package(), c.bytes);
    const Captured index = RunCommand(nwq::Index, {Package()});
    EXPECT_EQ(index.status, nwq::kExitFailed);
    EXPECT_TRUE(Contains(index.err, c.why)) << index.err;
    EXPECT_EQ(ReadAll(Package()), c.bytes);
  }
}

// The walk stops early at a record it cannot read, and the entries behind
// it are still in the file: only where an index starts do the entries end.
TEST_F(Nwq, IndexNeverCutsOffEntriesBehindARecordTheWalkStopsAt) {
  ASSERT_EQ(nwq::Create({Package(), source_.wstring()}), nwq::kExitOk);
  const std::vector<std::uint8_t> created = ReadAll(Package());
  const package::size_index::SizeIndex written = package::size_index::ReadFile(Package());
  ASSERT_TRUE(written.IsValid());
  ASSERT_EQ(written.entries.size(), 4u);
  const std::size_t offset = written.contentsEnd;
  const std::size_t third = package::kPackageHeaderSize + 2 * package::kPackageFileRecordSize +
                            written.entries[0].storedSize + written.entries[1].storedSize;
  std::vector<std::uint8_t> stopped = created;
  stopped[third] ^= 0x01;  // "FILE" becomes "GILE"
  ASSERT_EQ(stopped[third], 'G');
  std::vector<std::uint8_t> alsoDamaged = stopped;
  alsoDamaged[offset + package::kPackageFileRecordSize + 10] ^= 0x01;
  // An index of the first two entries that checks out, though not where the walk stops.
  std::vector<std::uint8_t> twoListed(stopped.begin(), stopped.begin() + static_cast<std::ptrdiff_t>(offset));
  const std::vector<std::uint8_t> twoIndexed =
      package::size_index::Encode({written.entries[0], written.entries[1]}, offset);
  twoListed.insert(twoListed.end(), twoIndexed.begin(), twoIndexed.end());
  const struct {
    const char* label;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"a valid index behind the entries", stopped},
      {"a damaged index behind them", alsoDamaged},
      {"an index that checks out but lists fewer", twoListed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteAll(Package(), c.bytes);
    EXPECT_EQ(RunCommand(nwq::Verify, {Package()}).status, nwq::kExitFailed);
    const Captured index = RunCommand(nwq::Index, {Package()});
    EXPECT_EQ(index.status, nwq::kExitFailed);
    EXPECT_TRUE(Contains(index.err, "Nord.nwq: not indexed: it does not verify")) << index.err;
    EXPECT_EQ(ReadAll(Package()), c.bytes);
  }
  // Left as it was, the one bit is all there is to mend.
  std::vector<std::uint8_t> mended = ReadAll(Package());
  mended[third] ^= 0x01;
  mended.resize(offset);
  mended.insert(mended.end(), created.begin() + static_cast<std::ptrdiff_t>(offset), created.end());
  WriteAll(Package(), mended);
  EXPECT_TRUE(Contains(RunCommand(nwq::Verify, {Package()}).out, "OK, 4 files, 270007 bytes, size index matches"));
}

// Whatever goes wrong in a command ends it with its exit status and a
// message, never the program: here memory that runs out.
TEST_F(Nwq, ACommandThatRunsOutOfMemoryFailsWithAMessage) {
  ASSERT_EQ(nwq::Create({Package(), source_.wstring()}), nwq::kExitOk);
  constexpr std::size_t kLimit = 512 * 1024;  // below the buffers that decoding takes
  const fs::path out = dir_.path() / "out";
  const struct {
    const char* label;
    std::function<int()> run;
  } cases[] = {
      {"extract",
       [&] {
         return nwq::Extract({Package(), out.wstring(), L"--jobs", L"2"});
       }},
      {"list", [&] { return nwq::List({Package()}); }},
      {"verify", [&] { return nwq::Verify({Package()}); }},
      {"index", [&] { return nwq::Index({Package()}); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    int status = -1;
    bool escaped = false;
    std::size_t refused = 0;
    {
      AllocationWatch limited(kLimit);
      try {
        status = c.run();
      } catch (...) {
        escaped = true;
      }
      refused = limited.Refused();
    }
    ::testing::internal::GetCapturedStdout();
    const std::string error = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(escaped) << "an exception escaped";
    EXPECT_GT(refused, 0u);
    EXPECT_EQ(status, nwq::kExitFailed);
    EXPECT_TRUE(Contains(error, "Nord.nwq: out of memory")) << error;
  }
}

#if defined(VARNHOLT_FAULT_INJECTION)
TEST_F(Nwq, AnIndexThatCannotBeWrittenLeavesNothingOfItBehind) {
  PackageBytes(L"Nord").Entry(L"", L"a.txt", Bytes("a")).WriteTo(dir_.path().wstring());
  const std::vector<std::uint8_t> before = ReadAll(Package());
  {
    namespace fi = platform::fault_injection;
    fi::ScopedFault full({fi::Operation::kWrite, L"Nord.nwq", ENOSPC, 500});
    const Captured index = RunCommand(nwq::Index, {Package()});
    EXPECT_EQ(index.status, nwq::kExitFailed);
    EXPECT_TRUE(Contains(index.err, "Disk full while accessing")) << index.err;
  }
  EXPECT_EQ(ReadAll(Package()), before);
}
#endif

TEST_F(Nwq, APackageCutShortInsideARecordHeaderIsCaughtWhenItHasAnIndex) {
  PackageBytes package(L"Nord");
  package.Entry(L"", L"a.txt", Bytes("a")).Entry(L"", L"b.txt", Bytes("b"));
  // What the format reads as a complete package of one entry: the second
  // record breaks off after 300 bytes.
  std::vector<std::uint8_t> bytes = package.bytes();
  const std::size_t second =
      package::kPackageHeaderSize + package::kPackageFileRecordSize + Compress(Bytes("a")).size();
  bytes.resize(second + 300);
  WriteAll(Package(), bytes);
  EXPECT_EQ(RunCommand(nwq::Verify, {Package()}).status, nwq::kExitOk);

  const std::vector<package::size_index::Entry> listed = {{L"", L"a.txt", 1, Compress(Bytes("a")).size()},
                                                          {L"", L"b.txt", 1, Compress(Bytes("b")).size()}};
  const std::vector<std::uint8_t> index = package::size_index::Encode(listed, bytes.size());
  bytes.insert(bytes.end(), index.begin(), index.end());
  WriteAll(Package(), bytes);
  const Captured verify = RunCommand(nwq::Verify, {Package()});
  EXPECT_EQ(verify.status, nwq::kExitFailed);
  EXPECT_TRUE(Contains(verify.err, "size index damaged")) << verify.err;
}

TEST_F(Nwq, EveryCommandReadsExactlyTheFileItIsGivenAndSaysWhyItRefusesOne) {
  PackageBytes(L"Nord").Entry(L"", L"a.txt", Bytes("a")).WriteTo(dir_.path().wstring());
  fs::copy_file(Package(), Package(L"Nord.old"));
  fs::copy_file(Package(), Package(L"Copy.nwq"));
  PackageBytes(L"Old", L"t", 3).WriteTo(dir_.path().wstring());
  PackageBytes magic(L"Magic");
  magic.bytes()[0] = 'M';
  magic.WriteTo(dir_.path().wstring());
  WriteAll(dir_.path() / "Short.nwq", Bytes("NWQ"));
  const fs::path out = dir_.path() / "out";
  const struct {
    std::wstring file;
    std::string why;
  } cases[] = {
      {L"Nord.old", "Nord.old: not a package: its name does not end in .nwq"},
      {L"Copy.nwq", "Copy.nwq: not a valid package: its header names 'Nord', its file name 'Copy'"},
      {L"Old.nwq", "Old.nwq: not a valid package: version 3, not 2"},
      {L"Magic.nwq", "Magic.nwq: not a valid package: it does not begin with NWQ"},
      {L"Short.nwq", "Short.nwq: not a valid package: shorter than its 924-byte header"},
      {L"Gone.nwq", "Gone.nwq: not found"},
  };
  for (const auto& c : cases) {
    for (int command = 0; command < 3; ++command) {
      ::testing::internal::CaptureStderr();
      const int status = command == 0   ? nwq::List({Package(c.file)})
                         : command == 1 ? nwq::Verify({Package(c.file)})
                                        : nwq::Extract({Package(c.file), out.wstring()});
      const std::string error = ::testing::internal::GetCapturedStderr();
      EXPECT_EQ(status, nwq::kExitFailed) << c.why << " " << command;
      EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
  }
  EXPECT_FALSE(fs::exists(out / "a.txt"));
}

std::string ReadText(const std::wstring& path) {
  platform::File file;
  if (!file.Open(path, platform::File::Mode::kReadExclusive)) return "(cannot open)";
  std::string text(64, '\0');
  text.resize(file.Read(text.data(), text.size()));
  return text;
}

// The tools run in the C locale, where std::filesystem cannot convert such
// paths from wide strings; so they are joined here as strings.
TEST_F(Nwq, EveryCommandTakesFoldersAndNamesBeyondAscii) {
  constexpr wchar_t sep = platform::kPathSeparator;
  const std::wstring source = dir_.Folder() + L"Qu\u00E9bec";
  ASSERT_TRUE(platform::CreateFolderTree(source + sep + L"H\u00F6hen"));
  for (const std::wstring& file :
       {std::wstring(L"readme.txt"), L"H\u00F6hen" + std::wstring(1, sep) + L"Stra\u00DFe.txt"}) {
    platform::File out;
    ASSERT_TRUE(out.Open(source + sep + file, platform::File::Mode::kCreateWriteExclusive));
    out.Write("Weg", 3);
    out.Close();
  }
  const std::wstring packages = dir_.Folder() + L"\u00C4";
  ASSERT_TRUE(platform::CreateFolderTree(packages));
  const std::wstring package = packages + sep + L"S\u00FCd.nwq";

  ASSERT_EQ(RunCommand(nwq::Create, {package, source}).status, nwq::kExitOk);
  EXPECT_EQ(RunCommand(nwq::Verify, {package}).status, nwq::kExitOk);
  const Captured listed = RunCommand(nwq::List, {package});
  EXPECT_EQ(listed.status, nwq::kExitOk);
  EXPECT_NE(listed.out.find("GUID: S\xC3\xBC"
                            "d\n"),
            std::string::npos)
      << listed.out;
  EXPECT_NE(listed.out.find("H\xC3\xB6hen\\Stra\xC3\x9F"
                            "e.txt\t"),
            std::string::npos)
      << listed.out;

  const std::wstring destination = dir_.Folder() + L"Z\u00FCrich";
  for (const std::wstring& spelt : {destination, destination + sep + sep, destination + sep + L"." + sep}) {
    ASSERT_EQ(RunCommand(nwq::Extract, {package, spelt}).status, nwq::kExitOk) << text::ToUtf8(spelt);
    EXPECT_EQ(ReadText(destination + sep + L"H\u00F6hen" + sep + L"Stra\u00DFe.txt"), "Weg");
    EXPECT_EQ(ReadText(destination + sep + L"readme.txt"), "Weg");
    ASSERT_TRUE(platform::RemoveFile(destination + sep + L"readme.txt"));
  }

  const std::wstring missing = packages + sep + L"Fehlt.nwq";
  for (const Captured& refused : {RunCommand(nwq::List, {missing}), RunCommand(nwq::Verify, {missing}),
                                  RunCommand(nwq::Extract, {missing, destination})}) {
    EXPECT_EQ(refused.status, nwq::kExitFailed);
    EXPECT_NE(refused.err.find("\xC3\x84" + std::string(1, static_cast<char>(sep)) + "Fehlt.nwq: not found"),
              std::string::npos)
        << refused.err;
  }
}

TEST_F(Nwq, ACompleteLastStreamWhoseSizeReachesBeyondThePackageEndsIt) {
  PackageBytes(L"Nord")
      .Entry(L"", L"a.txt", Bytes("a"))
      .RawEntry(L"", L"b.txt", Compress(Bytes("b")), std::int64_t{1} << 50)
      .WriteTo(dir_.path().wstring());
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(nwq::List({Package()}), nwq::kExitOk);
  const std::string listing = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(listing.find("b.txt\t1125899906842624\t"), std::string::npos) << listing;
  EXPECT_EQ(nwq::Verify({Package()}), nwq::kExitOk);
  EXPECT_EQ(nwq::Extract({Package(), (dir_.path() / "out").wstring()}), nwq::kExitOk);
  EXPECT_EQ(ReadAll(dir_.path() / "out" / "b.txt"), Bytes("b"));
}

TEST_F(Nwq, CreateRefusesTextsThatDoNotFitAndBadArguments) {
  EXPECT_EQ(nwq::Create({Package(), source_.wstring(), L"--title", std::wstring(100, L't')}), nwq::kExitUsage);
  EXPECT_EQ(nwq::Create({Package(std::wstring(100, L'g') + L".nwq"), source_.wstring()}), nwq::kExitUsage);
  EXPECT_EQ(nwq::Create({Package(), source_.wstring(), L"--level", L"10"}), nwq::kExitUsage);
  EXPECT_EQ(nwq::Create({Package(L"Nord.zip"), source_.wstring()}), nwq::kExitUsage);
  EXPECT_EQ(nwq::Create({Package()}), nwq::kExitUsage);
  EXPECT_FALSE(fs::exists(Package()));
  EXPECT_EQ(nwq::Create({Package(), (dir_.path() / "missing").wstring()}), nwq::kExitFailed);
  EXPECT_EQ(nwq::Create({Package(), source_.wstring(), L"--help"}), nwq::kExitOk);
}

TEST_F(Nwq, CreateDoesNotTouchAnExistingFileItCannotReplace) {
  fs::create_directories(dir_.path() / "Nord.nwq");
  EXPECT_EQ(nwq::Create({Package(), source_.wstring()}), nwq::kExitFailed);
  EXPECT_TRUE(fs::is_directory(dir_.path() / "Nord.nwq"));
}

TEST_F(Nwq, ExtractWithAnyNumberOfJobsGivesTheSameFilesAndRefusesABadCount) {
  ASSERT_EQ(nwq::Create({Package(), source_.wstring()}), nwq::kExitOk);
  const fs::path one = dir_.path() / "one", three = dir_.path() / "three";
  ASSERT_EQ(nwq::Extract({Package(), one.wstring(), L"--jobs", L"1"}), nwq::kExitOk);
  ASSERT_EQ(nwq::Extract({L"--jobs", L"3", Package(), three.wstring()}), nwq::kExitOk);
  EXPECT_EQ(TreeOf(one), TreeOf(three));
  for (const char* file : {"readme.txt", "tiles/empty.bin", "tiles/noise.bin", "tiles/z12/0_0.csv"})
    EXPECT_EQ(ReadAll(three / file), ReadAll(source_ / file)) << file;
  const fs::path refused = dir_.path() / "refused";
  for (const wchar_t* jobs : {L"0", L"65", L"-1", L"two", L"", L"1x", L"007"})
    EXPECT_EQ(nwq::Extract({Package(), refused.wstring(), L"--jobs", jobs}), nwq::kExitUsage) << jobs;
  EXPECT_EQ(nwq::Extract({Package(), refused.wstring(), L"--jobs"}), nwq::kExitUsage);
  EXPECT_EQ(nwq::Extract({Package(), L"--jobs", L"2"}), nwq::kExitUsage);
  EXPECT_FALSE(fs::exists(refused));
}

// A packager's working tree refreshed: a file of its entry's size and
// modified time is taken as the entry's without being read (the byte changed
// below stays), every other one is written again.
TEST_F(Nwq, ExtractUpdateLeavesFilesOfTheirEntrysSizeAndTimeAndWritesTheRest) {
  ASSERT_EQ(nwq::Create({Package(), source_.wstring()}), nwq::kExitOk);
  const fs::path out = dir_.path() / "out";
  ASSERT_EQ(RunCommand(nwq::Extract, {Package(), out.wstring()}).status, nwq::kExitOk);
  const auto change = [](const fs::path& file, std::vector<std::uint8_t> bytes, std::int64_t seconds) {
    platform::FileTimes times;
    ASSERT_TRUE(platform::GetFileTimes(file.wstring(), &times));
    WriteAll(file, bytes);
    platform::FileTimes changed;
    changed.lastWrite = times.lastWrite + static_cast<std::uint64_t>(seconds * 10'000'000);
    ASSERT_TRUE(platform::SetFileTimes(file.wstring(), changed));
  };
  std::vector<std::uint8_t> flipped = ReadAll(out / "tiles" / "noise.bin");
  flipped[5] ^= 0x01;
  change(out / "tiles" / "noise.bin", flipped, 0);
  change(out / "readme.txt", ReadAll(out / "readme.txt"), 1);
  std::vector<std::uint8_t> longer = ReadAll(out / "tiles" / "z12" / "0_0.csv");
  longer.push_back(';');
  change(out / "tiles" / "z12" / "0_0.csv", longer, 0);
  fs::remove(out / "tiles" / "empty.bin");

  const Captured update = RunCommand(nwq::Extract, {Package(), out.wstring(), L"--update", L"--jobs", L"2"});
  EXPECT_EQ(update.status, nwq::kExitOk) << update.err;
  EXPECT_TRUE(Contains(update.out, "files unchanged: 1\n")) << update.out;
  EXPECT_EQ(ReadAll(out / "tiles" / "noise.bin"), flipped);
  for (const char* file : {"readme.txt", "tiles/empty.bin", "tiles/z12/0_0.csv"})
    EXPECT_EQ(ReadAll(out / file), ReadAll(source_ / file)) << file;
  EXPECT_TRUE(Contains(RunCommand(nwq::Extract, {Package(), out.wstring(), L"--update"}).out, "files unchanged: 4\n"));

  // Without a valid index the tool cannot know the sizes, and says so.
  PackageBytes(L"Plain").Entry(L"", L"a.txt", Bytes("a"), 0, 132855446450000000ull).WriteTo(dir_.path().wstring());
  for (int run = 0; run < 2; ++run) {
    const Captured plain = RunCommand(nwq::Extract, {Package(L"Plain.nwq"), out.wstring(), L"--update"});
    EXPECT_EQ(plain.status, nwq::kExitOk);
    EXPECT_TRUE(Contains(plain.out, "files unchanged: 0\n")) << plain.out;
    EXPECT_TRUE(Contains(plain.err, "Plain.nwq: no valid size index, so every file is written")) << plain.err;
  }
}

// An unset variable in a script ("$DEST") hands over an empty destination,
// which once became the root of the file system. The package's only entry is
// refused before anything is written, so that a run into the root leaves no
// trace there either.
TEST_F(Nwq, ExtractRefusesAnEmptyDestination) {
  PackageBytes(L"Root").Entry(L"..", L"evil.txt", Bytes("evil")).WriteTo(dir_.path().wstring());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(nwq::Extract({Package(L"Root.nwq"), L""}), nwq::kExitUsage);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "nwq: DEST must name a folder, it is empty\n");
}

TEST_F(Nwq, VerifyAndExtractFailOnDamagedOrInvalidPackages) {
  auto stored = Compress(std::vector<std::uint8_t>(10'000, 'z'));
  stored[stored.size() / 2] ^= 0x55;
  PackageBytes(L"Bad")
      .Entry(L"", L"ok.txt", Bytes("ok"))
      .RawEntry(L"", L"bad.txt", stored, static_cast<std::int64_t>(stored.size()))
      .WriteTo(dir_.path().wstring());
  PackageBytes(L"Good").Entry(L"", L"ok.txt", Bytes("ok")).WriteTo(dir_.path().wstring());
  PackageBytes(L"Evil").Entry(L"..", L"evil.txt", Bytes("evil")).WriteTo(dir_.path().wstring());
  EXPECT_EQ(nwq::Verify({Package(L"Good.nwq")}), nwq::kExitOk);
  EXPECT_EQ(nwq::Verify({Package(L"Good.nwq"), Package(L"Bad.nwq")}), nwq::kExitFailed);
  EXPECT_EQ(nwq::Verify({Package(L"Evil.nwq")}), nwq::kExitFailed);
  EXPECT_EQ(nwq::Verify({Package(L"Missing.nwq")}), nwq::kExitFailed);
  EXPECT_EQ(nwq::Extract({Package(L"Bad.nwq"), (dir_.path() / "out").wstring()}), nwq::kExitFailed);
  EXPECT_FALSE(fs::exists(dir_.path() / "out" / "bad.txt"));
  EXPECT_EQ(nwq::Extract({Package(L"Evil.nwq"), (dir_.path() / "out").wstring()}), nwq::kExitFailed);
  EXPECT_FALSE(fs::exists(dir_.path() / "evil.txt"));
  EXPECT_EQ(nwq::Extract({Package(L"Missing.nwq"), (dir_.path() / "out").wstring()}), nwq::kExitFailed);
  EXPECT_EQ(nwq::List({Package(L"Missing.nwq")}), nwq::kExitFailed);
}

TEST_F(Nwq, ListOfAFolderShowsTheCatalogue) {
  PackageBytes(L"A", L"Alpha").WriteTo(dir_.path().wstring());
  PackageBytes(L"B", L"Beta").WriteTo(dir_.path().wstring());
  fs::copy_file(Package(L"B.nwq"), Package(L"NotB.nwq"));
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(nwq::List({dir_.path().wstring()}), nwq::kExitOk);
  std::vector<std::string> lines;
  std::istringstream listing(WithoutCarriageReturns(::testing::internal::GetCapturedStdout()));
  for (std::string line; std::getline(listing, line);)
    lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"A\tAlpha", "B\tBeta"}));
  EXPECT_EQ(nwq::List({}), nwq::kExitUsage);
  EXPECT_EQ(nwq::Verify({}), nwq::kExitUsage);
  EXPECT_EQ(nwq::Extract({Package()}), nwq::kExitUsage);
}

}  // namespace
