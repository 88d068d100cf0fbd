// A worker thread object: InitInstance runs on the new thread; when it
// returns true the thread waits in a message loop of its own. The framework
// owns the object and deletes it when its thread ends.
#pragma once

#include <windows.h>

namespace framework {

class Thread {
 public:
  virtual ~Thread() = default;
  virtual bool InitInstance() = 0;
  virtual int ExitInstance() { return 0; }
};

// Starts the thread at normal priority with the default stack, running at
// once. The object belongs to the framework from here on.
bool StartThread(Thread* thread);

template <typename T>
T* BeginThread() {
  T* thread = new T();
  if (!StartThread(thread)) {
    delete thread;
    return nullptr;
  }
  return thread;
}

}  // namespace framework
