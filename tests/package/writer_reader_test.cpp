#include <gtest/gtest.h>

#include <zlib.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include "package/package_path.h"
#include "package/reader.h"
#include "package/record_walker.h"
#include "package/recorder.h"
#include "package/size_index.h"
#include "package/trace.h"
#include "package/writer.h"
#include "platform/text.h"
#include "support/allocation_watch.h"
#include "support/package_bytes.h"
#include "support/temp_dir.h"

namespace {

TEST(PackageWriter, WhatItWritesReadsBackEntryByEntry) {
  TempDir dir;
  const std::wstring path = dir.File(L"Round.nwq");
  {
    package::PackageWriter writer(path, *package::PackageHeader::Make(L"Round", L"Rund", L"D"));
    writer.AddData(L"", L"a.txt", "alpha", 5, 1, 2);
    writer.AddData(L"x\\y", L"empty", "", 0, 3, 4);
    std::vector<char> big(3'000'000, 'b');
    writer.AddData(L"x", L"big", big.data(), big.size(), 5, 6);
    writer.Close();
  }
  package::PackageReader reader;
  ASSERT_EQ(reader.Open(path, L"Round").outcome, package::Outcome::kExtracted);
  EXPECT_EQ(reader.header().TITLE(), L"Rund");
  const struct {
    const wchar_t* folder;
    const wchar_t* name;
    std::uint64_t bytes;
    std::uint64_t created;
  } expected[] = {{L"", L"a.txt", 5, 1}, {L"x\\y", L"empty", 0, 3}, {L"x", L"big", 3'000'000, 5}};
  for (const auto& e : expected) {
    package::PackageFileRecord record;
    ASSERT_TRUE(reader.NextRecord(&record));
    EXPECT_EQ(record.Folder(), e.folder);
    EXPECT_EQ(record.Name(), e.name);
    EXPECT_EQ(record.CreateDate(), e.created);
    EXPECT_EQ(record.ModifiedDate(), e.created + 1);
    std::uint64_t decoded = 0;
    EXPECT_EQ(reader.VerifyData(&decoded), package::StreamState::kComplete);
    EXPECT_EQ(decoded, e.bytes);
  }
  package::PackageFileRecord end;
  EXPECT_FALSE(reader.NextRecord(&end));

  // The index behind the entries lists each of them with its unpacked size.
  const package::size_index::SizeIndex& index = reader.index();
  ASSERT_TRUE(index.IsValid()) << index.damage;
  EXPECT_EQ(index.contentsEnd, reader.EntriesEnd());
  ASSERT_EQ(index.entries.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(index.entries[i].folder, expected[i].folder);
    EXPECT_EQ(index.entries[i].name, expected[i].name);
    EXPECT_EQ(index.entries[i].unpackedSize, expected[i].bytes);
  }
  EXPECT_EQ(index.UnpackedTotal(), 3'000'005u);
  EXPECT_EQ(std::filesystem::file_size(path), index.contentsEnd + package::size_index::Encode(index.entries, 0).size());
}

// A walk that reads each entry's check value with the record behind it
// meets the same entries and ends where a plain walk does: at a record cut
// short by the package's end, or after a step back.
TEST(RecordWalker, ATailReadWithTheNextRecordLeavesTheWalkAsItWas) {
  PackageBytes package(L"Walk");
  package.Entry(L"a", L"one", Pattern(5'000))
      .RawEntry(L"a", L"short", {1, 2, 3}, 3)
      .Entry(L"", L"two", Pattern(700))
      .Entry(L"b", L"three", Pattern(40));
  TempDir dir;
  const std::vector<std::uint8_t> whole = package.bytes();
  for (const std::size_t cut : {std::size_t{0}, std::size_t{100}}) {
    SCOPED_TRACE(cut);
    PackageBytes cutShort = package;
    cutShort.Append(std::vector<std::uint8_t>(whole.begin() + package::kPackageHeaderSize,
                                              whole.begin() + package::kPackageHeaderSize + cut));
    platform::File file;
    file.Open(cutShort.WriteTo(dir.Folder()), platform::File::Mode::kReadExclusive);
    auto walk = [&](bool tails) {
      std::vector<std::wstring> seen;
      package::RecordWalker walker(file, package::kPackageHeaderSize, file.Length());
      package::PackageFileRecord record;
      bool steppedBack = false;
      std::uint64_t firstOffset = 0;
      std::int64_t firstSize = 0;
      while (walker.Next(&record)) {
        seen.push_back(record.Name() + L" " + std::to_wstring(walker.dataOffset()));
        if (seen.size() == 1) {
          firstOffset = walker.dataOffset();
          firstSize = walker.dataSize();
        }
        if (!tails) continue;
        std::uint8_t tail[4];
        const bool read = walker.ReadTail(tail, sizeof tail);
        EXPECT_EQ(read, walker.dataSize() >= 4) << record.Name();
        if (read) {
          EXPECT_TRUE(
              std::equal(tail, tail + 4, cutShort.bytes().begin() + walker.dataOffset() + walker.dataSize() - 4));
        }
        if (record.Name() == L"two" && !steppedBack) {
          // As a retry does: the record read ahead is not taken for another.
          steppedBack = true;
          walker.ResumeAfter(firstOffset, firstSize);
        }
      }
      seen.push_back(L"end " + std::to_wstring(walker.entriesEnd()));
      return seen;
    };
    const std::vector<std::wstring> plain = walk(false);
    std::vector<std::wstring> expected = plain;
    // The step back walks "short" and "two" once more.
    expected.insert(expected.begin() + 3, plain.begin() + 1, plain.begin() + 3);
    EXPECT_EQ(walk(true), expected);
    EXPECT_EQ(plain.size(), 5u);
  }
}

TEST(PackageWriter, RefusesTextsThatDoNotFitAndReportsUncreatableFiles) {
  TempDir dir;
  package::PackageWriter writer(dir.File(L"T.nwq"), *package::PackageHeader::Make(L"T", L"", L""));
  EXPECT_THROW(writer.AddData(std::wstring(259, L'f'), L"n", "", 0, 0, 0), package::PackageWriter::TextTooLong);
  EXPECT_THROW(package::PackageWriter(dir.File(L"missing/T.nwq"), *package::PackageHeader::Make(L"T", L"", L"")),
               FileError);
}

TEST(PackageWriter, AHeaderThatCannotBeWrittenLeavesNoPackage) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs a file size limit";
#else
  TempDir dir;
  const std::wstring path = dir.File(L"Cut.nwq");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  rlimit tight = old;
  tight.rlim_cur = 100;  // the header is 924 bytes
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  bool raised = false;
  try {
    package::PackageWriter writer(path, *package::PackageHeader::Make(L"Cut", L"", L""));
  } catch (const FileError&) {
    raised = true;
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldSignal);
  EXPECT_TRUE(raised);
  EXPECT_FALSE(std::filesystem::exists(path));
#endif
}

std::uint64_t Le(const std::vector<std::uint8_t>& bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

void PutLe(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The checksum in the footer made right again after a test changed the index:
// what a hostile package would do to get past it.
void Reseal(std::vector<std::uint8_t>& bytes) {
  const std::size_t footer = bytes.size() - package::size_index::kFooterSize;
  const auto offset = static_cast<std::size_t>(Le(bytes, footer, 8));
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), bytes.data() + offset, static_cast<uInt>(footer - offset));
  PutLe(bytes, footer + 8, crc, 4);
}

class SizeIndexTest : public ::testing::Test {
 protected:
  // Three entries, the empty one in the middle, so the last chunk read is the
  // last byte of the entries.
  void SetUp() override {
    path_ = dir_.File(L"Idx.nwq");
    package::PackageWriter writer(path_, *package::PackageHeader::Make(L"Idx", L"Index", L""));
    for (const auto& [folder, name, data] : files_)
      writer.AddData(folder, name, data.data(), data.size(), 0, 0);
    writer.Close();
    bytes_ = ReadAll(path_);
    footer_ = bytes_.size() - package::size_index::kFooterSize;
    offset_ = static_cast<std::size_t>(Le(bytes_, footer_, 8));
    written_ = package::size_index::ReadFile(path_);
    ASSERT_TRUE(written_.IsValid());
  }

  struct File {
    std::wstring folder, name;
    std::vector<std::uint8_t> data;
  };
  std::vector<File> files_{
      {L"", L"a.txt", Bytes("alpha")}, {L"maps", L"empty", {}}, {L"maps\\north", L"tiles.bin", Pattern(200'000)}};
  TempDir dir_;
  std::wstring path_;
  std::vector<std::uint8_t> bytes_;
  std::size_t footer_ = 0;  // where the footer starts
  std::size_t offset_ = 0;  // where the index block starts
  package::size_index::SizeIndex written_;
};

// A reader written from the format's rules alone: records until a short read
// or a magic other than "FILE", each entry inflated from its FileSize bytes.
struct FormatOnlyResult {
  std::map<std::wstring, std::vector<std::uint8_t>> files;
  std::size_t stoppedAt = 0;
  bool clean = true;
};

FormatOnlyResult ReadByTheFormatAlone(const std::vector<std::uint8_t>& bytes) {
  FormatOnlyResult result;
  std::size_t at = package::kPackageHeaderSize;
  while (bytes.size() - at >= package::kPackageFileRecordSize) {
    package::PackageFileRecord record;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), record.bytes.size(), record.bytes.begin());
    if (record.Magic() != L"FILE") break;
    at += package::kPackageFileRecordSize;
    const auto size = static_cast<std::size_t>(record.FileSize());
    std::vector<std::uint8_t> out;
    if (size > 0) {
      z_stream z{};
      inflateInit(&z);
      z.next_in = const_cast<Bytef*>(bytes.data() + at);
      z.avail_in = static_cast<uInt>(size);
      std::uint8_t chunk[8192];
      int state = Z_OK;
      while (state == Z_OK) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        state = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
      }
      result.clean = result.clean && state == Z_STREAM_END;
      inflateEnd(&z);
    }
    result.files[record.FolderWithSeparator() + record.Name()] = out;
    at += size;
  }
  result.stoppedAt = at;
  return result;
}

TEST_F(SizeIndexTest, AReaderOfTheFormatAloneExtractsTheSameFilesAndStopsAtTheIndex) {
  const FormatOnlyResult read = ReadByTheFormatAlone(bytes_);
  EXPECT_TRUE(read.clean);
  std::map<std::wstring, std::vector<std::uint8_t>> expected;
  for (const File& file : files_)
    expected[package::package_path::StoredFolder(file.folder) + file.name] = file.data;
  EXPECT_EQ(read.files, expected);
  EXPECT_EQ(read.stoppedAt, offset_);
  EXPECT_EQ(written_.contentsEnd, offset_);
}

TEST_F(SizeIndexTest, TheBarOfAnIndexedPackageEndsAtExactly100) {
  CallbackRecord::Reset();
  TempDir out;
  ASSERT_EQ(
      package::ExtractPackage(dir_.Folder(), L"Idx", out.Folder(), CallbackRecord::OnProgress, CallbackRecord::OnError),
      S_OK);
  const auto& calls = CallbackRecord::Current().progress;
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().percent, 100);
  EXPECT_EQ(calls.back().fileName, L"tiles.bin");
  for (const ProgressCall& call : calls)
    EXPECT_LE(call.percent, 100);
  EXPECT_EQ(ReadAll(out.path() / "maps" / "north" / "tiles.bin"), files_[2].data);
  EXPECT_FALSE(std::filesystem::exists(out.path() / "SIZE"));
}

TEST_F(SizeIndexTest, ADamagedIndexIsNeverTrustedAndSaysWhy) {
  using Bytes8 = std::vector<std::uint8_t>;
  const struct {
    const char* label;
    std::function<void(Bytes8&)> damage;
    package::size_index::State state;
    const wchar_t* why;
  } cases[] = {
      {"a byte of its data", [&](Bytes8& b) { b[offset_ + package::kPackageFileRecordSize + 4] ^= 1; },
       package::size_index::State::kDamaged, L"checksum"},
      {"its checksum", [&](Bytes8& b) { b[footer_ + 8] ^= 0x80; }, package::size_index::State::kDamaged, L"checksum"},
      {"its offset", [&](Bytes8& b) { b[footer_] ^= 4; }, package::size_index::State::kDamaged, L"no index block"},
      {"an offset beyond the file", [&](Bytes8& b) { PutLe(b, footer_, ~0ull, 8); },
       package::size_index::State::kDamaged, L"outside the package"},
      {"its version", [&](Bytes8& b) { b[footer_ + 12] = 2; }, package::size_index::State::kDamaged,
       L"layout version 2"},
      {"its footer's magic", [&](Bytes8& b) { b.back() = 'Y'; }, package::size_index::State::kAbsent, L""},
      {"a cut inside it", [&](Bytes8& b) { b.resize(b.size() - 30); }, package::size_index::State::kAbsent, L""},
      {"bytes behind it", [&](Bytes8& b) { b.push_back(0); }, package::size_index::State::kAbsent, L""},
      {"a data length that misses the footer",
       [&](Bytes8& b) {
         PutLe(b, offset_ + 744, Le(b, offset_ + 744, 8) + 1, 8);
         Reseal(b);
       },
       package::size_index::State::kDamaged, L"before the footer"},
      {"an entry too few",
       [&](Bytes8& b) {
         auto entries = written_.entries;
         entries.pop_back();
         b.resize(offset_);
         const auto index = package::size_index::Encode(entries, offset_);
         b.insert(b.end(), index.begin(), index.end());
       },
       package::size_index::State::kDamaged, L"its entries end at offset"},
      {"a hostile count",
       [&](Bytes8& b) {
         PutLe(b, offset_ + package::kPackageFileRecordSize, 0xFFFFFFFFu, 4);
         Reseal(b);
       },
       package::size_index::State::kDamaged, L"4294967295 entries, but the package has room for"},
      {"an unpacked size changed",
       [&](Bytes8& b) {
         b[offset_ + package::kPackageFileRecordSize + 4] ^= 1;
         Reseal(b);
       },
       package::size_index::State::kValid, L""},
  };
  const std::wstring destination = dir_.Folder(L"out");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::uint8_t> bytes = bytes_;
    c.damage(bytes);
    WriteAll(path_, bytes);
    package::trace::SetEnabled(true);
    ::testing::internal::CaptureStdout();
    const package::size_index::SizeIndex index = package::size_index::ReadFile(path_);
    std::fflush(stdout);
    const std::string trace = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(index.state, c.state);
    EXPECT_NE(index.damage.find(c.why), std::wstring::npos) << text::ToUtf8(index.damage);
    EXPECT_EQ(trace.find("Size index ignored") != std::string::npos, c.state == package::size_index::State::kDamaged);
    if (!index.IsValid()) {
      EXPECT_TRUE(index.entries.empty());
    }

    // Readers go on as without an index: every entry, and the bar measures
    // the whole file, which the ignored index keeps short of 100.
    package::trace::SetEnabled(false);
    CallbackRecord::Reset();
    std::filesystem::remove_all(destination);
    ASSERT_EQ(package::ExtractPackage(dir_.Folder(), L"Idx", destination, CallbackRecord::OnProgress,
                                      CallbackRecord::OnError),
              S_OK);
    EXPECT_EQ(ReadAll(std::filesystem::path(destination) / "maps" / "north" / "tiles.bin"), files_[2].data);
    EXPECT_EQ(CallbackRecord::Current().progress.back().percent < 100, !index.IsValid());
  }
  package::trace::SetEnabled(true);
}

