#include "app/space_check.h"

#include "platform/platform.h"
#include "resources/texts_en.h"

namespace app {

SpaceCheck CheckSpace(const std::wstring& destination, const std::vector<PackageEntry>& packages,
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

}  // namespace app
