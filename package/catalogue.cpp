#include "package/package.h"
#include "package/package_path.h"
#include "package/trace.h"

namespace package {

HRESULT GetAvailableGuids(std::wstring folder, std::vector<std::wstring>& names) {
  for (const std::wstring& entry : platform::FindFiles(folder, L"*.nwq")) {
    // Windows also matches short 8.3 names, so "a.nwqx" can come back for "*.nwq".
    const std::optional<std::wstring> packageName = package_path::PackageNameOf(entry);
    if (!packageName) continue;
    const std::wstring& name = *packageName;
    trace::Write(L"GetAvailableGuids: " + name + L"\r\n");
    PackageHeader header;
    try {
      if (ReadPackageHeader(folder, name, &header) == S_OK) names.push_back(name);
    } catch (const FileError&) {
      // A header that cannot be read is a package the catalogue cannot offer.
    }
  }
  return S_OK;
}

}  // namespace package
