// The settings store on Windows: a registry key under HKEY_LOCAL_MACHINE.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

SettingsKey::SettingsKey(SettingsKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }

SettingsKey& SettingsKey::operator=(SettingsKey&& other) noexcept {
  if (this != &other) {
    Close();
    key_ = other.key_;
    other.key_ = nullptr;
  }
  return *this;
}

SettingsKey::~SettingsKey() { Close(); }

ErrorCode SettingsKey::OpenOrCreate(const std::wstring& keyPath) {
  Close();
  HKEY key = nullptr;
  const LSTATUS status = RegCreateKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str(), &key);
  if (status == ERROR_SUCCESS) key_ = key;
  return static_cast<ErrorCode>(status);
}

ErrorCode SettingsKey::QueryValue(const std::wstring& name, void* buffer, std::uint32_t* size) {
  if (key_ == nullptr) return ERROR_INVALID_HANDLE;
  DWORD bytes = *size;
  const LSTATUS status =
      RegQueryValueExW(static_cast<HKEY>(key_), name.c_str(), nullptr, nullptr, static_cast<BYTE*>(buffer), &bytes);
  *size = bytes;
  return static_cast<ErrorCode>(status);
}

ErrorCode SettingsKey::SetStringValue(const std::wstring& name, const void* data, std::uint32_t bytes) {
  if (key_ == nullptr) return ERROR_INVALID_HANDLE;
  return static_cast<ErrorCode>(
      RegSetValueExW(static_cast<HKEY>(key_), name.c_str(), 0, REG_SZ, static_cast<const BYTE*>(data), bytes));
}

void SettingsKey::Close() {
  if (key_ != nullptr) {
    RegCloseKey(static_cast<HKEY>(key_));
    key_ = nullptr;
  }
}

}  // namespace platform
