#pragma once
// The installer behind msi.dll, for custom actions running inside msiexec.
// Holds nothing: one lives on the stack of each exported action.

#include "customactions/installer.h"

namespace quorvis {

class MsiInstaller final : public Installer {
 public:
  Status GetProperty(Handle install, const char* name, char* buffer, std::uint32_t& capacity) override;
  Status SetProperty(Handle install, const char* name, const char* value) override;
  Handle CreateRecord(unsigned fields) override;
  Status SetRecordString(Handle record, unsigned field, const char* text) override;
  int ProcessMessage(Handle install, int type, Handle record) override;
  void CloseHandle(Handle record) override;
  Status GetProductInfo(const char* productCode, const char* attribute, char* buffer, std::uint32_t& capacity) override;
};

}  // namespace quorvis
