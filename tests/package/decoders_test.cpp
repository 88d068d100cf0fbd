// The engine with one decoder and with several, each streaming through zlib
// or decoding whole entries: the same files, the same observer calls in the
// same order and the same FileError, whatever the decoders' timing; a stop or
// a failure ends every decoder and leaves nothing half done behind.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "package/engine.h"
#include "package/engine_recorder.h"
#include "package/package.h"
#include "package/size_index.h"
#include "package/temp_files.h"
#include "support/allocation_watch.h"
#include "support/package_bytes.h"
#include "support/temp_dir.h"
#if defined(VARNHOLT_FAULT_INJECTION)
#include <cerrno>

#include "platform/fault_injection.h"
#endif

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> Noise(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> data(size);
  for (auto& b : data) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return data;
}

// Half noise, half runs: it compresses to a few chunks of small buffers.
std::vector<std::uint8_t> Content(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> data = Noise(size, seed);
  for (std::size_t i = 0; i < size; i += 64)
    std::fill(data.begin() + static_cast<std::ptrdiff_t>(i),
              data.begin() + static_cast<std::ptrdiff_t>(std::min(size, i + 32)), static_cast<std::uint8_t>(seed));
  return data;
}

struct Outcome {
  std::vector<std::wstring> calls;
  std::vector<std::string> tree;
  std::vector<std::vector<std::uint8_t>> contents;  // of every file in `tree`
  bool raised = false;
  FileError error;
  package::Outcome result = package::Outcome::kExtracted;
  std::uint64_t whole = 0;     // entries decoded in one call
  std::uint64_t streamed = 0;  // entries decoded chunk by chunk
  std::uint64_t flushed = 0;
};

// How the entries a size index lists are decoded.
enum class Decoding { kStreamed, kWhole };

class Decoders : public ::testing::Test {
 protected:
  // Extracts the package into a fresh destination with `decoders` decoders
  // and small buffers, so that entries take many chunks.
  Outcome Run(const PackageBytes& package, std::size_t decoders, Recorder* observer = nullptr,
              Decoding decoding = Decoding::kWhole) {
    package.WriteTo(media_.Folder());
    const fs::path destination = target_.path() / ("dest" + std::to_string(++runs_));
    fs::create_directories(destination);
    Recorder own;
    Recorder& recorder = observer ? *observer : own;
    Outcome outcome;
    package::DecodeCounts counts;
    package::Options options{{1024, 2048}, decoders};
    options.wholeEntryBudget = decoding == Decoding::kWhole ? package::kWholeEntryBudget : 0;
    options.counts = &counts;
    try {
      outcome.result = package::Extract(package::BuildPackagePath(media_.Folder(), L"Pkg"), L"Pkg",
                                        destination.wstring() + platform::kPathSeparator, recorder, options)
                           .outcome;
    } catch (const FileError& error) {
      outcome.raised = true;
      outcome.error = error;
      // What failed, as the raised error says, ends the calls.
      if (const auto* failed = dynamic_cast<const package::ExtractionError*>(&error))
        recorder.calls.push_back(L"error " + std::to_wstring(static_cast<int>(failed->kind())) + L" " + failed->path());
    }
    // The destinations differ by name only: compare the calls without it.
    for (std::wstring call : recorder.calls) {
      for (auto at = call.find(destination.wstring()); at != std::wstring::npos; at = call.find(destination.wstring()))
        call.replace(at, destination.wstring().size(), L"<dest>");
      outcome.calls.push_back(call);
    }
    outcome.tree = TreeOf(destination);
    for (const std::string& entry : outcome.tree)
      if (fs::is_regular_file(destination / entry)) outcome.contents.push_back(ReadAll(destination / entry));
    lastDestination_ = destination;
    outcome.whole = counts.whole;
    outcome.streamed = counts.streamed;
    outcome.flushed = counts.flushed;
    return outcome;
  }

  static void ExpectNoTempFiles(const Outcome& outcome) {
    for (const std::string& entry : outcome.tree)
      EXPECT_FALSE(package::temp_files::IsTempName(fs::path(entry).filename().wstring())) << entry;
  }

