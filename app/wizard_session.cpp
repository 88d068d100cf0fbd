#include "app/wizard_session.h"

#include "app/folders.h"
#include "app/geo_path.h"
#include "app/package_sizes.h"
#include "package/package.h"
#include "package/package_path.h"
#include "platform/platform.h"

namespace app {

StartupFacts GatherStartupFacts(std::wstring destinationSuffix) {
  StartupFacts facts;
  try {
    facts.programPath = platform::ProgramPath(kProgramPathCapacity);
  } catch (...) {
    // Start-up goes on with the folders whatever they hold: the wizard always runs.
  }
  facts.programFilesFolder = platform::ProgramFilesFolder();
  facts.destinationSuffix = std::move(destinationSuffix);
  return facts;
}

void WizardSession::SetUpFolders(const StartupFacts& facts) {
  m_programFolder = ProgramFolderOf(facts.programPath);
  m_packageFolder = PackageFolderOf(m_programFolder);
  m_destinationFolder = DefaultDestination(facts.programFilesFolder, facts.destinationSuffix);
  std::wstring remembered;
  if (ReadGeoPath(remembered)) m_destinationFolder = remembered;
}

void WizardSession::SetDestinationFolder(std::wstring folder) {
  // A native path's own separator counts as one too.
  const bool ends = !folder.empty() && folder.back() == platform::kPathSeparator;
  m_destinationFolder = ends ? std::move(folder) : EnsureTrailingBackslash(std::move(folder));
}

void WizardSession::ChoosePackages(const std::vector<PackageRow>& rows) {
  m_chosenPackages.clear();
  for (const PackageRow& row : rows) {
    if (!row.checked) continue;
    PackageEntry& chosen = m_chosenPackages.emplace_back(row.package);
    chosen.sizes = ReadPackageSizes(package::package_path::Build(m_packageFolder, chosen.name));
  }
}

bool WizardSession::ReadGeoPath(std::wstring& destination) {
  std::optional<std::wstring> value = ReadGeoPathValue();
  if (!value) return false;
  destination = std::move(*value);
  return true;
}

bool WizardSession::WriteGeoPath(std::wstring destination) { return WriteGeoPathValue(destination); }

bool WizardSession::CreateFolderTree(std::wstring path) { return platform::CreateFolderTree(path); }

// A read error on a package's header is raised as FileError; the catalogue
// leaves that package (or the whole folder) out rather than end the wizard.
bool WizardSession::GetAvailablePackages(std::vector<std::wstring>& names) {
  try {
    return package::GetAvailableGuids(m_packageFolder, names) == S_OK;
  } catch (const FileError&) {
    return false;
  }
}

bool WizardSession::GetPackageTitle(std::wstring name, std::wstring& title) {
  package::PackageHeader header;
  try {
    if (package::ReadPackageHeader(m_packageFolder, std::move(name), &header) != S_OK) return false;
  } catch (const FileError&) {
    return false;
  }
  title = header.TITLE();
  return true;
}

void WizardSession::GetPackageList(std::vector<std::wstring>& names, std::vector<std::wstring>& titles) {
  std::vector<std::wstring> found;
  if (!GetAvailablePackages(found)) found.clear();
  for (std::wstring& name : found) {
    std::wstring title;
    GetPackageTitle(name, title);
    names.push_back(std::move(name));
    titles.push_back(std::move(title));
  }
}

std::vector<PackageEntry> WizardSession::ReadCatalogue() {
  std::vector<std::wstring> names;
  std::vector<std::wstring> titles;
  GetPackageList(names, titles);
  std::vector<PackageEntry> catalogue;
  catalogue.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i)
    catalogue.push_back(PackageEntry{std::move(names[i]), std::move(titles[i]), {}});
  return catalogue;
}

void WizardSession::SetReinstallAll(bool reinstall) {
  if (reinstall == reinstallAll()) return;
  if (reinstall) {
    m_ruleWithoutReinstall = m_copyRule;
    m_copyRule = CopyRule::kWriteAll;
  } else {
    m_copyRule = m_ruleWithoutReinstall;
  }
}

InstallationJob WizardSession::BuildInstallationJob() {
  InstallationJob job;
  job.packageFolder = m_packageFolder;
  job.destinationFolder = m_destinationFolder;
  job.packages = PackageNames(m_chosenPackages);
  job.recordDestination = [this](std::wstring destination) { return WriteGeoPath(std::move(destination)); };
  job.record = m_recordKeeper;
  job.copyRule = m_copyRule;
  return job;
}

}  // namespace app
