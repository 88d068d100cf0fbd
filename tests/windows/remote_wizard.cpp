#include "remote_wizard.h"

#include <prsht.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <fstream>
#include <thread>

namespace {

// Memory inside the wizard's process, for the list-view messages that carry
// pointers: they reach the other process unmarshalled.
class RemoteMemory {
 public:
  RemoteMemory(HANDLE process, std::size_t size) : process_(process) {
    void* address = ::VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (address != nullptr) allocation_.Reset({process, address});
  }

  char* address() const { return static_cast<char*>(allocation_.Get().address); }
  void Write(std::size_t offset, const void* data, std::size_t size) const {
    ::WriteProcessMemory(process_, address() + offset, data, size, nullptr);
  }
  void Read(std::size_t offset, void* data, std::size_t size) const {
    ::ReadProcessMemory(process_, address() + offset, data, size, nullptr);
  }

 private:
  HANDLE process_;
  UniqueRemoteAllocation allocation_;
};

struct DialogSearch {
  DWORD processId;
  HWND exclude;
  HWND found = nullptr;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<DialogSearch*>(parameter);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  wchar_t className[64] = {};
  ::GetClassNameW(window, className, 64);
  if (owner == search->processId && window != search->exclude && ::IsWindowVisible(window) &&
      std::wstring(className) == L"#32770") {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<DialogSearch*>(parameter);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && ::IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CollectStatics(HWND child, LPARAM parameter) {
  wchar_t className[64] = {};
  ::GetClassNameW(child, className, 64);
  if (std::wstring(className) == L"Static") {
    const std::wstring text = RemoteWizard::WindowText(child);
    auto* texts = reinterpret_cast<std::wstring*>(parameter);
    if (!text.empty()) *texts += (texts->empty() ? L"" : L"\n") + text;
  }
  return TRUE;
}

BOOL CALLBACK FindTree(HWND child, LPARAM parameter) {
  wchar_t className[64] = {};
  ::GetClassNameW(child, className, 64);
  if (std::wstring(className) == WC_TREEVIEWW) {
    *reinterpret_cast<HWND*>(parameter) = child;
    return FALSE;
  }
  return TRUE;
}

// An item of the folder browser's tree, TVGN_CARET or TVGN_ROOT, opened to
// show its children; no item when the tree or the item is missing.
struct TreeItem {
  HWND tree = nullptr;
  LPARAM item = 0;
};
TreeItem ExpandedTreeItem(HWND browser, WPARAM which) {
  TreeItem found;
  ::EnumChildWindows(browser, &FindTree, reinterpret_cast<LPARAM>(&found.tree));
  if (found.tree == nullptr) return found;
  found.item = static_cast<LPARAM>(::SendMessageW(found.tree, TVM_GETNEXTITEM, which, 0));
  if (found.item != 0) ::SendMessageW(found.tree, TVM_EXPAND, TVE_EXPAND, found.item);
  return found;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

RemoteWizard::RemoteWizard(const std::wstring& program, const std::wstring& arguments, bool waitForSheet) {
  // The wizard's trace lines would only bury the driver's own output.
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  const UniqueFileHandle nul(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                           OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = nul.Get();
  startup.hStdError = nul.Get();
  std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started)) {
    startError_ = ::GetLastError();
    return;
  }
  process_.Reset(started.hProcess);
  const UniqueKernelHandle mainThread(started.hThread);
  processId_ = started.dwProcessId;
  // A prefix's first program starts slowly.
  if (waitForSheet) WaitForSheet();
}

bool RemoteWizard::WaitForSheet(std::chrono::milliseconds timeout) {
  if (!process_) return false;
  ::WaitForInputIdle(process_.Get(), 10000);
  return WaitUntil(
      [this] {
        DialogSearch search{processId_, nullptr};
        ::EnumWindows(&FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr && ::SendMessageW(search.found, PSM_GETCURRENTPAGEHWND, 0, 0) != 0) {
          sheet_ = search.found;
        }
        return sheet_ != nullptr;
      },
      timeout);
}

RemoteWizard::~RemoteWizard() {
  if (!process_) return;
  if (::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
    ::TerminateProcess(process_.Get(), 99);
    ::WaitForSingleObject(process_.Get(), 5000);
  }
}

std::wstring RemoteWizard::WindowText(HWND window) {
  wchar_t text[2048] = {};
  ::SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
  return text;
}

std::wstring RemoteWizard::Title() const { return WindowText(sheet_); }

bool RemoteWizard::WaitForTitle(const std::wstring& title) {
  return WaitUntil([&] { return Title() == title; });
}

ButtonState RemoteWizard::Button(int id) const {
  HWND button = ::GetDlgItem(sheet_, id);
  return {::IsWindowVisible(button) != FALSE, ::IsWindowEnabled(button) != FALSE};
}

bool RemoteWizard::WaitForButton(int id, bool enabled) {
  return WaitUntil([&] {
    const ButtonState state = Button(id);
    return state.visible && state.enabled == enabled;
  });
}

void RemoteWizard::Press(int psbtn) const { ::PostMessageW(sheet_, PSM_PRESSBUTTON, static_cast<WPARAM>(psbtn), 0); }

HWND RemoteWizard::Page() const { return reinterpret_cast<HWND>(::SendMessageW(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0)); }

std::wstring RemoteWizard::Text(int id) const { return WindowText(Control(id)); }

int RemoteWizard::ProgressPosition(int id) const {
  return static_cast<int>(::SendMessageW(Control(id), PBM_GETPOS, 0, 0));
}

int RemoteWizard::ProgressUpper(int id) const {
  return static_cast<int>(::SendMessageW(Control(id), PBM_GETRANGE, FALSE, 0));
}

void RemoteWizard::Click(int id) const { ::PostMessageW(Control(id), BM_CLICK, 0, 0); }

int RemoteWizard::RowCount(int listId) const {
  return static_cast<int>(::SendMessageW(Control(listId), LVM_GETITEMCOUNT, 0, 0));
}

std::wstring RemoteWizard::RowText(int listId, int row) const {
  constexpr std::size_t kChars = 512;
  RemoteMemory memory(process_.Get(), sizeof(LVITEMW) + kChars * sizeof(wchar_t));
  LVITEMW item{};
  item.iSubItem = 0;
  item.pszText = reinterpret_cast<LPWSTR>(memory.address() + sizeof(LVITEMW));
  item.cchTextMax = kChars;
  memory.Write(0, &item, sizeof(item));
  ::SendMessageW(Control(listId), LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(memory.address()));
  wchar_t text[kChars] = {};
  memory.Read(sizeof(LVITEMW), text, sizeof(text) - sizeof(wchar_t));
  return text;
}

bool RemoteWizard::RowChecked(int listId, int row) const {
  const auto state = static_cast<UINT>(
      ::SendMessageW(Control(listId), LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
  return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void RemoteWizard::SelectRows(int listId, const std::vector<int>& rows) const {
  RemoteMemory memory(process_.Get(), sizeof(LVITEMW));
  const int count = RowCount(listId);
  for (int row = 0; row < count; ++row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = std::find(rows.begin(), rows.end(), row) != rows.end() ? LVIS_SELECTED : 0;
    memory.Write(0, &item, sizeof(item));
    ::SendMessageW(Control(listId), LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(memory.address()));
  }
}

bool RemoteWizard::ClickCheckBox(int listId, int row) const {
  HWND list = Control(listId);
  RemoteMemory memory(process_.Get(), sizeof(LVHITTESTINFO) + sizeof(RECT));
  RECT bounds{};
  bounds.left = LVIR_BOUNDS;
  memory.Write(sizeof(LVHITTESTINFO), &bounds, sizeof(bounds));
  ::SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(memory.address() + sizeof(LVHITTESTINFO)));
  memory.Read(sizeof(LVHITTESTINFO), &bounds, sizeof(bounds));
  // Find the point of the row that the list itself takes for its check box.
  POINT target{-1, -1};
  for (int x = bounds.left; x < bounds.left + 40 && target.x < 0; ++x) {
    LVHITTESTINFO hit{};
    hit.pt = {x, (bounds.top + bounds.bottom) / 2};
    memory.Write(0, &hit, sizeof(hit));
    const int found =
        static_cast<int>(::SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(memory.address())));
    memory.Read(0, &hit, sizeof(hit));
    if (found == row && (hit.flags & LVHT_ONITEMSTATEICON) != 0) target = {x + 3, hit.pt.y};
  }
  if (target.x < 0) return false;
  ::ClientToScreen(list, &target);
  ::SetCursorPos(target.x, target.y);
  INPUT inputs[2] = {};
  inputs[0].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].type = INPUT_MOUSE;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ::SendInput(1, &inputs[0], sizeof(INPUT));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ::SendInput(1, &inputs[1], sizeof(INPUT));
  // Let the double-click time pass, so that the next click is a click again.
  std::this_thread::sleep_for(std::chrono::milliseconds(::GetDoubleClickTime() + 100));
  return true;
}

HWND RemoteWizard::WaitForDialog(std::chrono::milliseconds timeout) const {
  DialogSearch search{processId_, sheet_};
  WaitUntil(
      [&] {
        search.found = nullptr;
        ::EnumWindows(&FindDialog, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeout);
  return search.found;
}

std::wstring RemoteWizard::DialogTexts(HWND dialog) {
  std::wstring texts;
  ::EnumChildWindows(dialog, &CollectStatics, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

void RemoteWizard::AnswerDialog(HWND dialog, int buttonId) {
  ::PostMessageW(::GetDlgItem(dialog, buttonId), BM_CLICK, 0, 0);
}

bool RemoteWizard::SelectFirstSubfolder(HWND browser) {
  const TreeItem selected = ExpandedTreeItem(browser, TVGN_CARET);
  if (selected.item == 0) return false;
  const auto child = static_cast<LPARAM>(::SendMessageW(selected.tree, TVM_GETNEXTITEM, TVGN_CHILD, selected.item));
  if (child == 0) return false;
  return ::SendMessageW(selected.tree, TVM_SELECTITEM, TVGN_CARET, child) != FALSE;
}

bool RemoteWizard::SelectPath(HWND browser, const std::wstring& path) const {
  const std::size_t bytes = (path.size() + 1) * sizeof(wchar_t);
  RemoteMemory memory(process_.Get(), bytes);
  if (memory.address() == nullptr) return false;
  memory.Write(0, path.c_str(), bytes);
  ::SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(memory.address()));
  return true;
}

bool RemoteWizard::SelectTopItem(HWND browser, const std::wstring& text) const {
  const TreeItem root = ExpandedTreeItem(browser, TVGN_ROOT);
  if (root.item == 0) return false;
  HWND tree = root.tree;
  constexpr std::size_t kChars = 260;
  RemoteMemory memory(process_.Get(), sizeof(TVITEMW) + kChars * sizeof(wchar_t));
  for (auto item = static_cast<LPARAM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, root.item)); item != 0;
       item = static_cast<LPARAM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, item))) {
    TVITEMW query{};
    query.mask = TVIF_TEXT;
    query.hItem = reinterpret_cast<HTREEITEM>(item);
    query.pszText = reinterpret_cast<LPWSTR>(memory.address() + sizeof(TVITEMW));
    query.cchTextMax = kChars;
    memory.Write(0, &query, sizeof(query));
    ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(memory.address()));
    wchar_t name[kChars] = {};
    memory.Read(sizeof(TVITEMW), name, sizeof(name) - sizeof(wchar_t));
    if (text == name) return ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, item) != FALSE;
  }
  return false;
}