  void ExpectSame(const Outcome& one, const Outcome& many) {
    ExpectNoTempFiles(one);
    ExpectNoTempFiles(many);
    EXPECT_EQ(one.calls, many.calls);
    EXPECT_EQ(one.tree, many.tree);
    EXPECT_EQ(one.contents, many.contents);
    EXPECT_EQ(one.raised, many.raised);
    EXPECT_EQ(one.error.cause(), many.error.cause());
    // Paths differ by the destination's name only.
    EXPECT_EQ(fs::path(one.error.fileName()).filename(), fs::path(many.error.fileName()).filename());
    EXPECT_EQ(one.result, many.result);
  }

  // A package as a medium holds one: files of every size in nested folders,
  // an empty file, a file repeated later with other content.
  PackageBytes MapLike() {
    PackageBytes package(L"Pkg");
    package.Entry(L"", L"readme.txt", Bytes("Karte\r\n"), 0, kStored);
    for (int i = 0; i < 12; ++i) {
      const std::wstring folder = L"tiles\\z" + std::to_wstring(10 + i % 3) + L"\\" + std::to_wstring(i / 3);
      package.Entry(folder, std::to_wstring(i) + L".csv", Content(3'000 + 17'000 * (i % 5), i), kStored, kStored);
    }
    package.Entry(L"raster", L"dgm.dem", Content(400'000, 99));
    package.Entry(L"raster", L"empty.hdr", {});
    package.Entry(L"tiles\\z10\\0", L"0.csv", Bytes("the later copy wins"));
    package.Entry(L"vektor", L"strassen.geojson", Content(90'000, 7));
    return package;
  }

  static constexpr std::uint64_t kStored = (1'588'334'400ull + 11'644'473'600ull) * 10'000'000ull;
  TempDir media_;
  TempDir target_;
  fs::path lastDestination_;
  int runs_ = 0;
};

TEST_F(Decoders, AnyNumberEitherWayGivesTheSameFilesAndCallsAsOneStreaming) {
  for (const bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "with a size index" : "without an index");
    const PackageBytes package = indexed ? MapLike().Indexed() : MapLike();
    const Outcome one = Run(package, 1, nullptr, Decoding::kStreamed);
    ASSERT_FALSE(one.raised);
    EXPECT_EQ(one.whole, 0u);
    EXPECT_EQ(ReadAll(lastDestination_ / "tiles" / "z10" / "0" / "0.csv"), Bytes("the later copy wins"));
    std::vector<std::int32_t> percents;
    for (const std::wstring& call : one.calls)
      if (call.starts_with(L"progress ")) percents.push_back(std::stoi(call.substr(9)));
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(std::adjacent_find(percents.begin(), percents.end()), percents.end());
    EXPECT_EQ(percents.back(), 100);
    for (const std::size_t decoders : {1u, 2u, 3u, 8u}) {
      SCOPED_TRACE(decoders);
      const Outcome whole = Run(package, decoders);
      ExpectSame(one, whole);
      // Every entry but the empty one, when the index gives its size.
      EXPECT_EQ(whole.whole, indexed ? 16u : 0u);
    }
  }
}

// Each finished file tells the Adler-32 of its contents, as its stream ended,
// whichever decoder ran; an empty file has none to end with and tells 1.
TEST_F(Decoders, EveryFinishedFileTellsTheCheckValueOfItsContents) {
  PackageBytes plain(L"Pkg");
  plain.Entry(L"a", L"text.csv", Content(70'000, 3)).Entry(L"a", L"empty.txt", {});
  std::vector<std::uint8_t> padded = Compress(Bytes("kurz"));
  const std::vector<std::uint8_t> tail = Bytes("behind the stream");
  padded.insert(padded.end(), tail.begin(), tail.end());
  plain.RawEntry(L"b", L"padded.txt", padded, static_cast<std::int64_t>(padded.size())).Unpacked(4);
  for (const Decoding decoding : {Decoding::kStreamed, Decoding::kWhole}) {
    const Outcome outcome = Run(plain.Indexed(), 2, nullptr, decoding);
    ASSERT_FALSE(outcome.raised);
    std::vector<std::wstring> finished;
    for (const std::wstring& call : outcome.calls)
      if (call.starts_with(L"finished ")) finished.push_back(call.substr(call.rfind(L' ') + 1));
    const auto check = [](const std::vector<std::uint8_t>& data) {
      return std::to_wstring(adler32(adler32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size())));
    };
    EXPECT_EQ(finished, (std::vector<std::wstring>{check(Content(70'000, 3)), L"1", check(Bytes("kurz"))}));
  }
}

// The install record lists the folders a run created, so that uninstall
// takes them and nothing else: each is told once, with the first file
// committed in it, outermost first, and a folder that was there is not told.
TEST_F(Decoders, EachFolderTheExtractionCreatedIsToldOnceWithItsFirstFile) {
  fs::create_directories(target_.path() / ("dest" + std::to_string(runs_ + 1)) / "raster");
  const Outcome outcome = Run(MapLike().Indexed(), 3);
  ASSERT_FALSE(outcome.raised);
  std::vector<std::wstring> told;
  for (std::size_t i = 0; i < outcome.calls.size(); ++i) {
    if (!outcome.calls[i].starts_with(L"folders ")) continue;
    ASSERT_LT(i + 1, outcome.calls.size());
    EXPECT_TRUE(outcome.calls[i + 1].starts_with(L"finished ")) << outcome.calls[i + 1];
    std::wistringstream words(outcome.calls[i].substr(8));
    for (std::wstring folder; words >> folder;)
      told.push_back(folder);
  }
  const std::wstring dest = L"<dest>" + std::wstring(1, platform::kPathSeparator);
  const auto in = [&dest](std::wstring path) {
    std::replace(path.begin(), path.end(), L'\\', platform::kPathSeparator);
    return dest + path;
  };
  EXPECT_EQ(told, (std::vector<std::wstring>{
                      in(L"tiles"), in(L"tiles\\z10"), in(L"tiles\\z10\\0"), in(L"tiles\\z11"), in(L"tiles\\z11\\0"),
                      in(L"tiles\\z12"), in(L"tiles\\z12\\0"), in(L"tiles\\z10\\1"), in(L"tiles\\z11\\1"),
                      in(L"tiles\\z12\\1"), in(L"tiles\\z10\\2"), in(L"tiles\\z11\\2"), in(L"tiles\\z12\\2"),
                      in(L"tiles\\z10\\3"), in(L"tiles\\z11\\3"), in(L"tiles\\z12\\3"), in(L"vektor")}));
}

// An index whose checksum holds may still give an entry the wrong size: the
// whole-entry decoder refuses it, and zlib decodes it as ever.
TEST_F(Decoders, AnEntryTheIndexSizesWronglyIsStreamedAndComesOutAsItIs) {
  const std::vector<std::uint8_t> content = Content(30'000, 4);
  PackageBytes package(L"Pkg");
  package.Entry(L"a", L"longer.bin", content)
      .Unpacked(content.size() + 1)
      .Entry(L"a", L"shorter.bin", content)
      .Unpacked(content.size() - 1)
      .Entry(L"a", L"huge.bin", content)
      .Unpacked(std::uint64_t{1} << 40)
      .Entry(L"a", L"right.bin", content);
  const PackageBytes indexed = package.Indexed();
  const Outcome one = Run(indexed, 1, nullptr, Decoding::kStreamed);
  ASSERT_FALSE(one.raised);
  for (const std::size_t decoders : {1u, 3u}) {
    SCOPED_TRACE(decoders);
    const Outcome whole = Run(indexed, decoders);
    ExpectSame(one, whole);
    EXPECT_EQ(whole.whole, 1u);
    EXPECT_EQ(whole.streamed, 3u);
    EXPECT_EQ(whole.contents, std::vector<std::vector<std::uint8_t>>(4, content));
  }
}

TEST_F(Decoders, TheFirstDamagedEntryInRecordOrderRaisesTheSameErrorAndNothingAfterItRemains) {
  auto corrupt = Compress(Content(200'000, 5));
  corrupt[corrupt.size() / 2] ^= 0xFF;
  auto alsoCorrupt = Compress(Content(50'000, 6));
  alsoCorrupt[10] ^= 0xFF;
  const struct {
    const char* label;
    PackageBytes package;
  } cases[] = {
      {"a broken stream, another behind it",
       std::move(PackageBytes(L"Pkg")
                     .Entry(L"a", L"one.bin", Content(150'000, 1))
                     .Entry(L"a", L"two.bin", Content(20'000, 2))
                     .RawEntry(L"b", L"bad.bin", corrupt, static_cast<std::int64_t>(corrupt.size()))
                     .Unpacked(200'000)
                     .Entry(L"c\\d", L"after.bin", Content(30'000, 3))
                     .RawEntry(L"e", L"bad2.bin", alsoCorrupt, static_cast<std::int64_t>(alsoCorrupt.size()))
                     .Unpacked(50'000)
                     .Entry(L"f", L"last.bin", Content(10'000, 4)))},
      {"an unsafe path behind a large entry", std::move(PackageBytes(L"Pkg")
                                                            .Entry(L"a", L"big.bin", Content(300'000, 1))
                                                            .Entry(L"..", L"evil.txt", Bytes("evil"))
                                                            .Entry(L"g", L"never.bin", Content(30'000, 3)))},
      {"a negative size", std::move(PackageBytes(L"Pkg")
                                        .Entry(L"a", L"big.bin", Content(300'000, 1))
                                        .RawEntry(L"h", L"neg.bin", Compress(Bytes("n")), -3)
                                        .Entry(L"i", L"never.bin", Content(30'000, 3)))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    for (const PackageBytes& package : {c.package, c.package.Indexed()}) {
      const Outcome one = Run(package, 1, nullptr, Decoding::kStreamed);
      ASSERT_TRUE(one.raised);
      ExpectSame(one, Run(package, 1));
      ExpectSame(one, Run(package, 4));
      EXPECT_EQ(one.calls.back().substr(0, 6), L"error ");
    }
  }
  // The package cut inside its last entry's data.
  PackageBytes cut(L"Pkg");
  cut.Entry(L"a", L"one.bin", Content(100'000, 1)).Entry(L"z", L"cut.bin", Content(100'000, 8));
  cut.bytes().resize(cut.bytes().size() - 500);
  const Outcome one = Run(cut, 1);
  EXPECT_EQ(one.error.cause(), FileError::kDamaged);
  ExpectSame(one, Run(cut, 3));
}

// Stops as soon as `entry` reports progress.
class StopAt : public Recorder {
 public:
  explicit StopAt(std::wstring entry) : entry_(std::move(entry)) {}
  void OnProgress(std::int32_t percent, const package::PackageFileRecord& record) override {
    Recorder::OnProgress(percent, record);
    if (record.Name() == entry_) stop_ = true;
  }
  bool StopRequested() override {
    ++asked;
    return stop_;
  }
  int asked = 0;

 private:
  std::wstring entry_;
  bool stop_ = false;
};

TEST_F(Decoders, AStopEndsEveryDecoderAtTheEntryInHand) {
  PackageBytes package(L"Pkg");
  package.Entry(L"a", L"first.bin", Content(50'000, 1)).Entry(L"b", L"second.bin", Content(400'000, 2));
  for (int i = 0; i < 10; ++i)
    package.Entry(L"c\\" + std::to_wstring(i), L"later.bin", Content(40'000, 3 + i));
  package = package.Indexed();
  StopAt streaming(L"second.bin");
  const Outcome one = Run(package, 1, &streaming, Decoding::kStreamed);
  for (const std::size_t decoders : {1u, 4u}) {
    SCOPED_TRACE(decoders);
    StopAt stop(L"second.bin");
    const Outcome outcome = Run(package, decoders, &stop);
    ExpectSame(one, outcome);
    EXPECT_FALSE(outcome.raised);
    EXPECT_EQ(outcome.result, package::Outcome::kCancelled);
    EXPECT_GT(stop.asked, 0);
    // The finished entry stays, the one in hand keeps only its folder, and
    // nothing decoded ahead is left, not even its folder.
    EXPECT_EQ(outcome.tree, (std::vector<std::string>{"a", "a/first.bin", "b"}));
    ExpectNoTempFiles(outcome);
    EXPECT_EQ(outcome.calls.back(),
              L"progress " + outcome.calls.back().substr(9, outcome.calls.back().find(L' ', 9) - 9) + L" second.bin");
  }
}

// Counts the files below the destination while the first entry is waited for.
class FileCounter : public Recorder {
 public:
  explicit FileCounter(fs::path root) : root_(std::move(root)) {}
  void OnProgress(std::int32_t percent, const package::PackageFileRecord& record) override {
    Recorder::OnProgress(percent, record);
    if (record.Name() != L"large.bin") return;
    std::size_t files = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec))
      if (it->is_regular_file(ec)) ++files;
    most = std::max(most, files);
  }
  std::size_t most = 0;

 private:
  fs::path root_;
};

TEST_F(Decoders, OnlyAFewEntriesAreDecodedAheadOfALargeOne) {
  PackageBytes package(L"Pkg");
  package.Entry(L"", L"large.bin", Noise(3'000'000, 1));
  for (int i = 0; i < 60; ++i)
    package.Entry(L"small", std::to_wstring(i) + L".bin", Content(2'000, i));
  FileCounter counter(target_.path() / "dest1");
  const Outcome outcome = Run(package, 2, &counter);
  ASSERT_FALSE(outcome.raised);
  EXPECT_EQ(outcome.tree.size(), 62u);
  // Four entries in flight per decoder, the large one among them.
  EXPECT_LE(counter.most, 8u);
}

// Clean-up after a failure converts paths as the platform made them: a
// folder with a non-ASCII name made ahead for a later entry goes again, in
// any locale, rather than ending the program.
TEST_F(Decoders, AFailureRemovesTheNonAsciiFoldersMadeAheadOfIt) {
  auto broken = Compress(Content(20'000, 1));
  broken[broken.size() / 2] ^= 0xFF;
  PackageBytes package(L"Pkg");
  package.RawEntry(L"a", L"bad.bin", broken, static_cast<std::int64_t>(broken.size()))
      .Entry(L"H\u00F6hen\\\u00DCbersicht", L"dgm.dem", Content(30'000, 2));
  for (const std::size_t decoders : {1u, 3u}) {
    SCOPED_TRACE(decoders);
    const Outcome outcome = Run(package, decoders);
    ASSERT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.error.cause(), FileError::kDamaged);
    EXPECT_EQ(outcome.tree, std::vector<std::string>{"a"});
  }
}

// "a\" and "a\.\" are one folder: the clean-up of leftovers, run once
// for it, must not take the decoded entry that waits there for its turn.
TEST_F(Decoders, OneFolderSpeltTwoWaysKeepsTheEntriesWaitingInIt) {
  PackageBytes package(L"Pkg");
  package.Entry(L"a", L"one.txt", Content(5'000, 1))
      .Entry(L"a\\.", L"two.txt", Content(5'000, 2))
      .Entry(L".\\a", L"three.txt", Content(5'000, 3));
  for (const std::size_t decoders : {1u, 2u, 4u}) {
    SCOPED_TRACE(decoders);
    const Outcome outcome = Run(package, decoders);
    EXPECT_FALSE(outcome.raised) << fs::path(outcome.error.fileName()).filename();
    EXPECT_EQ(outcome.tree, (std::vector<std::string>{"a", "a/one.txt", "a/three.txt", "a/two.txt"}));
  }
}

// A file, then a folder of the same name: in record order the file is
// installed and the folder cannot be made. A later entry prepared ahead
// must not make the folder first and so refuse the file its move.
TEST_F(Decoders, AFolderMadeAheadDoesNotTakeTheNameOfAFileBeforeIt) {
  for (const int between : {0, 5, 40}) {
    SCOPED_TRACE(between);
    PackageBytes package(L"Pkg");
    package.Entry(L"", L"a", Content(3'000, 1));
    for (int i = 0; i < between; ++i)
      package.Entry(L"fill", std::to_wstring(i) + L".bin", Content(2'000, i));
    package.Entry(L"a", L"x.bin", Content(3'000, 2));
    for (const std::size_t decoders : {1u, 2u, 8u}) {
      SCOPED_TRACE(decoders);
      const Outcome outcome = Run(package, decoders);
      ASSERT_TRUE(outcome.raised);
      EXPECT_EQ(outcome.calls.back(), L"error " +
                                          std::to_wstring(static_cast<int>(package::ErrorKind::kFolderNotCreated)) +
                                          L" <dest>" + platform::kPathSeparator + L"a" + platform::kPathSeparator);
      ASSERT_TRUE(fs::is_regular_file(lastDestination_ / "a"));
      EXPECT_EQ(ReadAll(lastDestination_ / "a"), Content(3'000, 1));
      ExpectNoTempFiles(outcome);
    }
  }
}

// A size index whose checksum holds proves how far the entries reach. A walk
// that ends before (a record's magic damaged) has lost entries: the package
// is damaged, by its own name, after the entries before the damage.
TEST_F(Decoders, EntriesThatAValidIndexListsButTheWalkMissesMakeThePackageDamaged) {
  const std::vector<std::uint8_t> contents[] = {Content(3'000, 1), Content(4'000, 2), Content(5'000, 3),
                                                Content(6'000, 4)};
  PackageBytes package(L"Pkg");
  std::vector<package::size_index::Entry> listed;
  std::uint64_t thirdRecord = 0;
  for (int i = 0; i < 4; ++i) {
    const std::wstring name = std::to_wstring(i) + L".bin";
    if (i == 2) thirdRecord = package.bytes().size();
    const std::vector<std::uint8_t> stored = Compress(contents[i]);
    package.RawEntry(L"maps", name, stored, static_cast<std::int64_t>(stored.size()));
    listed.push_back({L"maps", name, contents[i].size(), stored.size()});
  }
  PackageBytes indexed = package;
  indexed.Append(package::size_index::Encode(listed, package.bytes().size()));
  indexed.bytes()[thirdRecord] ^= 0x01;  // "FILE" becomes "GILE"
  package.bytes()[thirdRecord] ^= 0x01;

  for (const std::size_t decoders : {1u, 4u}) {
    SCOPED_TRACE(decoders);
    const Outcome lost = Run(indexed, decoders);
    ASSERT_TRUE(lost.raised);
    EXPECT_EQ(lost.error.cause(), FileError::kDamaged);
    EXPECT_EQ(lost.error.fileName(), package::BuildPackagePath(media_.Folder(), L"Pkg"));
    EXPECT_EQ(lost.calls.back(), L"error " + std::to_wstring(static_cast<int>(package::ErrorKind::kDamaged)) + L" " +
                                     package::BuildPackagePath(media_.Folder(), L"Pkg"));
    EXPECT_EQ(lost.tree, (std::vector<std::string>{"maps", "maps/0.bin", "maps/1.bin"}));
  }
  // Without an index nothing proves a loss: the list ends at the damage.
  const Outcome plain = Run(package, 2);
  EXPECT_FALSE(plain.raised);
  EXPECT_EQ(plain.tree, (std::vector<std::string>{"maps", "maps/0.bin", "maps/1.bin"}));
}

// The index only proves where the entries end; one too large to hold in
// memory proves nothing, and the entries are unpacked as without it.
TEST_F(Decoders, AnIndexTooLargeToHoldLeavesTheEntriesToTheWalk) {
  constexpr std::uint32_t kRoom = 24'000;
  const std::uint64_t offset = package::kPackageHeaderSize + std::uint64_t{kRoom} * package::kPackageFileRecordSize;
  const std::wstring path =
      WriteLargeIndexedPackage(media_.Folder(), L"Big", offset, kRoom, 4 + 20 * std::uint64_t{kRoom}, true);
  package::Observer quiet;
  package::Outcome outcome = package::Outcome::kCancelled;
  {
    AllocationWatch limited(256 << 10);
    try {
      outcome = package::Extract(path, L"Big", target_.Folder(), quiet, {{}, 1}).outcome;
    } catch (...) {
      ADD_FAILURE() << "the index's allocation escaped";
    }
  }
  EXPECT_EQ(outcome, package::Outcome::kExtracted);
}

// A file that did not exist has nothing to lose and is not flushed; one that
// replaces a file reaches the disk before its move, once.
TEST_F(Decoders, OnlyAFileThatReplacesOneIsFlushed) {
  PackageBytes package(L"Pkg");
  package.Entry(L"a", L"one.bin", Content(20'000, 1))
      .Entry(L"b", L"two.bin", Content(30'000, 2))
      .Entry(L"b", L"three.bin", Content(10'000, 3));
  package.WriteTo(media_.Folder());
  const fs::path destination = target_.path() / "same";
  fs::create_directories(destination);
  auto flushes = [&](std::size_t decoders) {
    package::DecodeCounts counts;
    package::Options options{{1024, 2048}, decoders};
    options.counts = &counts;
    package::Observer quiet;
    package::Extract(package::BuildPackagePath(media_.Folder(), L"Pkg"), L"Pkg",
                     destination.wstring() + platform::kPathSeparator, quiet, options);
    return counts.flushed.load();
  };
  EXPECT_EQ(flushes(2), 0u);
  EXPECT_EQ(flushes(2), 3u);
  fs::remove(destination / "b" / "two.bin");
  EXPECT_EQ(flushes(1), 2u);
  EXPECT_EQ(ReadAll(destination / "b" / "two.bin"), Content(30'000, 2));
}

#if defined(VARNHOLT_FAULT_INJECTION)
namespace fi = platform::fault_injection;

// The flush is what keeps a replaced file whole through a crash: when it
// fails, the earlier file stays and the error names it. A new file is not
// flushed, so the failing flushes do not touch it.
TEST_F(Decoders, AFailedFlushKeepsTheFileItWouldReplace) {
  PackageBytes package(L"Pkg");
  package.Entry(L"n", L"new.bin", Content(40'000, 1)).Entry(L"a", L"keep.bin", Content(50'000, 2));
  package = package.Indexed();
  for (const std::size_t decoders : {1u, 3u}) {
    SCOPED_TRACE(decoders);
    package.WriteTo(media_.Folder());
    const fs::path destination = target_.path() / ("flush" + std::to_string(decoders));
    fs::create_directories(destination / "a");
    WriteAll(destination / "a" / "keep.bin", Bytes("earlier"));
    fi::ScopedFault failing({fi::Operation::kSync, L"", EIO});
    package::Observer quiet;
    try {
      package::Extract(package::BuildPackagePath(media_.Folder(), L"Pkg"), L"Pkg",
                       destination.wstring() + platform::kPathSeparator, quiet, {{1024, 2048}, decoders});
      ADD_FAILURE() << "a failed flush passed";
    } catch (const FileError& error) {
      EXPECT_EQ(error.osError(), EIO);
      EXPECT_EQ(fs::path(error.fileName()), destination / "a" / "keep.bin");
    }
    EXPECT_EQ(ReadAll(destination / "a" / "keep.bin"), Bytes("earlier"));
    EXPECT_EQ(ReadAll(destination / "n" / "new.bin"), Content(40'000, 1));
    EXPECT_EQ(TreeOf(destination), (std::vector<std::string>{"a", "a/keep.bin", "n", "n/new.bin"}));
  }
}

TEST_F(Decoders, AWriteFailureInOneDecoderRaisesTheSameErrorAndStopsTheOthers) {
  PackageBytes package(L"Pkg");
  package.Entry(L"a", L"one.bin", Content(200'000, 1)).Entry(L"voll", L"full.bin", Content(300'000, 2));
  for (int i = 0; i < 6; ++i)
    package.Entry(L"c\\" + std::to_wstring(i), L"later.bin", Content(60'000, 3 + i));
  package = package.Indexed();
  Outcome outcomes[3];
  const struct {
    std::size_t decoders;
    Decoding decoding;
  } runs[] = {{1, Decoding::kStreamed}, {4, Decoding::kStreamed}, {4, Decoding::kWhole}};
  for (int i = 0; i < 3; ++i) {
    // The entry is written into a temporary file in its folder.
    const std::wstring folder = std::wstring(1, platform::kPathSeparator) + L"voll" + platform::kPathSeparator;
    fi::ScopedFault full({fi::Operation::kWrite, folder, ENOSPC, 100'000});
    outcomes[i] = Run(package, runs[i].decoders, nullptr, runs[i].decoding);
    ASSERT_TRUE(outcomes[i].raised);
    EXPECT_EQ(outcomes[i].error.cause(), FileError::kDiskFull);
    EXPECT_EQ(fs::path(outcomes[i].error.fileName()).filename(), "full.bin");
  }
  ExpectSame(outcomes[0], outcomes[1]);
  ExpectSame(outcomes[0], outcomes[2]);
  for (const Outcome& outcome : outcomes)
    EXPECT_EQ(std::count_if(outcome.tree.begin(), outcome.tree.end(),
                            [](const std::string& entry) { return entry.starts_with("c"); }),
              0);
}
#endif

}  // namespace
