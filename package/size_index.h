// The size index: an optional block at the end of a package that lists the
// unpacked size of every entry, so that the space a package needs is known
// before anything is unpacked (zlib streams do not carry their length).
//
// Layout, after the last entry (all integers little-endian):
//
//   index block   752 bytes, shaped as a file record: the magic slot holds
//                 "SIZE" (UTF-16LE with its NUL, offset 0), the FileSize slot
//                 (offset 744, 64 bits) the length of the index data; every
//                 other byte is 0. A reader that walks records until a magic
//                 that is not "FILE" stops here, exactly as at the end of a
//                 package without an index.
//   index data    u32 entry count, then per entry in record order:
//                   u64 unpacked size   bytes the entry's stream decodes to
//                   u64 stored size     the record's FileSize
//                   u16 folder units    at most 258
//                   u16 name units      at most 99
//                   folder, name        UTF-16LE, without NULs
//   footer        24 bytes at the very end of the file:
//                   u64 index offset    where the index block starts
//                   u32 CRC-32          of the index block and the index data
//                   u32 layout version  1
//                   8 bytes "NWQINDEX"  (ASCII)
//
// The index offset is where the entries end: 924 + the sum of 752 + stored
// size over the entries. A reader finds the index with one seek from the end
// and never walks the records. An index is trusted only when everything above
// holds: magic, version, offset, lengths, count, CRC-32 and that sum; anything
// else reads as damaged, with the reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace package::size_index {

inline constexpr std::size_t kFooterSize = 24;
inline constexpr std::uint32_t kLayoutVersion = 1;

struct Entry {
  std::wstring folder;  // as stored: "\"-separated, empty at the top
  std::wstring name;
  std::uint64_t unpackedSize = 0;
  std::uint64_t storedSize = 0;  // the record's FileSize

  bool operator==(const Entry&) const = default;
};

enum class State {
  kAbsent,   // no footer at the end of the file
  kValid,    // every check passed
  kDamaged,  // a footer, but something does not hold: see `damage`
};

struct SizeIndex {
  State state = State::kAbsent;
  std::wstring damage;         // why a damaged index is not trusted
  std::vector<Entry> entries;  // only when valid
  // Where the entries end and the index block starts; only when valid.
  std::uint64_t contentsEnd = 0;
  // Where the footer says the index starts, whenever its checksum holds,
  // even if a later check failed.
  std::optional<std::uint64_t> checksummedOffset;

  bool IsValid() const { return state == State::kValid; }
  std::uint64_t UnpackedTotal() const;
};

// Reads the index of an open package with one seek from its end, and leaves
// the file where it stood. A damaged index writes a trace line. Nothing is
// held for the index data before its checksum holds, and then no more than
// the entries it lists. Raises FileError on an I/O error, and std::bad_alloc
// when those entries do not fit in memory.
SizeIndex Read(platform::File& package);

// Opens `path` for reading and reads its index. Raises FileError when the
// file cannot be opened or read.
SizeIndex ReadFile(const std::wstring& path);

// The index block, data and footer for entries that end at `contentsEnd`.
std::vector<std::uint8_t> Encode(const std::vector<Entry>& entries, std::uint64_t contentsEnd);

// Writes the index at `contentsEnd`, cutting away whatever the file held from
// there first. Raises FileError (the file may then hold part of an index).
void WriteAt(platform::File& package, std::uint64_t contentsEnd, const std::vector<Entry>& entries);

// Whether the bytes at `contentsEnd` begin as an index block does (all of
// them, when fewer than its magic are left): an index, sound or not, rather
// than foreign data or a damaged record. Leaves the file where it stood;
// raises FileError on an I/O error.
bool FollowsEntries(platform::File& package, std::uint64_t contentsEnd);

// Why `index` (valid) does not describe `entries` that end at `contentsEnd`;
// empty when it does. Unpacked sizes are compared only when `unpackedKnown`.
std::wstring Mismatch(const SizeIndex& index, const std::vector<Entry>& entries, std::uint64_t contentsEnd,
                      bool unpackedKnown);

}  // namespace package::size_index