std::vector<std::wstring> RemoteWizard::ModulePaths() const {
  std::vector<std::wstring> paths;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId_);
  if (snapshot == INVALID_HANDLE_VALUE) return paths;
  const UniqueKernelHandle owner(snapshot);
  MODULEENTRY32W module{};
  module.dwSize = sizeof(module);
  for (BOOL more = ::Module32FirstW(snapshot, &module); more; more = ::Module32NextW(snapshot, &module))
    paths.emplace_back(module.szExePath);
  return paths;
}

DWORD RemoteWizard::WaitForExit(std::chrono::milliseconds timeout, bool* sawWindow) {
  if (!process_) return STILL_ACTIVE;
  if (sawWindow != nullptr) {
    const auto ended = [&] { return ::WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0; };
    *sawWindow = false;
    WaitUntil(
        [&] {
          DialogSearch search{processId_, nullptr};
          ::EnumWindows(&FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
          *sawWindow |= search.found != nullptr;
          return ended();
        },
        timeout);
    timeout = std::chrono::milliseconds(0);
  }
  if (::WaitForSingleObject(process_.Get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(process_.Get(), &code);
  return code;
}

bool RemoteWizard::Kill(std::chrono::milliseconds timeout) {
  if (!process_) return false;
  ::TerminateProcess(process_.Get(), 99);
  return ::WaitForSingleObject(process_.Get(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

bool SaveScreenshot(const std::wstring& path) {
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN);
  const UniqueScreenDc screen(::GetDC(nullptr));
  const UniqueMemoryDc memoryDc(::CreateCompatibleDC(screen.Get()));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files keep rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const UniqueGdiObject bitmap(::CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap) return false;
  HGDIOBJ previous = ::SelectObject(memoryDc.Get(), bitmap.Get());
  ::BitBlt(memoryDc.Get(), 0, 0, width, height, screen.Get(), 0, 0, SRCCOPY);
  ::GdiFlush();

  const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
  const DWORD imageSize = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + imageSize;
  info.bmiHeader.biSizeImage = imageSize;
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
  out.write(static_cast<const char*>(bits), imageSize);
  const bool written = static_cast<bool>(out);

  ::SelectObject(memoryDc.Get(), previous);
  return written;
}
