#include "framework/data_exchange.h"

namespace framework {

void DataExchange::Text(int id, std::wstring& value) {
  Window control;
  control.Attach(::GetDlgItem(dialog_, id));
  if (m_bSaveAndValidate) {
    value = control.GetWindowText();
  } else {
    control.SetWindowText(value);
  }
}

}  // namespace framework
