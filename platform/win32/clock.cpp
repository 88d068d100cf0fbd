#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/win32/owners.h"

namespace platform {

LocalTimeOfDay LocalTime() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  LocalTimeOfDay time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day = now.wDay;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  time.second = now.wSecond;
  time.millisecond = now.wMilliseconds;
  return time;
}

struct SetupLock::Holder {
  UniqueKernelHandle mutex;
};

SetupLock::SetupLock() = default;
SetupLock::SetupLock(SetupLock&&) noexcept = default;
SetupLock& SetupLock::operator=(SetupLock&&) noexcept = default;
SetupLock::~SetupLock() = default;

SetupLock::Outcome SetupLock::Acquire(const std::wstring& name) {
  holder_.reset();
  error_ = kErrorSuccess;
  // Global\ so that a setup in another session (a distribution tool's
  // service, a second user) counts too.
  const std::wstring fullName = L"Global\\" + name;
  UniqueKernelHandle mutex(::CreateMutexW(nullptr, FALSE, fullName.c_str()));
  const DWORD error = ::GetLastError();
  if (!mutex) {
    error_ = error;
    // Another user's mutex may deny us access: it exists all the same.
    return error == ERROR_ACCESS_DENIED ? Outcome::kHeldElsewhere : Outcome::kFailed;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    error_ = error;
    return Outcome::kHeldElsewhere;
  }
  holder_ = std::make_unique<Holder>(Holder{std::move(mutex)});
  return Outcome::kAcquired;
}

bool SetupLock::IsHeld() const { return holder_ != nullptr; }

}  // namespace platform
