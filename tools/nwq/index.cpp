#include <optional>

#include "package/reader.h"
#include "package/size_index.h"
#include "tools/nwq/commands.h"
#include "tools/nwq/entries.h"
#include "tools/nwq/output.h"
#include "tools/nwq/package_open.h"

namespace nwq {
namespace {

constexpr const wchar_t* kHelp =
    L"usage: nwq index PACKAGE...\n"
    L"Appends a size index (every entry's unpacked size) to each package that has\n"
    L"none, decoding its entries once; the header and the entries stay as they\n"
    L"are. A valid index is left alone; a damaged one is replaced. A package that\n"
    L"does not verify, whose entries stop where no index starts, or that holds\n"
    L"other bytes after its last entry, is refused and left as it is.";

std::wstring Summary(const DecodedEntries& decoded) {
  return std::to_wstring(decoded.entries.size()) + L" files, " + std::to_wstring(decoded.unpackedBytes) +
         L" bytes unpacked";
}

// Writes the index behind the entries; on failure nothing of it stays.
void WriteIndex(package::PackageReader& reader, const DecodedEntries& decoded) {
  platform::File& file = reader.file();
  try {
    package::size_index::WriteAt(file, decoded.end, decoded.entries);
    file.Close();
  } catch (const FileError&) {
    try {
      if (file.IsOpen()) file.Truncate(decoded.end);
    } catch (const FileError&) {
      // The first error is the one to tell; a part left behind reads as damaged.
    }
    throw;
  }
}

// Why the entries may go on past where the walk stopped, so that cutting
// the package back there would lose them; empty when an index starts there.
std::wstring EntriesMayGoOn(package::PackageReader& reader, const DecodedEntries& decoded) {
  const std::wstring stop = L"its entries stop at offset " + std::to_wstring(decoded.end);
  // A footer whose checksum holds knows where the entries end.
  if (const std::optional<std::uint64_t> at = reader.index().checksummedOffset) {
    if (*at == decoded.end) return {};
    return stop + L", not where its size index starts (offset " + std::to_wstring(*at) + L")";
  }
  if (package::size_index::FollowsEntries(reader.file(), decoded.end)) return {};
  return stop + L", where no size index starts";
}

bool IndexPackage(const std::wstring& path) {
  package::PackageReader reader;
  const std::wstring name = PackageNameFor(path);
  if (name.empty()) return false;
  const package::Result opened = reader.Open(path, name, true);
  std::wstring refusal = Refusal(path, name, opened);
  // A file that exists but cannot be opened for writing: say so, not "cannot be read".
  if (opened.outcome == package::Outcome::kCannotOpen && !refusal.ends_with(L": not found"))
    refusal = path + L": cannot be opened for writing: " + opened.openError.Text();
  if (!refusal.empty()) {
    PrintError(refusal);
    return false;
  }
  const DecodedEntries decoded = DecodeEntries(path, reader);
  if (!decoded.sound) {
    PrintError(path + L": not indexed: it does not verify");
    return false;
  }
  if (decoded.end > reader.file().Length()) {
    PrintError(path +
               L": not indexed: its last entry claims more bytes than the file holds, so an index behind it "
               L"would be read as part of that entry");
    return false;
  }
  const IndexCheck check = CheckIndex(reader, decoded);
  switch (check.state) {
    case IndexState::kSound: Print(path + L": has a valid size index; left as it is"); return true;
    case IndexState::kForeignTail:
      PrintError(path + L": not indexed: the " + std::to_wstring(reader.file().Length() - decoded.end) +
                 L" bytes after its last entry are not a size index, and an index behind them would never be "
                 L"reached");
      return false;
    case IndexState::kBroken:
      if (const std::wstring why = EntriesMayGoOn(reader, decoded); !why.empty()) {
        PrintError(path + L": not indexed: it does not verify: " + why);
        return false;
      }
      WriteIndex(reader, decoded);
      Print(path + L": size index replaced (" + check.why + L"); " + Summary(decoded));
      return true;
    case IndexState::kAbsent: break;
  }
  WriteIndex(reader, decoded);
  Print(path + L": size index added; " + Summary(decoded));
  return true;
}

}  // namespace

int Index(const Arguments& arguments) { return ForEachPackage(arguments, kHelp, IndexPackage); }

}  // namespace nwq
