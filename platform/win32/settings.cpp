// The settings store on Windows: a registry key under HKEY_LOCAL_MACHINE.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/owners.h"

namespace platform {

SettingsKey::SettingsKey(SettingsKey&& other) noexcept = default;

SettingsKey& SettingsKey::operator=(SettingsKey&& other) noexcept = default;

SettingsKey::~SettingsKey() = default;

ErrorCode SettingsKey::OpenOrCreate(const std::wstring& keyPath) {
  Close();
  HKEY key = nullptr;
  const LSTATUS status = RegCreateKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str(), &key);
  if (status == ERROR_SUCCESS) key_.Reset(key);
  return static_cast<ErrorCode>(status);
}

ErrorCode SettingsKey::QueryValue(const std::wstring& name, void* buffer, std::uint32_t* size) {
  if (!key_) return ERROR_INVALID_HANDLE;
  DWORD bytes = *size;
  const LSTATUS status = RegQueryValueExW(static_cast<HKEY>(key_.Get()), name.c_str(), nullptr, nullptr,
                                          static_cast<BYTE*>(buffer), &bytes);
  *size = bytes;
  return static_cast<ErrorCode>(status);
}

ErrorCode SettingsKey::SetStringValue(const std::wstring& name, const void* data, std::uint32_t bytes) {
  if (!key_) return ERROR_INVALID_HANDLE;
  return static_cast<ErrorCode>(
      RegSetValueExW(static_cast<HKEY>(key_.Get()), name.c_str(), 0, REG_SZ, static_cast<const BYTE*>(data), bytes));
}

ErrorCode SettingsKey::SetDwordValue(const std::wstring& name, std::uint32_t value) {
  if (!key_) return ERROR_INVALID_HANDLE;
  const DWORD data = value;
  return static_cast<ErrorCode>(RegSetValueExW(static_cast<HKEY>(key_.Get()), name.c_str(), 0, REG_DWORD,
                                               reinterpret_cast<const BYTE*>(&data), sizeof data));
}

ErrorCode SettingsKey::DeleteValue(const std::wstring& name) {
  if (!key_) return ERROR_INVALID_HANDLE;
  const LSTATUS status = RegDeleteValueW(static_cast<HKEY>(key_.Get()), name.c_str());
  return status == ERROR_FILE_NOT_FOUND ? kErrorSuccess : static_cast<ErrorCode>(status);
}

// The view OpenOrCreate writes to, so the key that goes is the one it made.
ErrorCode SettingsKey::DeleteKey(const std::wstring& keyPath) {
  // An empty path would name HKEY_LOCAL_MACHINE itself.
  if (keyPath.empty()) return ERROR_INVALID_PARAMETER;
  const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str());
  return status == ERROR_FILE_NOT_FOUND ? kErrorSuccess : static_cast<ErrorCode>(status);
}

void SettingsKey::Close() { key_.Reset(); }

}  // namespace platform
