// The GeoPath read rules on arbitrary registry data: the bytes taken as the
// stored value, and the same bytes as the POSIX settings store holding it.
// Every destination read must end in "\" and fit 512 characters.
#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "app/geo_path.h"
#include "fuzz/scratch.h"
#include "platform/text.h"

namespace {

void CheckDestination(const std::wstring& destination) {
  if (destination.empty() || destination.back() != L'\\') std::abort();
  if (destination.size() > app::kGeoPathMaxLength + 1) std::abort();
  if (destination.find(L'\0') != std::wstring::npos) std::abort();
}

// The value's text: UTF-16LE up to its first NUL, at most 511 units.
std::u16string StoredText(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size && text.size() < app::kGeoPathMaxLength; i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring fromValue = app::GeoPathFromValue(data, static_cast<std::uint32_t>(size));
  CheckDestination(fromValue);
  std::wstring expected = text::FromUtf16(StoredText(data, size));
  if (expected.empty() || expected.back() != L'\\') expected += L'\\';
  if (fromValue != expected) std::abort();

  static const std::filesystem::path store = [] {
    const std::filesystem::path path = fuzz::ScratchRoot() / "settings";
    ::setenv("VARNHOLT_SETTINGS_FILE", path.c_str(), 1);
    return path;
  }();
  fuzz::WriteFile(store, data, size);
  if (const auto destination = app::ReadGeoPathValue()) CheckDestination(*destination);
  return 0;
}
