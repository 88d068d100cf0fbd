// The remembered destination root: the value GeoPath of the machine-wide
// settings key (HKEY_LOCAL_MACHINE on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace app {

inline constexpr wchar_t kSettingsKeyPath[] = L"Software\\Varnholt\\Settings";
inline constexpr wchar_t kGeoPathValueName[] = L"GeoPath";
// The read offers 1024 bytes: 511 characters and the terminating NUL.
inline constexpr std::uint32_t kGeoPathReadBytes = 1024;
inline constexpr std::size_t kGeoPathMaxLength = kGeoPathReadBytes / 2 - 1;

// The destination that `size` bytes of a stored value stand for: the UTF-16LE
// text up to its first NUL, with a "\" appended when it lacks one. A value
// without a NUL is cut at 511 characters, as if its NUL had been there.
std::wstring GeoPathFromValue(const std::uint8_t* data, std::uint32_t size);

// Opens (and so, on the first start, creates) the key and reads the value;
// nullopt when the key cannot be opened or the value is absent or too long.
std::optional<std::wstring> ReadGeoPathValue();

// Stores the text unchanged as a string value with its terminating NUL.
bool WriteGeoPathValue(const std::wstring& destination);

// Removes the value (the key stays, as the wizard would create it again);
// success also when it was not there.
platform::ErrorCode DeleteGeoPathValue();

}  // namespace app
