// The application object: one static instance per program, reached from
// anywhere through GetApp(). The program's entry point runs its start-up.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace framework {

class Window;

class Application {
 public:
  // Without a name the title comes from string resource 57344.
  explicit Application(const wchar_t* appName = nullptr);
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Start-up. Returning false ends the program without a message loop.
  virtual bool InitInstance();
  virtual int ExitInstance();

  // Called by the entry point.
  int Run(HINSTANCE instance);

  // The key under which per-user settings would be kept; nothing is stored.
  void SetRegistryKey(const wchar_t* key);

  const std::wstring& Title() const { return title_; }
  HINSTANCE Instance() const { return instance_; }

  Window* m_pMainWnd = nullptr;

 private:
  std::wstring title_;
  std::wstring registryKey_;
  HINSTANCE instance_ = nullptr;
};

Application* GetApp();

inline constexpr UINT kAppTitleStringId = 57344;

std::wstring LoadResourceString(UINT id);

// The program's file version from its version resource ("1.0.0.0"); empty
// without one.
std::wstring ProgramVersion();

// A string of the program's version resource (ProductName, CompanyName,
// ...), from the table of the language its translation list names first;
// empty without one.
std::wstring ProgramVersionString(std::wstring_view name);
// The same from a version resource's bytes. A block that does not fit
// where its parent says ends the reading there: what cannot be read whole
// is not there.
std::wstring VersionResourceString(const void* resource, std::size_t size, std::wstring_view name);

// Registers the common-control classes; the result is of no interest.
void InitCommonControls(DWORD classes);

}  // namespace framework
