#include "app/install_log.h"

#include <cstdio>

#include "platform/text.h"

bool InstallLog::Open(const std::wstring& path, platform::ErrorCode* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  FileError failure;
  platform::File file;
  if (!file.Open(path, platform::File::Mode::kCreateWriteShareRead, &failure)) {
    if (error != nullptr) *error = static_cast<platform::ErrorCode>(failure.osError());
    return false;
  }
  file_ = std::move(file);
  return true;
}

bool InstallLog::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return file_.IsOpen();
}

void InstallLog::Write(const std::wstring& line) {
  // Stamped under the lock, so that the times never run backwards in the file.
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_.IsOpen()) return;
  const platform::LocalTimeOfDay now = platform::LocalTime();
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", now.year, now.month, now.day, now.hour,
                now.minute, now.second, now.millisecond);
  const std::string bytes = stamp + text::ToUtf8(line) + "\r\n";
  try {
    file_.Write(bytes.data(), bytes.size());
  } catch (...) {
    // A full disk or a lost share must not stop the installation it records.
  }
}
