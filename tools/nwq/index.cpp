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
    L"does not verify, or that holds other bytes after its last entry, is refused.";

std::wstring Summary(const DecodedEntries& decoded) {
  return std::to_wstring(decoded.entries.size()) + L" files, " + std::to_wstring(decoded.unpackedBytes) +
         L" bytes unpacked";
}

// Writes the index behind the entries; on failure nothing of it stays.
void WriteIndex(PackageReader& reader, const DecodedEntries& decoded) {
  platform::File& file = reader.file();
  try {
    size_index::WriteAt(file, decoded.end, decoded.entries);
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

bool IndexPackage(const std::wstring& path) {
  PackageReader reader;
  const std::wstring name = PackageNameFor(path);
  if (name.empty()) return false;
  const package_engine::Result opened = reader.Open(path, name, true);
  std::wstring refusal = Refusal(path, name, opened);
  // A file that exists but cannot be opened for writing: say so, not "cannot be read".
  if (opened.outcome == package_engine::Outcome::kCannotOpen && !refusal.ends_with(L": not found"))
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
