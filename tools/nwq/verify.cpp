#include "package/reader.h"
#include "tools/nwq/commands.h"
#include "tools/nwq/entries.h"
#include "tools/nwq/output.h"
#include "tools/nwq/package_open.h"

namespace nwq {
namespace {

constexpr const wchar_t* kHelp =
    L"usage: nwq verify PATH...\n"
    L"Checks each package's header and decodes every entry without writing\n"
    L"anything; names each damaged or unsafe entry, and a size index that is\n"
    L"damaged or does not match the entries.";

// True when the package is sound.
bool VerifyPackage(const std::wstring& path) {
  package::PackageReader reader;
  if (!OpenPackage(path, reader)) return false;
  const DecodedEntries decoded = DecodeEntries(path, reader);
  bool sound = decoded.sound;
  bool indexed = false;
  // Matching an index against entries cut short by a broken stream would only
  // repeat that fault; a damaged index is told in any case.
  if (decoded.sound || reader.index().state == package::size_index::State::kDamaged) {
    const IndexCheck check = CheckIndex(reader, decoded);
    if (check.state == IndexState::kBroken) {
      PrintError(path + L": size index " + check.why);
      sound = false;
    }
    indexed = check.state == IndexState::kSound;
  }
  if (sound)
    Print(path + L": OK, " + std::to_wstring(decoded.entries.size()) + L" files, " +
          std::to_wstring(decoded.unpackedBytes) + L" bytes" + (indexed ? L", size index matches" : L""));
  return sound;
}

}  // namespace

int Verify(const Arguments& arguments) { return ForEachPackage(arguments, kHelp, VerifyPackage); }

}  // namespace nwq
