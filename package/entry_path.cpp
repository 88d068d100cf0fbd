#include "package/entry_path.h"

#include <algorithm>
#include <array>
#include <cwctype>
#include <string_view>

#include "package/temp_files.h"

namespace package::entry_path {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Windows opens these as devices in any folder and with any extension. Told
// from a few letters on the stack: every entry of every run is checked.
bool IsDeviceName(std::wstring_view component) {
  std::size_t length = std::min(component.find(L'.'), component.size());
  while (length > 0 && component[length - 1] == L' ')
    --length;
  // CON, PRN, AUX, NUL, COM1, LPT1, CONIN$, CONOUT$.
  constexpr std::size_t kShortest = 3;
  constexpr std::size_t kLongest = 7;
  if (length < kShortest || length > kLongest) return false;
  wchar_t upper[kLongest];
  for (std::size_t i = 0; i < length; ++i)
    upper[i] = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(component[i])));
  const std::wstring_view base(upper, length);
  static constexpr std::array<std::wstring_view, 6> kFixed = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const std::wstring_view device : kFixed)
    if (base == device) return true;
  if (base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT"))) {
    const wchar_t digit = base[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
  }
  return false;
}

// Windows strips trailing dots and spaces, so ".. " and "..." climb like "..".
bool IsDotsOnly(std::wstring_view component) {
  if (component.empty() || component == L".") return false;
  for (wchar_t c : component)
    if (c != L'.' && c != L' ') return false;
  return component.find(L'.') != std::wstring_view::npos;
}

bool IsSafeComponent(std::wstring_view component) {
  if (component.find(L':') != std::wstring_view::npos) return false;
  for (wchar_t c : component)
    if (c < 0x20) return false;
  return !IsDotsOnly(component) && !IsDeviceName(component);
}

// `isName`: the record's name, whose parts must not look like the extractor's
// temporary files, which the next run would remove as leftovers.
bool IsSafeRelative(const std::wstring& path, bool isName) {
  if (!path.empty() && IsSeparator(path.front())) return false;
  const std::wstring_view whole(path);
  std::size_t start = 0;
  while (start <= whole.size()) {
    std::size_t end = start;
    while (end < whole.size() && !IsSeparator(whole[end]))
      ++end;
    const std::wstring_view component = whole.substr(start, end - start);
    if (!IsSafeComponent(component)) return false;
    if (isName && temp_files::IsTempName(std::wstring(component))) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

bool IsSafe(const std::wstring& folder, const std::wstring& name) {
  return IsSafeRelative(folder, false) && IsSafeRelative(name, true);
}

}  // namespace package::entry_path
