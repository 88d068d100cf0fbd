#include "framework/application.h"

#include <commctrl.h>
#include <winver.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/win32/system_library.h"

namespace framework {
namespace {
Application* g_app = nullptr;
}

Application::Application(const wchar_t* appName) {
  if (appName != nullptr) title_ = appName;
  g_app = this;
}

Application::~Application() {
  if (g_app == this) g_app = nullptr;
}

bool Application::InitInstance() { return true; }

int Application::ExitInstance() { return 0; }

int Application::Run(HINSTANCE instance) {
  instance_ = instance;
  if (title_.empty()) title_ = LoadResourceString(kAppTitleStringId);
  if (!InitInstance()) return ExitInstance();
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return ExitInstance();
}

void Application::SetRegistryKey(const wchar_t* key) { registryKey_ = key; }

Application* GetApp() { return g_app; }

std::wstring LoadResourceString(UINT id) {
  const wchar_t* text = nullptr;
  // With a zero length the call hands out a pointer into the resource itself.
  const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

std::wstring ProgramVersion() {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  if (found == nullptr) return {};
  // A loaded resource is part of the mapped image: nothing to release.
  const auto* bytes = static_cast<const unsigned char*>(::LockResource(::LoadResource(module, found)));
  const DWORD size = ::SizeofResource(module, found);
  if (bytes == nullptr) return {};
  // The fixed part follows the block's header and its key, 32-bit aligned;
  // its signature finds it without reading the header's layout.
  for (DWORD offset = 0; offset + sizeof(VS_FIXEDFILEINFO) <= size; offset += 4) {
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, bytes + offset, sizeof(info));
    if (info.dwSignature != VS_FFI_SIGNATURE) continue;
    return std::to_wstring(HIWORD(info.dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info.dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info.dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(info.dwFileVersionLS));
  }
  return {};
}

void InitCommonControls(DWORD classes) {
  const auto init = platform::SystemFunction<decltype(::InitCommonControlsEx)>(platform::SystemDll::kComctl32,
                                                                               "InitCommonControlsEx");
  INITCOMMONCONTROLSEX controls{sizeof(controls), classes};
  if (init != nullptr) init(&controls);
}

}  // namespace framework

// The program's entry point: the static application object runs everything.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  platform::LoadDllsFromSystemFolderOnly();
  framework::Application* app = framework::GetApp();
  return app != nullptr ? app->Run(instance) : 1;
}
