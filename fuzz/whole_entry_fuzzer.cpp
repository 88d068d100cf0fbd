// The whole-entry decoder against zlib's streaming path on arbitrary streams:
// a claimed unpacked size (u32, little-endian), then the stored bytes. Where
// both accept a stream, they give the same bytes, and zlib read it in as many
// chunks as the whole entry's progress replays. What libdeflate refuses goes
// to zlib anyway, so it needs no check. libdeflate is more lenient than zlib
// in a few places the format leaves no room for (length symbols 286 and 287,
// distance symbols 30 and 31, a one-codeword code sent as bit 1, more length
// codes than the format has): such a stream, whose size and check value
// hold, zlib may call damaged, but never anything else.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/scratch.h"
#include "package/record_walker.h"
#include "package/stream_decoder.h"
#include "package/whole_entry.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t claimed = 0;
  std::memcpy(&claimed, data, 4);
  claimed %= 1u << 20;  // a budget's worth
  const std::filesystem::path path = fuzz::ScratchRoot() / "stream.bin";
  fuzz::WriteFile(path, data + 4, size - 4);
  platform::File file;
  if (!file.Open(fuzz::Wide(path), platform::File::Mode::kReadExclusive)) std::abort();
  const auto stored = static_cast<std::int64_t>(size - 4);
  const package::EntryReader entry(file, 0, stored, static_cast<std::uint64_t>(stored));

  static package::WholeEntryDecoder whole;
  const auto decoded = whole.Decode(entry, claimed);
  if (!decoded) return 0;
  if (decoded->bytes.size() != claimed || decoded->consumed == 0 ||
      decoded->consumed > static_cast<std::uint64_t>(stored))
    std::abort();

  constexpr std::size_t kChunk = 1024;
  package::DecodeWorkspace work({kChunk, 2048});
  package::EntryReader reader = entry;
  std::vector<unsigned char> streamed;
  std::vector<std::uint64_t> positions;
  const package::StreamState state = package::DecodeStream(
      reader, work,
      [&](const unsigned char* bytes, std::size_t count) { streamed.insert(streamed.end(), bytes, bytes + count); },
      [&] {
        positions.push_back(reader.position());
        return true;
      });
  if (state == package::StreamState::kCorrupt) return 0;
  if (state != package::StreamState::kComplete) std::abort();
  if (!std::equal(streamed.begin(), streamed.end(), decoded->bytes.begin(), decoded->bytes.end())) std::abort();
  if (decoded->adler32 != work.inflater.stream().adler) std::abort();

  // The positions a whole entry's progress replays.
  std::vector<std::uint64_t> replayed;
  const auto total = static_cast<std::uint64_t>(stored);
  std::uint64_t read = 0;
  while (read < decoded->consumed) {
    read = std::min<std::uint64_t>(read + kChunk, total);
    replayed.push_back(read);
  }
  if (read != total) replayed.push_back(total);
  if (replayed != positions) std::abort();
  return 0;
}
