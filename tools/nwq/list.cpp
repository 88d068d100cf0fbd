#include "package/reader.h"
#include "tools/nwq/commands.h"
#include "tools/nwq/output.h"
#include "tools/nwq/package_open.h"

namespace nwq {
namespace {

constexpr const wchar_t* kHelp =
    L"usage: nwq list PATH\n"
    L"For a package: its header and one line per entry (folder\\name, stored bytes,\n"
    L"created, modified, and unpacked bytes when the package has a size index, which\n"
    L"also gives a last line with the unpacked total). For a folder: the packages the\n"
    L"setup wizard would offer, one line each, name TAB title.";

int ListFolder(std::wstring folder) {
  if (folder.back() != platform::kPathSeparator && folder.back() != L'/') folder += platform::kPathSeparator;
  std::vector<std::wstring> names;
  package::GetAvailableGuids(folder, names);
  for (const std::wstring& name : names) {
    package::PackageHeader header;
    const std::wstring title = package::ReadPackageHeader(folder, name, &header) == S_OK ? header.TITLE() : L"";
    Print(name + L"\t" + title);
  }
  return kExitOk;
}

int ListPackage(const std::wstring& path) {
  package::PackageReader reader;
  if (!OpenPackage(path, reader)) return kExitFailed;
  const package::PackageHeader& header = reader.header();
  Print(L"GUID: " + header.GUID());
  Print(L"TITLE: " + header.TITLE());
  Print(L"DESCRIPTION: " + header.DESCRIPTION());
  Print(L"Version: " + std::to_wstring(header.Version()));
  std::vector<std::wstring> lines;
  std::vector<package::size_index::Entry> entries;
  package::PackageFileRecord record;
  while (reader.NextRecord(&record)) {
    lines.push_back(record.FolderWithSeparator() + record.Name() + L"\t" + std::to_wstring(record.FileSize()) + L"\t" +
                    IsoTime(record.CreateDate()) + L"\t" + IsoTime(record.ModifiedDate()));
    entries.push_back({record.Folder(), record.Name(), 0, static_cast<std::uint64_t>(record.FileSize())});
  }
  // Sizes only from an index that lists exactly these entries.
  const package::size_index::SizeIndex& index = reader.index();
  bool sized = index.IsValid();
  if (index.state == package::size_index::State::kDamaged) PrintError(path + L": size index ignored: " + index.damage);
  if (sized) {
    const std::wstring mismatch = package::size_index::Mismatch(index, entries, reader.EntriesEnd(), false);
    if (!mismatch.empty()) PrintError(path + L": size index ignored: " + mismatch);
    sized = mismatch.empty();
  }
  for (std::size_t i = 0; i < lines.size(); ++i)
    Print(sized ? lines[i] + L"\t" + std::to_wstring(index.entries[i].unpackedSize) : lines[i]);
  if (sized) Print(L"Unpacked: " + std::to_wstring(index.UnpackedTotal()));
  return kExitOk;
}

}  // namespace

int List(const Arguments& arguments) {
  if (HasHelpFlag(arguments)) {
    Print(kHelp);
    return kExitOk;
  }
  if (arguments.size() != 1 || arguments[0].empty()) {
    Print(kHelp);
    return kExitUsage;
  }
  try {
    return platform::IsFolder(arguments[0]) ? ListFolder(arguments[0]) : ListPackage(arguments[0]);
  } catch (...) {
    PrintError(CurrentErrorText(arguments[0]));
    return kExitFailed;
  }
}

}  // namespace nwq
