#include "app/geo_path.h"

#include <algorithm>
#include <array>
#include <vector>

#include "app/folders.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace app {

std::wstring GeoPathFromValue(const std::uint8_t* data, std::uint32_t size) {
  const std::size_t units = std::min<std::size_t>(size / 2, kGeoPathMaxLength);
  std::u16string value;
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t unit = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (unit == 0) break;
    value += unit;
  }
  return EnsureTrailingBackslash(text::FromUtf16(value));
}

std::optional<std::wstring> ReadGeoPathValue() {
  platform::SettingsKey key;
  if (key.OpenOrCreate(kSettingsKeyPath) != platform::kErrorSuccess) return std::nullopt;
  std::array<std::uint8_t, kGeoPathReadBytes> buffer{};
  std::uint32_t size = kGeoPathReadBytes;
  if (key.QueryValue(kGeoPathValueName, buffer.data(), &size) != platform::kErrorSuccess) return std::nullopt;
  return GeoPathFromValue(buffer.data(), std::min(size, kGeoPathReadBytes));
}

bool WriteGeoPathValue(const std::wstring& destination) {
  platform::SettingsKey key;
  if (key.OpenOrCreate(kSettingsKeyPath) != platform::kErrorSuccess) return false;
  const std::vector<std::uint8_t> bytes = text::ToUtf16LeWithNul(destination);
  return key.SetStringValue(kGeoPathValueName, bytes.data(), static_cast<std::uint32_t>(bytes.size())) ==
         platform::kErrorSuccess;
}

platform::ErrorCode DeleteGeoPathValue() {
  platform::SettingsKey key;
  if (const platform::ErrorCode code = key.OpenOrCreate(kSettingsKeyPath); code != platform::kErrorSuccess) return code;
  return key.DeleteValue(kGeoPathValueName);
}

}  // namespace app
