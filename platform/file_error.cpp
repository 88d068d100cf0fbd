#include "platform/file_error.h"

#include <array>

std::wstring FileError::MessageTemplate(Cause cause) {
  static constexpr std::array<const wchar_t*, 16> kMessages = {
      L"No error occurred.",
      L"An unknown error occurred while accessing %1.",
      L"%1 was not found.",
      L"%1 contains an incorrect path.",
      L"Could not open %1 because there are too many open files.",
      L"Access to %1 was denied.",
      L"An incorrect file handle was associated with %1.",
      L"Could not remove %1 because it is the current directory.",
      L"Could not create %1 because the directory is full.",
      L"Seek failed on %1",
      L"Encountered a hardware I/O error while accessing %1.",
      L"Encountered a sharing violation while accessing %1.",
      L"Encountered a locking violation while accessing %1.",
      L"Disk full while accessing %1.",
      L"Attempted to access %1 past its end.",
      L"%1 is damaged and cannot be installed.",
  };
  const auto index = static_cast<std::size_t>(cause);
  return index < kMessages.size() ? kMessages[index] : kMessages[kGeneric];
}

std::wstring FileError::Text() const {
  std::wstring text = MessageTemplate(cause_);
  const std::wstring name = fileName_.empty() ? L"an unnamed file" : fileName_;
  const auto at = text.find(L"%1");
  if (at != std::wstring::npos) text.replace(at, 2, name);
  return text;
}
