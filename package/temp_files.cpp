#include "package/temp_files.h"

#include <cwchar>
#include <random>

namespace package::temp_files {
namespace {

constexpr std::size_t kPrefixLength = std::char_traits<wchar_t>::length(kPrefix);
constexpr std::size_t kSuffixLength = std::char_traits<wchar_t>::length(kSuffix);
// A clash of two random names is rare; this many in a row means something else is wrong.
constexpr int kAttempts = 32;

wchar_t LowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EqualsIgnoringCase(const std::wstring& text, std::size_t at, const wchar_t* expected, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i)
    if (LowerAscii(text[at + i]) != LowerAscii(expected[i])) return false;
  return true;
}

bool IsHexDigit(wchar_t c) {
  c = LowerAscii(c);
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

std::wstring RandomName() {
  thread_local std::mt19937 generator{std::random_device{}()};
  wchar_t hex[kHexDigits + 1];
  std::swprintf(hex, kHexDigits + 1, L"%08X", static_cast<unsigned>(generator()));
  return kPrefix + std::wstring(hex) + kSuffix;
}

std::wstring WithSeparator(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'/' && folder.back() != platform::kPathSeparator)
    folder += platform::kPathSeparator;
  return folder;
}

}  // namespace

bool IsTempName(const std::wstring& name) {
  if (name.size() != kPrefixLength + kHexDigits + kSuffixLength) return false;
  if (!EqualsIgnoringCase(name, 0, kPrefix, kPrefixLength)) return false;
  for (std::size_t i = kPrefixLength; i < kPrefixLength + kHexDigits; ++i)
    if (!IsHexDigit(name[i])) return false;
  return EqualsIgnoringCase(name, kPrefixLength + kHexDigits, kSuffix, kSuffixLength);
}

void OwnFiles::Add(const std::wstring& name) {
  std::lock_guard lock(mutex_);
  names_.insert(name);
}

bool OwnFiles::Holds(const std::wstring& name) const {
  std::lock_guard lock(mutex_);
  return names_.count(name) != 0;
}

bool Create(const std::wstring& folder, platform::File* file, FileError* error, OwnFiles& own) {
  const std::wstring base = WithSeparator(folder);
  FileError failure;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::wstring name = RandomName();
    // Named before it exists: a clean-up running meanwhile must not take it.
    own.Add(name);
    if (file->Open(base + name, platform::File::Mode::kCreateNewWrite, &failure)) return true;
    if (!platform::IsExistsError(static_cast<platform::ErrorCode>(failure.osError()))) break;
  }
  if (error) *error = failure;
  return false;
}

void RemoveLeftovers(const std::wstring& folder, const OwnFiles& own) {
  const std::wstring base = WithSeparator(folder);
  // "*" and a check of each name: the OS's wildcards would differ in case
  // handling between the systems and, on Windows, also match short names.
  for (const std::wstring& name : platform::FindFiles(base, L"*"))
    if (IsTempName(name) && !own.Holds(name)) platform::RemoveUnusedFile(base + name);
}

}  // namespace package::temp_files
