#include "package/entry_path.h"
#include "package/reader.h"
#include "tools/nwq/commands.h"
#include "tools/nwq/output.h"
#include "tools/nwq/package_open.h"

namespace nwq {
namespace {

constexpr const wchar_t* kHelp =
    L"usage: nwq verify PATH...\n"
    L"Checks each package's header and decodes every entry without writing\n"
    L"anything; names each damaged or unsafe entry.";

const wchar_t* Describe(StreamState state) {
  switch (state) {
    case StreamState::kCorrupt: return L"damaged: the stored data does not decode";
    case StreamState::kTruncated: return L"damaged: the stored data ends early";
    case StreamState::kNoDecoder: return L"cannot be decoded: out of memory";
    case StreamState::kComplete:
    case StreamState::kStopped: break;  // verification never stops
  }
  return L"";
}

// True when the package is sound.
bool VerifyPackage(const std::wstring& path) {
  PackageReader reader;
  if (!OpenPackage(path, reader)) return false;
  bool sound = true;
  std::size_t entries = 0;
  std::uint64_t bytes = 0;
  PackageFileRecord record;
  while (reader.NextRecord(&record)) {
    ++entries;
    const std::wstring folder = record.FolderWithSeparator();
    const std::wstring entry = folder + record.Name();
    if (!entry_path::IsSafe(folder, record.Name())) {
      PrintError(path + L": " + entry + L": would be written outside the destination");
      sound = false;
    }
    std::uint64_t decoded = 0;
    const StreamState state = reader.VerifyData(&decoded);
    bytes += decoded;
    if (state != StreamState::kComplete) {
      PrintError(path + L": " + entry + L": " + Describe(state));
      // After a broken stream the next record's place is not trustworthy.
      return false;
    }
  }
  if (sound) Print(path + L": OK, " + std::to_wstring(entries) + L" files, " + std::to_wstring(bytes) + L" bytes");
  return sound;
}

}  // namespace

int Verify(const Arguments& arguments) {
  if (HasHelpFlag(arguments)) {
    Print(kHelp);
    return kExitOk;
  }
  if (arguments.empty()) {
    Print(kHelp);
    return kExitUsage;
  }
  bool allSound = true;
  for (const std::wstring& path : arguments) {
    try {
      allSound = VerifyPackage(path) && allSound;
    } catch (const FileError& error) {
      PrintError(error.Text());
      allSound = false;
    }
  }
  return allSound ? kExitOk : kExitFailed;
}

}  // namespace nwq
