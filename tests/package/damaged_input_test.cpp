// Packages from a damaged, truncated or hostile medium: reported by name,
// never installed as if good, never written outside the destination.
#include <gtest/gtest.h>

#include <filesystem>

#include "package/package.h"
#if defined(VARNHOLT_FAULT_INJECTION)
#include <cerrno>

#include "platform/fault_injection.h"
#endif
#include "package/recorder.h"
#include "support/package_bytes.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class DamagedInput : public ::testing::Test {
 protected:
  void SetUp() override {
    CallbackRecord::Reset();
    fs::create_directories(root_.path() / "dest");
    WriteAll(root_.path() / "outside.txt", Bytes("untouched"));
  }

  // Runs the extraction and returns the FileError it must raise.
  FileError ExpectFileError(const PackageBytes& package) {
    package.WriteTo(root_.Folder());
    try {
      package::ExtractPackage(root_.Folder(), L"Pkg", root_.Folder(L"dest"), CallbackRecord::OnProgress,
                              CallbackRecord::OnError);
    } catch (const FileError& error) {
      return error;
    }
    ADD_FAILURE() << "no FileError";
    return {};
  }

  // Nothing but the destination's own content and the package changed.
  void ExpectNothingOutside() {
    EXPECT_EQ(TreeOf(root_.path()), (std::vector<std::string>{"Pkg.nwq", "dest", "outside.txt"}));
    EXPECT_EQ(ReadAll(root_.path() / "outside.txt"), Bytes("untouched"));
  }

  std::wstring OutPath(const std::wstring& relative) const { return root_.Folder(L"dest") + relative; }

  TempDir root_;
};

TEST_F(DamagedInput, EntryPathsThatLeaveTheDestinationAreRefused) {
  const struct {
    const wchar_t* folder;
    const wchar_t* name;
  } cases[] = {
      {L"..", L"outside.txt"},
      {L"a\\..\\..", L"outside.txt"},
      {L"", L"..\\outside.txt"},
      {L"\\tmp", L"x.txt"},
      {L"/tmp", L"x.txt"},
      {L"C:\\Windows", L"x.txt"},
      {L"C:", L"x.txt"},
      {L"", L"x.txt:stream"},
      {L"ok", L"CON"},
      {L"lpt1.txt", L"x"},
      {L"", L"nul.txt"},
      {L"a\\.. ", L"x.txt"},
      // Devices by any case, extension or trailing blanks.
      {L"", L"CONOUT$"},
      {L"maps", L"conin$ .log"},
      {L"AUX  ", L"x.txt"},
      {L"", L"Prn.tar.gz"},
      {L"", L"COM\u00B9.txt"},
      {L"..\\dest\\..\\..", L"x.txt"},
      {L"a/../..", L"x.txt"},
      // Named like the extractor's temporary files, which a later run would remove.
      {L"", L"~nwq0123ABCD.tmp"},
      {L"maps", L"~NWQ89abcdef.TMP"},
      {L"", L"sub\\~nwq00000000.tmp"},
  };
  for (const auto& c : cases) {
    CallbackRecord::Reset();
    PackageBytes package(L"Pkg");
    package.Entry(c.folder, c.name, Bytes("evil"));
    const FileError error = ExpectFileError(package);
    std::wstring stored = c.folder;
    if (!stored.empty() && stored.back() != L'\\') stored += L'\\';
    stored += c.name;
    EXPECT_EQ(error.cause(), FileError::kBadPath) << stored;
    EXPECT_EQ(error.fileName(), stored);
    ASSERT_EQ(CallbackRecord::Current().errors.size(), 1u) << stored;
    EXPECT_EQ(CallbackRecord::Current().errors[0],
              L"Der Pfad '" + stored + L"' im Paket f\u00FChrt aus dem Zielordner hinaus.");
    EXPECT_TRUE(fs::is_empty(root_.path() / "dest")) << stored;
    ExpectNothingOutside();
  }
}

