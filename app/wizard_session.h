// One run of the wizard: the folders, the chosen packages and the
// destination that the pages and the copy worker share, with the operations
// on them that need no window. The application object creates it and hands
// it to the pages; tests use it as it is.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/choose_rules.h"
#include "app/installation_run.h"
#include "app/package_entry.h"

namespace app {

// What start-up learns from the system before it works out the folders.
struct StartupFacts {
  std::wstring programPath;                        // the program file, as the system reported it
  std::optional<std::wstring> programFilesFolder;  // nullopt when the lookup failed
  std::wstring destinationSuffix;                  // string resource 57346
};

inline constexpr std::size_t kProgramPathCapacity = 260;

// Asks the system for the program's path (through a buffer of 260
// characters) and the program-files folder. A failure while reading the
// path leaves it empty: the wizard runs whatever start-up learns.
StartupFacts GatherStartupFacts(std::wstring destinationSuffix);

class WizardSession {
 public:
  // Start-up's folder steps: program and package folder, the default
  // destination, then GeoPath over it when it can be read.
  void SetUpFolders(const StartupFacts& facts);

  const std::wstring& programFolder() const { return m_programFolder; }
  const std::wstring& packageFolder() const { return m_packageFolder; }
  const std::wstring& destinationFolder() const { return m_destinationFolder; }
  // In the list's order, each with its sizes.
  const std::vector<PackageEntry>& chosenPackages() const { return m_chosenPackages; }

  // The folder the catalogue is read from and the packages are opened in.
  void SetPackageFolder(std::wstring folder) { m_packageFolder = std::move(folder); }
  // Every destination the session holds ends in "\".
  void SetDestinationFolder(std::wstring folder);
  // Replaces the choice by the packages of the checked rows, in the order
  // the rows are given (the list's display order), and reads each one's
  // sizes once, for the destination page and the space check.
  void ChoosePackages(const std::vector<PackageRow>& rows);

  bool ReadGeoPath(std::wstring& destination);
  bool WriteGeoPath(std::wstring destination);
  bool CreateFolderTree(std::wstring path);

  bool GetAvailablePackages(std::vector<std::wstring>& names);
  bool GetPackageTitle(std::wstring name, std::wstring& title);
  // Appends the catalogue: names and titles, position by position.
  void GetPackageList(std::vector<std::wstring>& names, std::vector<std::wstring>& titles);
  // The catalogue as one list, built anew (every header read again), in the
  // catalogue's order: the one place where names meet their titles.
  std::vector<PackageEntry> ReadCatalogue();

  // The copy run's own copy of the folders and the choice; a run that is
  // not stopped keeps its destination through this session's GeoPath.
  InstallationJob BuildInstallationJob();
  // The install record every job built here keeps; not owned, may be null.
  void SetRecordKeeper(RecordKeeper* keeper) { m_recordKeeper = keeper; }
  // Which files the jobs built here write: /force, /repair or the
  // destination page's "Reinstall all files".
  CopyRule copyRule() const { return m_copyRule; }
  void SetCopyRule(CopyRule rule) { m_copyRule = rule; }
  // The destination page's "Reinstall all files": ticked, every file is
  // written; unticked again, the rule from before comes back (/repair's,
  // else skipping unchanged files). /force shows it ticked.
  bool reinstallAll() const { return m_copyRule == CopyRule::kWriteAll; }
  void SetReinstallAll(bool reinstall);

 private:
  std::wstring m_programFolder;
  std::wstring m_packageFolder;
  std::wstring m_destinationFolder;
  std::vector<PackageEntry> m_chosenPackages;
  RecordKeeper* m_recordKeeper = nullptr;
  CopyRule m_copyRule = CopyRule::kSkipUnchanged;
  CopyRule m_ruleWithoutReinstall = CopyRule::kSkipUnchanged;
};

}  // namespace app