// A footer may claim as much index data as the package in front of it
// could need; nothing is held in memory for that claim until its checksum
// holds, and then no more than the entries it really lists.
TEST(SizeIndexMemory, AClaimedLengthIsCheckedBeforeAnythingIsAllocatedForIt) {
  TempDir dir;
  constexpr std::uint32_t kRoom = 24'000;  // entries the package in front has room for
  constexpr std::uint64_t kOffset =
      package::kPackageHeaderSize + std::uint64_t{kRoom} * package::kPackageFileRecordSize;
  constexpr std::uint64_t kClaimed = 16u << 20;
  constexpr std::size_t kChunk = 1u << 20;  // far above what reading in chunks takes
  const struct {
    const char* label;
    std::uint32_t count;
    std::uint64_t dataLength;
    bool sealed;
    package::size_index::State state;
    const wchar_t* why;
  } cases[] = {
      {"a checksum that does not match", kRoom, kClaimed, false, package::size_index::State::kDamaged, L"checksum"},
      {"a checksum made to match over data of nothing", 0, kClaimed, true, package::size_index::State::kDamaged,
       L"its entries end at offset 924"},
      {"as many entries as there is room for", kRoom, 4 + 20 * std::uint64_t{kRoom}, true,
       package::size_index::State::kValid, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::wstring path = WriteLargeIndexedPackage(dir.Folder(), L"Big", kOffset, c.count, c.dataLength, c.sealed);
    std::size_t largest = 0;
    package::size_index::SizeIndex index;
    {
      AllocationWatch watch;
      index = package::size_index::ReadFile(path);
      largest = watch.Largest();
    }
    EXPECT_EQ(index.state, c.state);
    EXPECT_NE(index.damage.find(c.why), std::wstring::npos) << text::ToUtf8(index.damage);
    if (index.IsValid()) {
      EXPECT_EQ(index.entries.size(), kRoom);
      EXPECT_EQ(index.contentsEnd, kOffset);
    } else {
      EXPECT_LT(largest, kChunk);
    }
  }
}

TEST(PackagePath, SplitsAndJoinsPackageAndEntryPaths) {
  const std::wstring sep(1, platform::kPathSeparator);
  EXPECT_EQ(package::package_path::PackageNameOf(L"a/b/c.d.nwq"), L"c.d");
  EXPECT_EQ(package::package_path::PackageNameOf(L"a" + sep + L"Nord.nwq"), L"Nord");
  EXPECT_EQ(package::package_path::PackageNameOf(L"Nord.old"), std::nullopt);
  EXPECT_EQ(package::package_path::PackageNameOf(L"plain"), std::nullopt);
  EXPECT_EQ(package::package_path::PackageNameOf(L"x.nwq/inner"), std::nullopt);
#if defined(_WIN32)  // the file system ignores case there
  EXPECT_EQ(package::package_path::PackageNameOf(L"Nord.NWQ"), L"Nord");
#else
  EXPECT_EQ(package::package_path::PackageNameOf(L"Nord.NWQ"), std::nullopt);
#endif
  EXPECT_EQ(package::package_path::FolderOf(L"a/b/c.nwq"), L"a/b/");
  EXPECT_EQ(package::package_path::FolderOf(L"c.nwq"), L"");
  EXPECT_EQ(package::package_path::StoredFolderOf(std::filesystem::path("x") / "y" / "z"), L"x\\y\\z");
  EXPECT_EQ(package::package_path::StoredFolderOf(std::filesystem::path()), L"");

  const package::package_path::EntryPaths top = package::package_path::Join(L"D" + sep, L"", L"a.txt");
  EXPECT_EQ(top.folder, L"D" + sep);
  EXPECT_EQ(top.file, L"D" + sep + L"a.txt");
  const package::package_path::EntryPaths deep = package::package_path::Join(L"D" + sep, L"m\\n", L"a.txt");
  EXPECT_EQ(deep.folder, L"D" + sep + L"m" + sep + L"n" + sep);
  EXPECT_EQ(deep.file, deep.folder + L"a.txt");
  EXPECT_EQ(package::package_path::Join(L"D" + sep, L"m\\n\\", L"a.txt").file, deep.file);
}

}  // namespace
