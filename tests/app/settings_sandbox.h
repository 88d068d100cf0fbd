// Points the settings store at a store of the test's own: a private file on
// POSIX; on Windows the settings key of the test prefix, emptied before and
// after, since the registry cannot be redirected.
#pragma once

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#endif

class SettingsSandbox {
 public:
  SettingsSandbox() {
#if defined(_WIN32)
    RemoveKey();
#else
    file_ = (folder_.path() / "settings").string();
    ::setenv("VARNHOLT_SETTINGS_FILE", file_.c_str(), 1);
#endif
  }
  ~SettingsSandbox() {
#if defined(_WIN32)
    RemoveKey();
#else
    ::unsetenv("VARNHOLT_SETTINGS_FILE");
#endif
  }
  SettingsSandbox(const SettingsSandbox&) = delete;
  SettingsSandbox& operator=(const SettingsSandbox&) = delete;

#if defined(_WIN32)
  static void RemoveKey() { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Varnholt\\Settings"); }
#else
  const std::string& file() const { return file_; }

 private:
  TempDir folder_;
  std::string file_;
#endif
};
