#include "customactions/msi_installer.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

static_assert(sizeof(MSIHANDLE) == sizeof(quorvis::Handle));
static_assert(sizeof(DWORD) == sizeof(std::uint32_t));

namespace quorvis {

Status MsiInstaller::GetProperty(Handle install, const char* name, char* buffer, std::uint32_t& capacity) {
  DWORD chars = capacity;
  const UINT status = MsiGetPropertyA(install, name, buffer, &chars);
  capacity = chars;
  return status;
}

Status MsiInstaller::SetProperty(Handle install, const char* name, const char* value) {
  return MsiSetPropertyA(install, name, value);
}

Handle MsiInstaller::CreateRecord(unsigned fields) { return MsiCreateRecord(fields); }

Status MsiInstaller::SetRecordString(Handle record, unsigned field, const char* text) {
  return MsiRecordSetStringA(record, field, text);
}

int MsiInstaller::ProcessMessage(Handle install, int type, Handle record) {
  return MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(type), record);
}

void MsiInstaller::CloseHandle(Handle record) { MsiCloseHandle(record); }

Status MsiInstaller::GetProductInfo(const char* productCode, const char* attribute, char* buffer,
                                    std::uint32_t& capacity) {
  DWORD chars = capacity;
  const UINT status = MsiGetProductInfoA(productCode, attribute, buffer, &chars);
  capacity = chars;
  return status;
}

}  // namespace quorvis
