#include "framework/folder_browser.h"

#include <objbase.h>

#include "platform/unique_resource.h"
#include "platform/win32/system_library.h"

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

// The shell's allocator for the browser's item list is COM's task allocator.
struct ItemListTraits {
  using Handle = LPITEMIDLIST;
  static Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle items) noexcept {
    ::CoTaskMemFree(items);
    return true;
  }
};
using UniqueItemList = platform::UniqueResource<ItemListTraits>;

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

  using platform::SystemDll;
  const auto browse =
      platform::SystemFunction<decltype(::SHBrowseForFolderW)>(SystemDll::kShell32, "SHBrowseForFolderW");
  const auto pathOf =
      platform::SystemFunction<decltype(::SHGetPathFromIDListW)>(SystemDll::kShell32, "SHGetPathFromIDListW");
  if (browse == nullptr || pathOf == nullptr) return std::nullopt;
  const UniqueItemList items(browse(&info));
  if (!items) return std::nullopt;
  wchar_t path[MAX_PATH] = {};
  // A computer or a library has no folder on disk to install into.
  if (!pathOf(items.Get(), path)) return std::nullopt;
  return std::wstring(path);
}

void SetBrowserSelection(HWND browser, const wchar_t* path) {
  ::SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path));
}

}  // namespace framework
