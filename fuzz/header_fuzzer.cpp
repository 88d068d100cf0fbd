// The header check on arbitrary bytes. Its verdict is compared with the rules
// applied straight to the bytes, and the catalogue must agree with both.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "fuzz/scratch.h"
#include "package/package.h"
#include "package/trace.h"

namespace {

constexpr std::size_t kGuidOffset = 12;
constexpr std::size_t kGuidUnits = 100;
const std::u16string kName = u"FUZZ";

std::uint16_t Unit(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | at[1] << 8); }

bool ValidByTheRules(const std::uint8_t* data, std::size_t size) {
  if (size < package::kPackageHeaderSize) return false;
  const std::uint16_t magic[4] = {u'N', u'W', u'Q', 0};
  for (std::size_t i = 0; i < 4; ++i)
    if (Unit(data + 2 * i) != magic[i]) return false;
  const std::uint32_t version = data[8] | data[9] << 8 | data[10] << 16 | static_cast<std::uint32_t>(data[11]) << 24;
  if (version != 2) return false;
  std::u16string guid;
  for (std::size_t i = 0; i < kGuidUnits; ++i) {
    const std::uint16_t unit = Unit(data + kGuidOffset + 2 * i);
    if (unit == 0) break;
    guid.push_back(static_cast<char16_t>(unit));
  }
  return guid == kName;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  package::trace::SetEnabled(false);
  const std::filesystem::path folder = fuzz::ScratchRoot() / "Karten";
  std::filesystem::create_directories(folder);
  fuzz::WriteFile(folder / "FUZZ.nwq", data, size);
  const bool expected = ValidByTheRules(data, size);

  platform::File file;
  if (!file.Open(fuzz::Wide(folder / "FUZZ.nwq"), platform::File::Mode::kReadExclusive)) std::abort();
  package::PackageHeader header;
  const HRESULT status = package::CheckPackageHeader(L"FUZZ", &header, &file);
  if ((status == S_OK) != expected) std::abort();
  if (status == S_OK) {
    if (file.Position() != package::kPackageHeaderSize) std::abort();
    // Texts end inside their slots, whatever the bytes.
    if (header.TITLE().size() > package::kMaxTitleLength + 1 ||
        header.DESCRIPTION().size() > package::kMaxDescriptionLength + 1)
      std::abort();
  } else if (status != E_FAIL) {
    std::abort();
  }
  file.Close();

  package::PackageHeader again;
  if ((package::ReadPackageHeader(fuzz::Wide(folder), L"FUZZ", &again) == S_OK) != expected) std::abort();
  std::vector<std::wstring> names;
  package::GetAvailableGuids(fuzz::Wide(folder), names);
  if (names != (expected ? std::vector<std::wstring>{L"FUZZ"} : std::vector<std::wstring>{})) std::abort();
  return 0;
}
