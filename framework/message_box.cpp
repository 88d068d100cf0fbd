#include "framework/message_box.h"

#include "framework/application.h"

namespace framework {

int MessageBox(HWND owner, const std::wstring& text, UINT type) {
  const Application* app = GetApp();
  const wchar_t* caption = app != nullptr ? app->Title().c_str() : nullptr;
  return ::MessageBoxW(owner, text.c_str(), caption, type);
}

}  // namespace framework
