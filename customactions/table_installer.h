#pragma once
// An installer made of tables, behaving like msi.dll where the custom
// actions can tell: properties, installed products, and the lines that
// informational messages put into the log. Every request is traced, and
// each failure the actions must survive can be forced.

#include "customactions/installer.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace quorvis {

class TableInstaller : public Installer {
 public:
  // The installation.
  std::map<std::string, std::string> properties;
  std::map<std::string, std::string> installedVersions;  // product code -> VersionString
  std::vector<std::string> log;

  // Forced failures.
  std::map<std::string, Status> failingProperties;  // read answers this status
  std::set<std::string> understatedProperties;      // 234 reports one character too few
  bool refuseRecords = false;
  std::set<unsigned> failingFields;      // SetRecordString on these fails
  int messageAnswer = 1;                 // ProcessMessage result
  Status productInfoFailure = kSuccess;  // non-zero: every query answers it

  // One line per request, e.g. "GetProperty ProductVersion 0" (with the
  // capacity offered) or "CloseHandle 1".
  std::vector<std::string> requests;

  std::size_t OpenRecords() const { return records_.size(); }

  Status GetProperty(Handle install, const char* name, char* buffer, std::uint32_t& capacity) override;
  Status SetProperty(Handle install, const char* name, const char* value) override;
  Handle CreateRecord(unsigned fields) override;
  Status SetRecordString(Handle record, unsigned field, const char* text) override;
  int ProcessMessage(Handle install, int type, Handle record) override;
  void CloseHandle(Handle record) override;
  Status GetProductInfo(const char* productCode, const char* attribute, char* buffer, std::uint32_t& capacity) override;

 private:
  std::map<Handle, std::vector<std::string>> records_;
  Handle nextRecord_ = 1;
};

}  // namespace quorvis
