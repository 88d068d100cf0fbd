#include "package/package.h"
#include "package/package_path.h"
#include "package/trace.h"

namespace package {

std::wstring BuildPackagePath(std::wstring folder, std::wstring packageName) {
  return package_path::Build(folder, packageName);
}

HeaderFault CheckHeader(const std::wstring& packageName, platform::File& file, PackageHeader* header) {
  if (file.Read(header->bytes.data(), header->bytes.size()) != header->bytes.size()) return HeaderFault::kTooShort;
  if (header->Magic() != L"NWQ") return HeaderFault::kWrongMagic;
  if (header->Version() != kPackageVersion) return HeaderFault::kWrongVersion;
  if (!header->GuidEquals(packageName)) return HeaderFault::kGuidMismatch;
  return HeaderFault::kNone;
}

HRESULT CheckPackageHeader(const std::wstring& packageName, PackageHeader* header, platform::File* file) {
  if (!header || !file || !file->IsOpen()) return E_FAIL;
  const HeaderFault fault = CheckHeader(packageName, *file, header);
  trace::TraceHeader(*header, fault);
  return fault == HeaderFault::kNone ? S_OK : E_FAIL;
}

HRESULT ReadPackageHeader(std::wstring folder, std::wstring packageName, PackageHeader* header) {
  const std::wstring path = BuildPackagePath(std::move(folder), packageName);
  trace::Write(L"\r\nDatei: " + path + L"\r\n");
  platform::File file;
  if (!file.Open(path, platform::File::Mode::kReadExclusive)) return E_FAIL;
  return CheckPackageHeader(packageName, header, &file);
}

std::wstring HeaderFaultText(HeaderFault fault, const PackageHeader& header, const std::wstring& packageName) {
  switch (fault) {
    case HeaderFault::kTooShort: return L"shorter than its 924-byte header";
    case HeaderFault::kWrongMagic: return L"it does not begin with NWQ";
    case HeaderFault::kWrongVersion:
      return L"version " + std::to_wstring(header.Version()) + L", not " + std::to_wstring(kPackageVersion);
    case HeaderFault::kGuidMismatch:
      return L"its header names '" + header.GUID() + L"', its file name '" + packageName + L"'";
    case HeaderFault::kNone: break;
  }
  return L"its header is refused";
}

}  // namespace package
