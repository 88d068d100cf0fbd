#include "customactions/check_higher_versions.h"

#include "customactions/installer_access.h"
#include "customactions/version.h"

#include <cstring>
#include <string>

namespace quorvis {
namespace {

// Packages compare against these lines in their logs; keep them exact.
constexpr const char* kNewestProductCodeLabel = "MsiCheckForHigherVersions: NewestProductCode: ";
constexpr const char* kCurrentVersionLabel = "MsiCheckForHigherVersions: CurrentProductVersion: ";
constexpr const char* kInstalledVersionLabel = "MsiCheckForHigherVersions: InstalledVersion: ";
constexpr const char* kNewerInstalledLine = "MsiCheckForHigherVersions: NEWERVERSIONINSTALLED=1";

// One try with a fixed buffer: a version that does not fit counts as not found.
constexpr std::uint32_t kVersionCapacity = 255;

}  // namespace

Status MsiCheckForHigherVersions(Installer& installer, Handle install) {
  std::string productCode;
  if (ReadProperty(installer, install, "NEWESTPRODUCTCODE", productCode) != kSuccess) return kInstallFailure;
  std::string currentVersion;
  if (ReadProperty(installer, install, "ProductVersion", currentVersion) != kSuccess) return kInstallFailure;

  LogLine(installer, install, kNewestProductCodeLabel + productCode);
  LogLine(installer, install, kCurrentVersionLabel + currentVersion);
  if (productCode.empty()) return kSuccess;

  std::string installedVersion(kVersionCapacity, '\0');
  std::uint32_t capacity = kVersionCapacity;
  if (installer.GetProductInfo(productCode.c_str(), "VersionString", installedVersion.data(), capacity) != kSuccess) {
    return kSuccess;
  }
  installedVersion.resize(std::strlen(installedVersion.c_str()));

  const VersionNumber current = ParseVersion(currentVersion);
  const VersionNumber installed = ParseVersion(installedVersion);
  LogLine(installer, install, kInstalledVersionLabel + installedVersion);

  // Equal counts as newer: the same version must not be installed twice.
  if (CompareVersions(installed, current) >= 0) {
    WriteProperty(installer, install, "NEWERVERSIONINSTALLED", "1");
    LogLine(installer, install, kNewerInstalledLine);
  } else {
    WriteProperty(installer, install, "NEWERVERSIONINSTALLED", "");
  }
  return kSuccess;
}

}  // namespace quorvis
