#include "tools/nwq/package_open.h"

#include <filesystem>
#include <system_error>

#include "package/package_path.h"
#include "platform/fs_path.h"
#include "tools/nwq/output.h"

namespace nwq {

std::wstring PackageNameFor(const std::wstring& path) {
  const std::optional<std::wstring> name = package::package_path::PackageNameOf(path);
  if (!name || name->empty()) {
    PrintError(path + L": not a package: its name does not end in .nwq");
    return {};
  }
  return *name;
}

std::wstring Refusal(const std::wstring& path, const std::wstring& expectedName, const package::Result& result) {
  using package::Outcome;
  if (result.outcome == Outcome::kCannotOpen) {
    std::error_code ec;
    if (!std::filesystem::exists(platform::FsPath(path), ec) && !ec) return path + L": not found";
    return path + L": cannot be read: " + result.openError.Text();
  }
  if (result.outcome == Outcome::kExtracted) return {};
  return path + L": not a valid package: " + package::HeaderFaultText(result.headerFault, result.header, expectedName);
}

bool OpenPackage(const std::wstring& path, package::PackageReader& reader) {
  const std::wstring name = PackageNameFor(path);
  if (name.empty()) return false;
  const std::wstring refusal = Refusal(path, name, reader.Open(path, name));
  if (refusal.empty()) return true;
  PrintError(refusal);
  return false;
}

}  // namespace nwq
