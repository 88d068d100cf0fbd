#include "framework/application.h"

#include <commctrl.h>

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

void InitCommonControls(DWORD classes) {
  INITCOMMONCONTROLSEX init{sizeof(init), classes};
  InitCommonControlsEx(&init);
}

}  // namespace framework

// The program's entry point: the static application object runs everything.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  framework::Application* app = framework::GetApp();
  return app != nullptr ? app->Run(instance) : 1;
}
