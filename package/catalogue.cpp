#include "package/package.h"
#include "package/trace.h"

namespace {

bool HasPackageExtension(const std::wstring& name) {
  if (name.size() < 4) return false;
  std::wstring extension = name.substr(name.size() - 4);
#if defined(_WIN32)
  for (wchar_t& c : extension) c = static_cast<wchar_t>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
#endif
  return extension == L".nwq";
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
