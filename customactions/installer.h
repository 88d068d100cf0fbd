#pragma once
// The running installation as the custom actions see it: the few installer
// requests they make, in their ANSI form. Windows binds this to msi.dll
// (MsiInstaller); native tests bind it to tables (TableInstaller).

#include <cstdint>

namespace quorvis {

using Status = std::uint32_t;
using Handle = std::uint32_t;

inline constexpr Status kSuccess = 0;
inline constexpr Status kMoreData = 234;
inline constexpr Status kInstallFailure = 1603;

inline constexpr int kInfoMessage = 0x04000000;

class Installer {
 public:
  virtual ~Installer() = default;

  // `capacity` is in characters, terminator included; on kMoreData it
  // comes back as the value's length without the terminator.
  virtual Status GetProperty(Handle install, const char* name, char* buffer, std::uint32_t& capacity) = 0;
  virtual Status SetProperty(Handle install, const char* name, const char* value) = 0;

  // 0 when no record could be made.
  virtual Handle CreateRecord(unsigned fields) = 0;
  virtual Status SetRecordString(Handle record, unsigned field, const char* text) = 0;
  // Greater than 0 when the installer handled the message.
  virtual int ProcessMessage(Handle install, int type, Handle record) = 0;
  virtual void CloseHandle(Handle record) = 0;

  virtual Status GetProductInfo(const char* productCode, const char* attribute, char* buffer,
                                std::uint32_t& capacity) = 0;
};

}  // namespace quorvis
