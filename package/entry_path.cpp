#include "package/entry_path.h"

#include <algorithm>
#include <array>
#include <cwctype>

#include "package/temp_files.h"

namespace package::entry_path {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring Upper(std::wstring s) {
  for (wchar_t& c : s)
    c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return s;
}

// Windows opens these as devices in any folder and with any extension.
bool IsDeviceName(const std::wstring& component) {
  // Longer than CONOUT$: no device, and no copy made to tell.
  std::size_t length = std::min(component.find(L'.'), component.size());
  while (length > 0 && component[length - 1] == L' ')
    --length;
  if (length > 7) return false;
  std::wstring base = Upper(component.substr(0, component.find(L'.')));
  while (!base.empty() && base.back() == L' ')
    base.pop_back();
  static constexpr std::array<const wchar_t*, 6> kFixed = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* device : kFixed)
    if (base == device) return true;
  if (base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT"))) {
    const wchar_t digit = base[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
  }
  return false;
}

// Windows strips trailing dots and spaces, so ".. " and "..." climb like "..".
bool IsDotsOnly(const std::wstring& component) {
  if (component.empty() || component == L".") return false;
  for (wchar_t c : component)
    if (c != L'.' && c != L' ') return false;
  return component.find(L'.') != std::wstring::npos;
}

bool IsSafeComponent(const std::wstring& component) {
  if (component.find(L':') != std::wstring::npos) return false;
  for (wchar_t c : component)
    if (c < 0x20) return false;
  return !IsDotsOnly(component) && !IsDeviceName(component);
}

// `isName`: the record's name, whose parts must not look like the extractor's
// temporary files, which the next run would remove as leftovers.
bool IsSafeRelative(const std::wstring& path, bool isName) {
  if (!path.empty() && IsSeparator(path.front())) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end]))
      ++end;
    const std::wstring component = path.substr(start, end - start);
    if (!IsSafeComponent(component)) return false;
    if (isName && temp_files::IsTempName(component)) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

bool IsSafe(const std::wstring& folder, const std::wstring& name) {
  return IsSafeRelative(folder, false) && IsSafeRelative(name, true);
}

}  // namespace package::entry_path
