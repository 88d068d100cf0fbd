#include "framework/folder_browser.h"

#include <objbase.h>

namespace framework {
namespace {

// The new-style browser needs an apartment on the calling thread.
class ComApartment {
 public:
  ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

void FreeItemList(LPITEMIDLIST items) {
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(::SHGetMalloc(&allocator)) && allocator != nullptr) {
    allocator->Free(items);
    allocator->Release();
  }
}

}  // namespace

std::optional<std::wstring> BrowseForFolder(const FolderBrowserOptions& options) {
  ComApartment apartment;
  BROWSEINFOW info{};
  info.hwndOwner = options.owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = options.displayName;
  info.lpszTitle = options.title.c_str();
  info.ulFlags = options.flags;
  info.lpfn = options.callback;
  info.lParam = options.callbackData;
  info.iImage = 0;

  LPITEMIDLIST items = ::SHBrowseForFolderW(&info);
  if (items == nullptr) return std::nullopt;
  wchar_t path[MAX_PATH] = {};
  ::SHGetPathFromIDListW(items, path);
  FreeItemList(items);
  return std::wstring(path);
}

void SetBrowserSelection(HWND browser, const wchar_t* path) {
  ::SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path));
}

std::optional<std::wstring> SpecialFolderPath(int csidl) {
  wchar_t path[1024] = {};
  if (!::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return std::nullopt;
  return std::wstring(path);
}

}  // namespace framework
