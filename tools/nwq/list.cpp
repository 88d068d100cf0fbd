#include "package/reader.h"
#include "tools/nwq/commands.h"
#include "tools/nwq/output.h"
#include "tools/nwq/package_open.h"

namespace nwq {
namespace {

constexpr const wchar_t* kHelp =
    L"usage: nwq list PATH\n"
    L"For a package: its header and one line per entry (folder\\name, stored bytes,\n"
    L"created, modified). For a folder: the packages the setup wizard would offer,\n"
    L"one line each, name TAB title.";

int ListFolder(std::wstring folder) {
  if (folder.back() != platform::kPathSeparator && folder.back() != L'/') folder += platform::kPathSeparator;
  std::vector<std::wstring> names;
  GetAvailableGuids(folder, names);
  for (const std::wstring& name : names) {
    PackageHeader header;
    const std::wstring title = ReadPackageHeader(folder, name, &header) == S_OK ? header.TITLE() : L"";
    Print(name + L"\t" + title);
  }
  return kExitOk;
}

int ListPackage(const std::wstring& path) {
  PackageReader reader;
  if (!OpenPackage(path, reader)) return kExitFailed;
  const PackageHeader& header = reader.header();
  Print(L"GUID: " + header.GUID());
  Print(L"TITLE: " + header.TITLE());
  Print(L"DESCRIPTION: " + header.DESCRIPTION());
  Print(L"Version: " + std::to_wstring(header.Version()));
  PackageFileRecord record;
  while (reader.NextRecord(&record)) {
    const std::wstring folder = record.FolderWithSeparator();
    Print(folder + record.Name() + L"\t" + std::to_wstring(record.FileSize()) + L"\t" + IsoTime(record.CreateDate()) +
          L"\t" + IsoTime(record.ModifiedDate()));
  }
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
  } catch (const FileError& error) {
    PrintError(error.Text());
    return kExitFailed;
  }
}

}  // namespace nwq
