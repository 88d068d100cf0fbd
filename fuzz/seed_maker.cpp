// Writes the hand-made seeds: the edge cases that a packing tool never makes
// but a damaged or hostile medium may hold. Usage: fuzz_seed_maker SEED_DIR
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "package/package.h"
#include "package/size_index.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Compress(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 6);
  out.resize(size);
  return out;
}

Bytes Header(const std::wstring& guid = L"FUZZ", std::int32_t version = package::kPackageVersion) {
  const auto header = package::PackageHeader::Make(guid, L"Karte " + guid, L"Seed", version);
  return Bytes(header->bytes.begin(), header->bytes.end());
}

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

void Record(Bytes& to, const std::wstring& folder, const std::wstring& name, std::int64_t fileSize,
            std::uint64_t created = 0, std::uint64_t modified = 0) {
  const auto record = package::PackageFileRecord::Make(name, folder, created, modified, fileSize);
  to.insert(to.end(), record->bytes.begin(), record->bytes.end());
}

void Entry(Bytes& to, const std::wstring& folder, const std::wstring& name, const Bytes& stored,
           std::uint64_t created = 0, std::uint64_t modified = 0) {
  Record(to, folder, name, static_cast<std::int64_t>(stored.size()), created, modified);
  Append(to, stored);
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

void Put(const std::filesystem::path& folder, const std::string& name, const Bytes& bytes) {
  std::filesystem::create_directories(folder);
  std::ofstream(folder / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void HeaderSeeds(const std::filesystem::path& folder) {
  Put(folder, "valid", Header());
  Bytes magic = Header();
  magic[6] = 'X';  // a fourth character in place of the NUL
  Put(folder, "magic-fourth-unit", magic);
  Put(folder, "version-1", Header(L"FUZZ", 1));
  Put(folder, "version-3", Header(L"FUZZ", 3));
  Put(folder, "guid-other-case", Header(L"fuzz"));
  Bytes shortHeader = Header();
  shortHeader.pop_back();
  Put(folder, "one-byte-short", shortHeader);
  Bytes full = Header();
  for (std::size_t i = 12; i < 212; i += 2)
    full[i] = 'A', full[i + 1] = 0;  // a GUID slot without NUL
  Put(folder, "guid-slot-without-nul", full);
  Bytes surrogate = Header();
  surrogate[212] = 0x00, surrogate[213] = 0xD8;  // a lone high surrogate opens the title
  Put(folder, "title-lone-surrogate", surrogate);
}

void PackageSeeds(const std::filesystem::path& folder) {
  const Bytes hello = Compress(Text("Hallo Karte\n"));
  const std::uint64_t time2020 = 132'328'080'000'000'000ull;
  Put(folder, "header-only", Header());

  Bytes edge = Header();
  Entry(edge, L"", L"leer.txt", {}, time2020, time2020);
  Entry(edge, L"maps\\", L"a.txt", hello, 1, ~0ull);  // times outside what a file can take
  Entry(edge, L"maps", L"a.txt", hello);              // repeats and overwrites
  Put(folder, "empty-entry-and-repeat", edge);

  for (const auto& [name, folderText, fileName] :
       {std::tuple{"climb-dotdot", L"..\\..\\x", L"a.txt"}, std::tuple{"rooted", L"\\etc", L"a.txt"},
        std::tuple{"drive", L"C:\\Windows", L"a.txt"}, std::tuple{"device", L"maps", L"CON.txt"},
        std::tuple{"climb-in-name", L"", L"../a.txt"}, std::tuple{"dots-spaces", L"maps\\.. \\..", L"a.txt"}}) {
    Bytes bad = Header();
    Entry(bad, folderText, fileName, hello);
    Put(folder, name, bad);
  }

  Bytes negative = Header();
  Record(negative, L"", L"a.txt", -1);
  Put(folder, "negative-size", negative);
  Bytes huge = Header();
  Record(huge, L"", L"a.txt", 0x7FFFFFFFFFFFFFFFll);
  Append(huge, hello);
  Put(folder, "huge-size", huge);

  Bytes truncated = Header();
  Record(truncated, L"", L"a.txt", static_cast<std::int64_t>(hello.size()));
  Append(truncated, Bytes(hello.begin(), hello.begin() + 6));
  Put(folder, "stream-cut", truncated);

  Bytes trailing = Header();
  Bytes padded = hello;
  Append(padded, Text("trailing"));
  Entry(trailing, L"", L"a.txt", padded);
  Entry(trailing, L"next", L"b.txt", hello);
  Put(folder, "bytes-after-stream", trailing);

  Bytes garbage = Header();
  Entry(garbage, L"", L"a.txt", Text("this is not zlib at all"));
  Put(folder, "not-zlib", garbage);

  Bytes window = Header();
  Bytes wide = hello;
  wide[0] = 0x88, wide[1] = 0x1c;  // a 64 KiB window, more than zlib's default takes
  Entry(window, L"", L"a.txt", wide);
  Put(folder, "window-too-large", window);

  Bytes stop = Header();
  Bytes stopRecord = stop;
  Entry(stop, L"", L"a.txt", hello);
  Record(stopRecord, L"", L"b.txt", static_cast<std::int64_t>(hello.size()));
  stopRecord[package::kPackageHeaderSize + 6] = 'X';  // "FILX"
  Append(stop, Bytes(stopRecord.begin() + package::kPackageHeaderSize, stopRecord.end()));
  Append(stop, hello);
  Put(folder, "no-file-magic-ends", stop);

  Bytes bomb = Header();
  Entry(bomb, L"deep\\deeper", L"zeros.bin", Compress(Bytes(200000, 0)));
  Put(folder, "highly-compressible", bomb);

  // Size indexes: one that holds, one whose count runs past its entries, and
  // one that names a path no record slot could hold.
  Bytes indexed = Header();
  Entry(indexed, L"maps", L"a.txt", hello);
  Append(indexed, package::size_index::Encode({{L"maps", L"a.txt", 12, hello.size()}}, indexed.size()));
  Put(folder, "size-index", indexed);
  Bytes overcounted = Header();
  Entry(overcounted, L"", L"a.txt", hello);
  Append(overcounted, package::size_index::Encode(
                          {{L"", L"a.txt", 12, hello.size()}, {L"", L"b.txt", 12, hello.size()}}, overcounted.size()));
  Put(folder, "size-index-one-too-many", overcounted);
  Bytes longPath = Header();
  Entry(longPath, L"", L"a.txt", hello);
  Append(longPath,
         package::size_index::Encode({{std::wstring(300, L'f'), L"a.txt", 12, hello.size()}}, longPath.size()));
  Put(folder, "size-index-long-path", longPath);

  // Entries the index sizes, decoded whole: sound, spread over many input
  // chunks, sized wrongly, damaged, and with bytes after the stream.
  Bytes mixed;
  for (int i = 0; i < 20000; ++i)
    mixed.push_back(static_cast<std::uint8_t>(i % 7 == 0 ? i * 31 : 'a' + i % 5));
  const Bytes mixedStored = Compress(mixed);
  Bytes damaged = mixedStored;
  damaged[damaged.size() / 2] ^= 0x40;
  Bytes whole = Header();
  Entry(whole, L"maps", L"a.txt", hello);
  Entry(whole, L"maps\\big", L"mixed.bin", mixedStored);
  Entry(whole, L"maps", L"short.bin", mixedStored);
  Entry(whole, L"maps", L"damaged.bin", damaged);
  Entry(whole, L"maps", L"padded.txt", padded);
  Append(whole, package::size_index::Encode({{L"maps", L"a.txt", 12, hello.size()},
                                             {L"maps\\big", L"mixed.bin", mixed.size(), mixedStored.size()},
                                             {L"maps", L"short.bin", mixed.size() - 1, mixedStored.size()},
                                             {L"maps", L"damaged.bin", mixed.size(), damaged.size()},
                                             {L"maps", L"padded.txt", 12, padded.size()}},
                                            whole.size()));
  Put(folder, "size-index-whole-entries", whole);
}

// A claimed unpacked size (u32, little-endian), then a zlib stream.
void StreamSeeds(const std::filesystem::path& folder) {
  auto seed = [&](const std::string& name, std::uint32_t size, const Bytes& stream) {
    Bytes bytes = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                   static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
    Append(bytes, stream);
    Put(folder, name, bytes);
  };
  Bytes text;
  for (int i = 0; i < 9000; ++i)
    text.push_back(static_cast<std::uint8_t>(i % 11 == 0 ? i * 17 : 'k' + i % 3));
  seed("text", static_cast<std::uint32_t>(text.size()), Compress(text));
  seed("text-size-wrong", static_cast<std::uint32_t>(text.size() + 1), Compress(text));
  Bytes trailing = Compress(text);
  Append(trailing, Text("after the stream"));
  seed("bytes-after-stream", static_cast<std::uint32_t>(text.size()), trailing);
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  Bytes stored(size);
  compress2(stored.data(), &size, text.data(), static_cast<uLong>(text.size()), 0);
  stored.resize(size);
  seed("stored-blocks", static_cast<std::uint32_t>(text.size()), stored);
  seed("empty", 0, Compress({}));
  seed("one", 1, Compress(Text("x")));
}

// FuzzedDataProvider ends a text at a backslash followed by any other byte.
void VersionSeeds(const std::filesystem::path& folder) {
  const char* const kTexts[] = {"1.0.0.3\\ 1.0.0.3\\ 1.0.0.4",
                                "2.0\\ 1.9.9.9\\ 1.2.0.1",
                                "1.10\\ 1.9\\ 1..5",
                                "x.2\\ 0.1\\ 1.2.3.4.9",
                                "99999999999.-99999999999\\ +7.\t-3\\ ...",
                                "-0.+0\\ 0x10.010\\ .1."};
  int n = 0;
  for (const char* text : kTexts)
    Put(folder, "texts-" + std::to_string(n++), Text(text));
}

void PropertySeeds(const std::filesystem::path& folder) {
  // A value read in two requests; a value that still does not fit; a refusal.
  Put(folder, "two-requests", Text("1.0.0.3\\ 1.0.0.3\\ \x02\x07\x00\x00\x00\x00"));
  Put(folder, "still-234", Text("abc\\ ab\\ \x02\x02\x03\x00\x00\x00\x00"));
  Put(folder, "refused", Text("\x04"));
}

std::string Hex(const std::u16string& text) {
  std::string hex;
  char pair[3];
  for (char16_t unit : text) {
    std::snprintf(pair, sizeof pair, "%02x", unit & 0xFF);
    hex += pair;
    std::snprintf(pair, sizeof pair, "%02x", unit >> 8);
    hex += pair;
  }
  return hex;
}

// Settings stores as the POSIX build keeps them, with GeoPath values at the
// edges of the read: no backslash, empty, 511 and 512 characters, no NUL.
void GeoPathSeeds(const std::filesystem::path& folder) {
  const std::string key = "[Software\\Varnholt\\Settings]\n";
  const std::pair<const char*, std::string> kValues[] = {{"plain", Hex(u"D:\\Karten") + "0000"},
                                                         {"with-backslash", Hex(u"D:\\Karten\\") + "0000"},
                                                         {"empty", "0000"},
                                                         {"no-nul", Hex(u"C:\\Maps")},
                                                         {"511", Hex(std::u16string(511, u'a')) + "0000"},
                                                         {"512", Hex(std::u16string(512, u'a')) + "0000"},
                                                         {"surrogate", Hex(u"D:\\\xD800x") + "0000"}};
  for (const auto& [name, hex] : kValues)
    Put(folder, name, Text(key + "GeoPath=" + hex + "\n"));
}

void InstallRecordSeeds(const std::filesystem::path& folder) {
  const std::string head = "Varnholt setup install record 1\r\nrun\tended\r\n";
  const std::string north = "{11111111-1111-1111-1111-111111111111}";
  const std::pair<const char*, std::string> kRecords[] = {
      {"empty", head + "end\r\n"},
      {"two-destinations",
       head + "destination\tD:\\Maps\\\r\nfolder\t" + north + "\tNord\r\nfile\t" + north +
           "\t1234\t133000000000000000\tdeadbeef\tNord\\k\xC3\xB6ln.map\r\nfile\t" + north +
           "\t0\t1\t00000001\tlegend.txt\r\ndestination\t\\\\server\\share\\\r\nfile\tS\t9\t2\t00010001\t"
           "s\xC3\xBC"
           "d.map\r\nend\r\n"},
      {"going-lf",
       "Varnholt setup install record 1\nrun\tgoing\ndestination\t/mnt/maps/\nfile\tP\t1\t1\t00000001\ta/b\nend\n"},
      {"dot-dot", head + "destination\tD:\\Maps\\\r\nfile\tP\t1\t1\t00000001\t..\\boot.ini\r\nend\r\n"},
      {"made", head + "destination\t/mnt/neu/Karten/\r\nmade\t/mnt/neu/Karten\r\nmade\t/mnt/"
                      "neu\r\nfile\tP\t1\t1\t00000001\ta\r\nend\r\n"},
      {"made-outside", head + "destination\t/mnt/neu/Karten/\r\nmade\t/etc\r\nend\r\n"},
      {"cut", head + "destination\tD:\\Maps\\\r\nfile\tP\t1\t1\t000"},
      {"fresh-going",
       "Varnholt setup install record 1\r\nrun\tgoing\r\ndestination\t/mnt/maps/\r\nfresh\tP\t3\t133000000000000000\t"
       "024d0127\ta/b\r\nfile\tQ\t3\t133000000000000000\t024d0127\ta/b\r\nfresh\tP\t0\t1\t00000001\tc\r\nend\r\n"},
  };
  for (const auto& [name, text] : kRecords)
    Put(folder, name, Text(text));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seed_maker SEED_DIR\n");
    return 2;
  }
  const std::filesystem::path seeds = argv[1];
  HeaderSeeds(seeds / "header");
  PackageSeeds(seeds / "package");
  StreamSeeds(seeds / "stream");
  VersionSeeds(seeds / "version");
  PropertySeeds(seeds / "property");
  GeoPathSeeds(seeds / "geo_path");
  InstallRecordSeeds(seeds / "install_record");
  return 0;
}
