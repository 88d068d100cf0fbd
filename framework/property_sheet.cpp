#include "framework/property_sheet.h"

#include "framework/application.h"
#include "platform/win32/system_library.h"

namespace framework {
namespace {
// The sheet whose window is being created: the creation callback carries no
// context of its own, and sheets are modal, so there is one at a time.
PropertySheet* g_sheetBeingCreated = nullptr;
}  // namespace

PropertySheet::PropertySheet(const wchar_t* caption, HWND parent, UINT startPage)
    : hasCaption_(caption != nullptr), parent_(parent), startPage_(startPage) {
  if (caption != nullptr) caption_ = caption;
}

int CALLBACK PropertySheet::SheetCallback(HWND sheet, UINT message, LPARAM) {
  if (message == PSCB_INITIALIZED && g_sheetBeingCreated != nullptr) g_sheetBeingCreated->Attach(sheet);
  return 0;
}

INT_PTR PropertySheet::DoModal() {
  std::vector<PROPSHEETPAGEW> descriptors;
  HINSTANCE instance = GetApp() != nullptr ? GetApp()->Instance() : ::GetModuleHandleW(nullptr);
  for (PropertyPage* page : pages_) {
    page->m_psp.hInstance = instance;
    descriptors.push_back(page->m_psp);
  }

  PROPSHEETHEADERW header{};
  header.dwSize = sizeof(header);
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK | (wizard_ ? PSH_WIZARD : 0);
  header.hwndParent = parent_;
  header.hInstance = instance;
  header.pszCaption = hasCaption_ ? caption_.c_str() : nullptr;
  header.nPages = static_cast<UINT>(descriptors.size());
  header.nStartPage = startPage_;
  header.ppsp = descriptors.data();
  header.pfnCallback = &PropertySheet::SheetCallback;

  const auto run =
      platform::SystemFunction<decltype(::PropertySheetW)>(platform::SystemDll::kComctl32, "PropertySheetW");
  if (run == nullptr) return -1;
  g_sheetBeingCreated = this;
  const INT_PTR result = run(&header);
  g_sheetBeingCreated = nullptr;
  m_hWnd = nullptr;
  return result;
}

}  // namespace framework
