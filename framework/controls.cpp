#include "framework/controls.h"

#include "platform/win32/system_library.h"

namespace framework {

int ListCtrl::InsertColumn(int column, const std::wstring& heading, int format, int width) {
  LVCOLUMNW info{};
  info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  info.fmt = format;
  info.cx = width;
  info.pszText = const_cast<wchar_t*>(heading.c_str());
  info.iSubItem = column;
  return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info)));
}

int ListCtrl::InsertItem(int index, const std::wstring& text) {
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = index;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

bool ListCtrl::SetItemState(int index, UINT state, UINT mask) {
  LVITEMW item{};
  item.state = state;
  item.stateMask = mask;
  return SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) != FALSE;
}

LPARAM ListCtrl::GetItemData(int index) const {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  return SendMessage(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != FALSE ? item.lParam : 0;
}

bool ListCtrl::SetItemData(int index, LPARAM data) {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  item.lParam = data;
  return SendMessage(LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != FALSE;
}

int ListCtrl::HitTest(POINT point, UINT* flags) const {
  LVHITTESTINFO info{};
  info.pt = point;
  const int index = static_cast<int>(SendMessage(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&info)));
  if (flags != nullptr) *flags = info.flags;
  return index;
}

bool ImageList::Create(int width, int height, UINT flags, int initial, int grow) {
  const auto create =
      platform::SystemFunction<decltype(::ImageList_Create)>(platform::SystemDll::kComctl32, "ImageList_Create");
  list_.Reset(create != nullptr ? create(width, height, flags, initial, grow) : nullptr);
  return list_.IsValid();
}

int ImageList::AddMasked(HBITMAP bitmap, COLORREF mask) {
  const auto add =
      platform::SystemFunction<decltype(::ImageList_AddMasked)>(platform::SystemDll::kComctl32, "ImageList_AddMasked");
  return add != nullptr ? add(list_.Get(), bitmap, mask) : -1;
}

SystemBitmap::SystemBitmap(int id) : bitmap_(LoadBitmapW(nullptr, MAKEINTRESOURCEW(id))) {}

}  // namespace framework
