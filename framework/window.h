// A non-owning handle to a window with the operations the pages use. Calls
// are messages to the window, so from another thread they block until the
// window's own thread has carried them out.
#pragma once

#include <windows.h>

#include <string>

namespace framework {

class Window {
 public:
  Window() = default;
  virtual ~Window() = default;

  void Attach(HWND window) { m_hWnd = window; }
  HWND GetSafeHwnd() const { return m_hWnd; }
  HWND GetParent() const { return ::GetParent(m_hWnd); }

  void SetWindowText(const std::wstring& text) { ::SetWindowTextW(m_hWnd, text.c_str()); }
  std::wstring GetWindowText() const;
  void ShowWindow(int command) { ::ShowWindow(m_hWnd, command); }
  void EnableWindow(bool enable) { ::EnableWindow(m_hWnd, enable ? TRUE : FALSE); }
  POINT ScreenToClient(POINT point) const {
    ::ScreenToClient(m_hWnd, &point);
    return point;
  }

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
  }
  void PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    ::PostMessageW(m_hWnd, message, wParam, lParam);
  }

  HWND m_hWnd = nullptr;
};

// The screen position of the message being handled.
POINT CurrentMessagePos();

}  // namespace framework
