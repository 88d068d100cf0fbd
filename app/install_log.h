// The setup's log file: UTF-8, one line per event, each with the local time.
#pragma once

#include <mutex>
#include <string>

#include "platform/platform.h"

class InstallLog {
 public:
  // Creates or truncates the file, readable by others while the setup runs
  // (an administrator watching it); false with the system's code in *error.
  bool Open(const std::wstring& path, platform::ErrorCode* error);
  bool IsOpen() const;
  // Prefixes "YYYY-MM-DD HH:MM:SS.mmm " and ends the line with "\r\n". The UI
  // thread and the worker both log; a failing write never stops the
  // installation. Does nothing when the log is not open.
  void Write(const std::wstring& line);

 private:
  mutable std::mutex mutex_;
  platform::File file_;
};
