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
  // Nobody waits for the thread: its handle is let go at once.
  const platform::UniqueKernelHandle handle(::CreateThread(nullptr, 0, &ThreadMain, thread, 0, nullptr));
  return handle.IsValid();
}

Event::Event() : handle_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void Event::Set() { ::SetEvent(handle_.Get()); }

bool Event::IsSet() const { return ::WaitForSingleObject(handle_.Get(), 0) == WAIT_OBJECT_0; }

void WaitHandlingMessages(const Event& event) {
  const HANDLE handle = event.Handle();
  if (handle == nullptr) return;
  for (;;) {
    const DWORD woken = ::MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) return;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

}  // namespace framework
