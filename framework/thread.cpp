#include "framework/thread.h"

#include <memory>

namespace framework {
namespace {

DWORD WINAPI ThreadMain(LPVOID parameter) {
  std::unique_ptr<Thread> thread(static_cast<Thread*>(parameter));
  if (thread->InitInstance()) {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  return static_cast<DWORD>(thread->ExitInstance());
}

}  // namespace

bool StartThread(Thread* thread) {
  HANDLE handle = ::CreateThread(nullptr, 0, &ThreadMain, thread, 0, nullptr);
  if (handle == nullptr) return false;
  ::CloseHandle(handle);  // nobody waits for the thread
  return true;
}

}  // namespace framework
