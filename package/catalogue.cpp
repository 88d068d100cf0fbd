#include <string_view>

#include "package/package.h"
#include "package/trace.h"

namespace {

bool HasPackageExtension(const std::wstring& name) {
  static constexpr std::wstring_view kExtension = L".nwq";
  if (name.size() < kExtension.size()) return false;
  const std::size_t start = name.size() - kExtension.size();
  for (std::size_t i = 0; i < kExtension.size(); ++i) {
    wchar_t c = name[start + i];
#if defined(_WIN32)  // the file system ignores case there
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
#endif
    if (c != kExtension[i]) return false;
  }
  return true;
}

}  // namespace

HRESULT GetAvailableGuids(std::wstring folder, std::vector<std::wstring>& names) {
  for (const std::wstring& entry : platform::FindFiles(folder, L"*.nwq")) {
    // Windows also matches short 8.3 names, so "a.nwqx" can come back for "*.nwq".
    if (!HasPackageExtension(entry)) continue;
    const std::wstring name = entry.substr(0, entry.rfind(L'.'));
    package_trace::Write(L"GetAvailableGuids: " + name + L"\r\n");
    PackageHeader header;
    try {
      if (ReadPackageHeader(folder, name, &header) == S_OK) names.push_back(name);
    } catch (const FileError&) {
      // A header that cannot be read is a package the catalogue cannot offer.
    }
  }
  return S_OK;
}