TEST_F(DamagedInput, HarmlessDotsAndNamesAreAccepted) {
  PackageBytes package(L"Pkg");
  package.Entry(L".\\a", L"..name.txt", Bytes("1"))
      .Entry(L"console", L"com10.txt", Bytes("2"))
      .Entry(L"~nwq0123ABCD.tmp", L"~nwq0123ABCD.tmp.txt", Bytes("3"))
      .Entry(L"auxiliary", L"CO.txt", Bytes("4"))
      .Entry(L"LPT", L"COMA.dat", Bytes("5"))
      .Entry(L"", L"nul-x.txt", Bytes("6"));
  package.WriteTo(root_.Folder());
  EXPECT_EQ(package::ExtractPackage(root_.Folder(), L"Pkg", root_.Folder(L"dest"), nullptr, nullptr), S_OK);
  EXPECT_EQ(ReadAll(root_.path() / "dest" / "a" / "..name.txt"), Bytes("1"));
  EXPECT_EQ(ReadAll(root_.path() / "dest" / "LPT" / "COMA.dat"), Bytes("5"));
}

std::vector<std::uint8_t> DamagedStreams(int which) {
  auto good = Compress(std::vector<std::uint8_t>(100'000, 'x'));
  switch (which) {
    case 0: good[0] = 0x79; break;                 // header check bits wrong
    case 1: good[good.size() / 2] ^= 0xFF; break;  // deflate data broken
    case 2: good[good.size() - 1] ^= 0x01; break;  // Adler-32 mismatch
    case 3: good = Bytes("plain text, never compressed"); break;
    case 4: good.resize(good.size() - 10); break;  // the stream ends early
  }
  return good;
}

TEST_F(DamagedInput, DamagedStreamsAreReportedAndNeverReplaceAFile) {
  for (int which = 0; which < 5; ++which) {
    for (const bool earlier : {false, true}) {
      SCOPED_TRACE(testing::Message() << "stream " << which << (earlier ? " over an earlier file" : ""));
      CallbackRecord::Reset();
      if (earlier) {
        fs::create_directories(root_.path() / "dest" / "sub");
        WriteAll(root_.path() / "dest" / "sub" / "bad.dat", Bytes("the earlier, good file"));
      }
      PackageBytes package(L"Pkg");
      const auto stored = DamagedStreams(which);
      package.Entry(L"", L"good.txt", Bytes("good"))
          .RawEntry(L"sub", L"bad.dat", stored, static_cast<std::int64_t>(stored.size()))
          .Entry(L"", L"later.txt", Bytes("later"));
      const FileError error = ExpectFileError(package);
      const std::wstring bad = OutPath(L"sub") + platform::kPathSeparator + L"bad.dat";
      EXPECT_EQ(error.cause(), FileError::kDamaged);
      EXPECT_EQ(error.Text(), bad + L" is damaged and cannot be installed.");
      EXPECT_EQ(CallbackRecord::Current().errors,
                std::vector<std::wstring>{L"Die Datei '" + bad + L"' im Paket ist besch\u00E4digt."});
      if (earlier) {
        EXPECT_EQ(TreeOf(root_.path() / "dest"), (std::vector<std::string>{"good.txt", "sub", "sub/bad.dat"}));
        EXPECT_EQ(ReadAll(root_.path() / "dest" / "sub" / "bad.dat"), Bytes("the earlier, good file"));
      } else {
        EXPECT_EQ(TreeOf(root_.path() / "dest"), (std::vector<std::string>{"good.txt", "sub"}));
      }
      EXPECT_EQ(ReadAll(root_.path() / "outside.txt"), Bytes("untouched"));
      fs::remove_all(root_.path() / "dest");
      fs::create_directories(root_.path() / "dest");
    }
  }
}

TEST_F(DamagedInput, APackageCutInsideStoredDataIsDamaged) {
  PackageBytes package(L"Pkg");
  std::vector<std::uint8_t> data(50'000);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + i / 13);
  package.Entry(L"", L"cut.bin", data);
  package.bytes().resize(package.bytes().size() - 100);
  EXPECT_EQ(ExpectFileError(package).cause(), FileError::kDamaged);
  EXPECT_FALSE(fs::exists(root_.path() / "dest" / "cut.bin"));
}

TEST_F(DamagedInput, ANegativeFileSizeIsDamagedAndCreatesNothing) {
  PackageBytes package(L"Pkg");
  package.RawEntry(L"neg", L"n.dat", Compress(Bytes("n")), -5);
  EXPECT_EQ(ExpectFileError(package).cause(), FileError::kDamaged);
  EXPECT_TRUE(fs::is_empty(root_.path() / "dest"));
}

TEST_F(DamagedInput, BytesAfterACompleteStreamAreSkipped) {
  PackageBytes package(L"Pkg");
  auto stored = Compress(Bytes("payload"));
  stored.insert(stored.end(), 5000, 0xAB);
  package.RawEntry(L"", L"a.txt", stored, static_cast<std::int64_t>(stored.size())).Entry(L"", L"b.txt", Bytes("next"));
  package.WriteTo(root_.Folder());
  ASSERT_EQ(package::ExtractPackage(root_.Folder(), L"Pkg", root_.Folder(L"dest"), CallbackRecord::OnProgress,
                                    CallbackRecord::OnError),
            S_OK);
  EXPECT_EQ(ReadAll(root_.path() / "dest" / "a.txt"), Bytes("payload"));
  EXPECT_EQ(ReadAll(root_.path() / "dest" / "b.txt"), Bytes("next"));
  EXPECT_TRUE(CallbackRecord::Current().errors.empty());
  EXPECT_EQ(CallbackRecord::Current().progress.back().percent, 100);
}

TEST_F(DamagedInput, ACompleteStreamWhoseSizeReachesBeyondThePackageEndsIt) {
  // 2^50 lies past any file; INT64_MAX makes the next record's offset overflow.
  for (const std::int64_t fileSize : {std::int64_t{1} << 50, std::int64_t{0x7FFFFFFFFFFFFFFF}}) {
    CallbackRecord::Reset();
    PackageBytes package(L"Pkg");
    package.Entry(L"", L"first.txt", Bytes("first"))
        .RawEntry(L"", L"last.txt", Compress(Bytes("last")), fileSize, 0, 132855446450000000ull);
    package.WriteTo(root_.Folder());
    ASSERT_EQ(package::ExtractPackage(root_.Folder(), L"Pkg", root_.Folder(L"dest"), CallbackRecord::OnProgress,
                                      CallbackRecord::OnError),
              S_OK)
        << fileSize;
    EXPECT_EQ(ReadAll(root_.path() / "dest" / "last.txt"), Bytes("last"));
    platform::FileTimes times;
    ASSERT_TRUE(platform::GetFileTimes(OutPath(L"last.txt"), &times));
    EXPECT_EQ(times.lastWrite, 132855446450000000ull);
    EXPECT_TRUE(CallbackRecord::Current().errors.empty());
    EXPECT_EQ(CallbackRecord::Current().progress.back().percent, 100);
  }
}

#if defined(VARNHOLT_FAULT_INJECTION)
TEST_F(DamagedInput, ADamagedEntrysPartialFileGoesEvenWhenItsCloseFails) {
  platform::fault_injection::ScopedFault fault({platform::fault_injection::Operation::kClose, L"", EIO});
  PackageBytes package(L"Pkg");
  const auto stored = DamagedStreams(1);
  package.RawEntry(L"", L"bad.dat", stored, static_cast<std::int64_t>(stored.size()));
  EXPECT_EQ(ExpectFileError(package).cause(), FileError::kDamaged);
  EXPECT_TRUE(fs::is_empty(root_.path() / "dest"));
}
#endif

TEST_F(DamagedInput, AHugeFileSizeBeyondThePackageIsDamaged) {
  PackageBytes package(L"Pkg");
  const auto stored = Compress(std::vector<std::uint8_t>(20'000, 'q'));
  std::vector<std::uint8_t> half(stored.begin(), stored.begin() + static_cast<long>(stored.size() / 2));
  package.RawEntry(L"", L"huge.dat", half, 0x7FFFFFFFFFFFFFFFll);
  EXPECT_EQ(ExpectFileError(package).cause(), FileError::kDamaged);
  EXPECT_FALSE(fs::exists(root_.path() / "dest" / "huge.dat"));
}

}  // namespace
