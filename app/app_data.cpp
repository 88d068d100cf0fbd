#include "app/app_data.h"

#include "app/folders.h"
#include "app/geo_path.h"
#include "package/package.h"
#include "platform/platform.h"

void TessavoAppData::SetUpFolders(const StartupFacts& facts) {
  m_programFolder = ProgramFolderOf(facts.programPath);
  m_packageFolder = PackageFolderOf(m_programFolder);
  m_destinationFolder = DefaultDestination(facts.programFilesFolder, facts.destinationSuffix);
  std::wstring remembered;
  if (ReadGeoPath(remembered)) m_destinationFolder = remembered;
}

bool TessavoAppData::ReadGeoPath(std::wstring& destination) {
  std::optional<std::wstring> value = ReadGeoPathValue();
  if (!value) return false;
  destination = std::move(*value);
  return true;
}

bool TessavoAppData::WriteGeoPath(std::wstring destination) { return WriteGeoPathValue(destination); }

bool TessavoAppData::CreateFolderTree(std::wstring path) { return platform::CreateFolderTree(path); }

// A read error on a package's header is raised as FileError; the catalogue
// leaves that package (or the whole folder) out rather than end the wizard.
bool TessavoAppData::GetAvailablePackages(std::vector<std::wstring>& names) {
  try {
    return GetAvailableGuids(m_packageFolder, names) == S_OK;
  } catch (const FileError&) {
    return false;
  }
}

bool TessavoAppData::GetPackageTitle(std::wstring name, std::wstring& title) {
  PackageHeader header;
  try {
    if (ReadPackageHeader(m_packageFolder, std::move(name), &header) != S_OK) return false;
  } catch (const FileError&) {
    return false;
  }
  title = header.TITLE();
  return true;
}

void TessavoAppData::GetPackageList(std::vector<std::wstring>& names, std::vector<std::wstring>& titles) {
  std::vector<std::wstring> found;
  if (GetAvailablePackages(found)) names.insert(names.end(), found.begin(), found.end());
  for (const std::wstring& name : names) {
    std::wstring title;
    GetPackageTitle(name, title);
    titles.push_back(std::move(title));
  }
}
