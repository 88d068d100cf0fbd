// Planted beside a program under the name of a DLL that programs load. Should
// anything ever load it, it adds the path of the program that did to
// "<its own path>.ran", one line each.
#include <windows.h>

#include <string>

#include "platform/win32/owners.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t own[MAX_PATH] = {};
  wchar_t program[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(self, own, MAX_PATH);
  DWORD programLength = ::GetModuleFileNameW(nullptr, program, MAX_PATH - 1);
  program[programLength++] = L'\n';
  if (length == 0 || length >= MAX_PATH) return TRUE;
  HANDLE created = ::CreateFileW((std::wstring(own, length) + L".ran").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                 nullptr, OPEN_ALWAYS, 0, nullptr);
  if (created == INVALID_HANDLE_VALUE) return TRUE;
  // Kept to the kernel's handle owner: the DLL links nothing of the suite.
  const platform::UniqueKernelHandle file(created);
  DWORD written = 0;
  ::WriteFile(file.Get(), program, programLength * sizeof(wchar_t), &written, nullptr);
  return TRUE;
}
