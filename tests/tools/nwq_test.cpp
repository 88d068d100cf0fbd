#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "package/file_times.h"
#include "package/reader.h"
#include "package/trace.h"
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
    package_trace::SetEnabled(false);  // as the tool runs without --trace
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
    EXPECT_EQ(extracted.lastWrite, file_times::ToWholeSeconds(original.lastWrite)) << file;
  }

  PackageReader reader;
  ASSERT_EQ(reader.Open(Package(), L"Nord").outcome, package_engine::Outcome::kExtracted);
  EXPECT_EQ(reader.header().GUID(), L"Nord");
  EXPECT_EQ(reader.header().TITLE(), L"Nordkarte");
  std::vector<std::wstring> entries;
  PackageFileRecord record;
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
