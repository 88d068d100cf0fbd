// Thin wrappers of the common controls the pages bind by id.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "framework/window.h"
#include "platform/win32/owners.h"

namespace framework {

class ListCtrl : public Window {
 public:
  int InsertColumn(int column, const std::wstring& heading, int format, int width);
  // Inserts a row with text only; returns its index, -1 on failure.
  int InsertItem(int index, const std::wstring& text);
  bool DeleteAllItems() { return SendMessage(LVM_DELETEALLITEMS) != FALSE; }
  int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
  int GetNextItem(int start, UINT flags) const {
    return static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
  }
  UINT GetItemState(int index, UINT mask) const {
    return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(index), mask));
  }
  bool SetItemState(int index, UINT state, UINT mask);
  LPARAM GetItemData(int index) const;
  bool SetItemData(int index, LPARAM data);
  // The row under a client point, -1 for none; `flags` receives LVHT_*.
  int HitTest(POINT point, UINT* flags) const;
  HIMAGELIST SetImageList(HIMAGELIST images, int kind) {
    return reinterpret_cast<HIMAGELIST>(
        SendMessage(LVM_SETIMAGELIST, static_cast<WPARAM>(kind), reinterpret_cast<LPARAM>(images)));
  }
  // Check state as a state image: 1 is the empty box, 2 the ticked one.
  bool GetCheck(int index) const { return ((GetItemState(index, LVIS_STATEIMAGEMASK) >> 12) - 1) == 1; }
  bool SetCheck(int index, bool checked) {
    return SetItemState(index, INDEXTOSTATEIMAGEMASK(checked ? 2 : 1), LVIS_STATEIMAGEMASK);
  }
};

class ProgressCtrl : public Window {
 public:
  // The 16-bit range message.
  void SetRange(short lower, short upper) { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper)); }
  void SetRange32(int lower, int upper) {
    SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
  }
  int SetPos(int position) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(position))); }
};

class StaticCtrl : public Window {};

// A push button, or a check box and its state.
class ButtonCtrl : public Window {
 public:
  bool GetCheck() const { return SendMessage(BM_GETCHECK) == BST_CHECKED; }
  void SetCheck(bool checked) { SendMessage(BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED); }
};

class EditCtrl : public Window {};

// An image list the caller owns until it hands it to a control.
class ImageList {
 public:
  // A second Create replaces (and destroys) the list made before.
  bool Create(int width, int height, UINT flags, int initial, int grow);
  // Cuts the bitmap into images; pixels of `mask` colour become transparent.
  int AddMasked(HBITMAP bitmap, COLORREF mask);
  HIMAGELIST Detach() { return list_.Release(); }

 private:
  platform::UniqueImageList list_;
};

// One of the system's own bitmaps (OBM_*), owned by the caller's scope.
class SystemBitmap {
 public:
  explicit SystemBitmap(int id);
  HBITMAP get() const { return bitmap_.Get(); }

 private:
  platform::UniqueGdiObject<HBITMAP> bitmap_;
};

}  // namespace framework
