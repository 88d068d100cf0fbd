#include "app/space_check.h"

#include "platform/platform.h"
#include "resources/texts_en.h"

namespace {

std::wstring ByteCount(std::uint64_t bytes) { return std::to_wstring(bytes) + L" bytes"; }

}  // namespace

SpaceCheck CheckSpace(const std::wstring& destination, const std::vector<PackageSizes>& packages,
                      DestinationFileSystem& fileSystem) {
  SpaceCheck check;
  check.need = ComputeSpaceNeed(packages, destination,
                                [&fileSystem](const std::wstring& path) { return fileSystem.ExistingFileSize(path); });
  check.available = fileSystem.AvailableSpace(destination);
  return check;
}

std::wstring SpaceSummaryText(const SpaceCheck& check) {
  using texts_en::Filled;
  const std::wstring required = check.need.Complete()
                                    ? platform::FormatByteSize(check.need.known)
                                    : Filled(texts_en::kAtLeast, platform::FormatByteSize(check.need.AtLeast()));
  const std::wstring available =
      check.available ? platform::FormatByteSize(*check.available) : std::wstring(texts_en::kUnknown);
  return Filled(texts_en::kSpaceRequired, required) + L"\r\n" + Filled(texts_en::kSpaceAvailable, available);
}

std::wstring NotEnoughSpaceText(const SpaceCheck& check) {
  return texts_en::Filled(texts_en::kNotEnoughSpace, platform::FormatByteSize(check.need.known),
                          platform::FormatByteSize(check.available.value_or(0)));
}

std::wstring SpaceLogLine(const std::wstring& destination, const SpaceCheck& check) {
  std::wstring sizes = ByteCount(check.need.known) + L" needed";
  if (!check.need.Complete()) {
    sizes += L" (at least " + ByteCount(check.need.AtLeast()) + L" with " +
             std::to_wstring(check.need.unknownPackages) + L" package(s) of unknown unpacked size)";
  }
  sizes += L", " + (check.available ? ByteCount(*check.available) : std::wstring(L"unknown")) + L" available";
  if (check.Fits()) return L"Space on the destination drive of " + destination + L": " + sizes;
  return L"Error: not enough free space on the destination drive of " + destination + L": " + sizes;
}
