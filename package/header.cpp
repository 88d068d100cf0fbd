#include "package/package.h"
#include "package/trace.h"

namespace {

#if defined(_WIN32)
constexpr const char* kInvalidFileTrace = "Keine g\xFCltige Datei!";  // the ANSI code page's text
#else
constexpr const char* kInvalidFileTrace = "Keine g\xC3\xBCltige Datei!";
#endif

}  // namespace

std::wstring BuildPackagePath(std::wstring folder, std::wstring packageName) {
  return folder + platform::kPathSeparator + packageName + L".nwq";
}

HRESULT CheckPackageHeader(const std::wstring& packageName, PackageHeader* header, platform::File* file) {
  if (!header || !file || !file->IsOpen()) return E_FAIL;
  const bool valid = file->Read(header->bytes.data(), header->bytes.size()) == header->bytes.size() &&
                     header->Magic() == L"NWQ" && header->Version() == kPackageVersion && header->GUID() == packageName;
  if (!valid) {
    package_trace::WriteNarrow(kInvalidFileTrace);
    return E_FAIL;
  }
  package_trace::Write(L"Version: " + std::to_wstring(header->Version()) + L"\r\n");
  package_trace::Write(L"GUID: " + header->GUID() + L"\r\n");
  package_trace::Write(L"TITLE: " + header->TITLE() + L"\r\n");
  package_trace::Write(L"DESCRIPTION: " + header->DESCRIPTION() + L"\r\n");
  return S_OK;
}

HRESULT ReadPackageHeader(std::wstring folder, std::wstring packageName, PackageHeader* header) {
  const std::wstring path = BuildPackagePath(std::move(folder), packageName);
  package_trace::Write(L"\r\nDatei: " + path + L"\r\n");
  platform::File file;
  if (!file.Open(path, platform::File::Mode::kReadExclusive)) return E_FAIL;
  return CheckPackageHeader(packageName, header, &file);
}
