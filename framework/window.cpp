#include "framework/window.h"

#include <windowsx.h>

#include <vector>

namespace framework {

std::wstring Window::GetWindowText() const {
  const int length = ::GetWindowTextLengthW(m_hWnd);
  if (length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(m_hWnd, buffer.data(), length + 1);
  return std::wstring(buffer.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

POINT CurrentMessagePos() {
  const DWORD position = ::GetMessagePos();
  return POINT{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
}

}  // namespace framework
