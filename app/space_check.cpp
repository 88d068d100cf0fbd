#include "app/space_check.h"

#include "platform/platform.h"

namespace {

std::wstring Replaced(std::wstring text, const std::wstring& marker, const std::wstring& value) {
  const std::size_t at = text.find(marker);
  return at == std::wstring::npos ? text : text.replace(at, marker.size(), value);
}

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
  std::wstring text = L"Space required: ";
  text += check.need.Complete() ? platform::FormatByteSize(check.need.known)
                                : L"at least " + platform::FormatByteSize(check.need.AtLeast());
  text += L"\r\nSpace available: ";
  text += check.available ? platform::FormatByteSize(*check.available) : L"unknown";
  return text;
}

std::wstring NotEnoughSpaceText(const SpaceCheck& check) {
  std::wstring text = L"Not enough free space on the destination drive: %1 needed, %2 available.";
  text = Replaced(std::move(text), L"%1", platform::FormatByteSize(check.need.known));
  return Replaced(std::move(text), L"%2", platform::FormatByteSize(check.available.value_or(0)));
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
