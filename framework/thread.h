// A worker thread object: InitInstance runs on the new thread; when it
// returns true the thread waits in a message loop of its own. The framework
// owns the object and deletes it when its thread ends.
#pragma once

#include <windows.h>

#include <utility>

#include "platform/win32/owners.h"

namespace framework {

class Thread {
 public:
  virtual ~Thread() = default;
  virtual bool InitInstance() = 0;
  virtual int ExitInstance() { return 0; }
};

// Starts the thread at normal priority with the default stack, running at
// once. The object belongs to the framework from here on. False when the
// system would not start it; LastError() then says why.
bool StartThread(Thread* thread);

// Null when the thread could not start.
template <typename T, typename... Args>
T* BeginThread(Args&&... args) {
  T* thread = new T(std::forward<Args>(args)...);
  if (!StartThread(thread)) {
    const DWORD error = ::GetLastError();
    delete thread;
    ::SetLastError(error);
    return nullptr;
  }
  return thread;
}

// Set once by one thread, waited for by another.
class Event {
 public:
  Event();
  void Set();
  bool IsSet() const;
  HANDLE Handle() const { return handle_.Get(); }

 private:
  platform::UniqueKernelHandle handle_;
};

// Waits for the event while answering the calling thread's messages, so that
// a thread blocked sending to this thread's windows can go on.
void WaitHandlingMessages(const Event& event);

}  // namespace framework
