// What the wizard's pages and its worker share, and the operations on it that
// need no window: the folders, the chosen packages, the remembered
// destination, and the package catalogue. The Windows application object
// derives from this; tests use it as it is.
#pragma once

#include <optional>
#include <string>
#include <vector>

// What start-up learns from the system before it works out the folders.
struct StartupFacts {
  std::wstring programPath;                        // the program file, as the system reported it
  std::optional<std::wstring> programFilesFolder;  // nullopt when the lookup failed
  std::wstring destinationSuffix;                  // string resource 57346
};

class TessavoAppData {
 public:
  std::wstring m_programFolder;
  std::wstring m_packageFolder;
  std::wstring m_destinationFolder;
  std::vector<std::wstring> m_chosenPackages;

  // Start-up's folder steps: program and package folder, the default
  // destination, then GeoPath over it when it can be read.
  void SetUpFolders(const StartupFacts& facts);

  bool ReadGeoPath(std::wstring& destination);
  bool WriteGeoPath(std::wstring destination);
  bool CreateFolderTree(std::wstring path);

  bool GetAvailablePackages(std::vector<std::wstring>& names);
  bool GetPackageTitle(std::wstring name, std::wstring& title);
  // Appends the catalogue: names and titles, position by position.
  void GetPackageList(std::vector<std::wstring>& names, std::vector<std::wstring>& titles);
};
