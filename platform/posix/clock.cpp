#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "platform/text.h"

namespace platform {

LocalTimeOfDay LocalTime() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm parts{};
  ::localtime_r(&now.tv_sec, &parts);
  LocalTimeOfDay time;
  time.year = parts.tm_year + 1900;
  time.month = parts.tm_mon + 1;
  time.day = parts.tm_mday;
  time.hour = parts.tm_hour;
  time.minute = parts.tm_min;
  time.second = parts.tm_sec;
  time.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return time;
}

struct SetupLock::Holder {
  UniqueFd fd;
};

SetupLock::SetupLock() = default;
SetupLock::SetupLock(SetupLock&&) noexcept = default;
SetupLock& SetupLock::operator=(SetupLock&&) noexcept = default;
SetupLock::~SetupLock() = default;

SetupLock::Outcome SetupLock::Acquire(const std::wstring& name) {
  holder_.reset();
  error_ = kErrorSuccess;
  const char* folder = std::getenv("TMPDIR");
  std::string path = (folder != nullptr && *folder != '\0') ? folder : "/tmp";
  path.append("/").append(text::ToUtf8(name)).append(".lock");
  // The lock lives on the open description, not in the file: a file left
  // behind by a crashed setup locks nothing. No link is followed in a folder
  // everybody may write to.
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!fd) {
    error_ = LastError();
    return Outcome::kFailed;
  }
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    error_ = LastError();
    return error_ == EWOULDBLOCK ? Outcome::kHeldElsewhere : Outcome::kFailed;
  }
  holder_ = std::make_unique<Holder>(Holder{std::move(fd)});
  return Outcome::kAcquired;
}

bool SetupLock::IsHeld() const { return holder_ != nullptr; }

}  // namespace platform
