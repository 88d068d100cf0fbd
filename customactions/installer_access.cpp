#include "customactions/installer_access.h"

#include <cstring>

namespace quorvis {
namespace {

// The record is closed on every path once it exists.
class RecordHandle {
 public:
  RecordHandle(Installer& installer, Handle handle) : installer_(installer), handle_(handle) {}
  ~RecordHandle() {
    if (handle_ != 0) installer_.CloseHandle(handle_);
  }
  RecordHandle(const RecordHandle&) = delete;
  RecordHandle& operator=(const RecordHandle&) = delete;

  Handle get() const { return handle_; }

 private:
  Installer& installer_;
  Handle handle_;
};

void TrimToContent(std::string& value) { value.resize(std::strlen(value.c_str())); }

}  // namespace

Status ReadProperty(Installer& installer, Handle install, const char* name, std::string& value) {
  value.clear();
  std::uint32_t capacity = 0;
  Status status = installer.GetProperty(install, name, value.data(), capacity);
  TrimToContent(value);
  if (status != kMoreData) return status;

  // The reported length leaves out the terminator. std::string keeps a
  // terminator slot past size(), so a buffer of `capacity` characters is
  // safe even if the installer fills it without one.
  capacity += 1;
  value.resize(capacity);
  status = installer.GetProperty(install, name, value.data(), capacity);
  TrimToContent(value);
  return status;
}

Status WriteProperty(Installer& installer, Handle install, const char* name, const std::string& value) {
  return installer.SetProperty(install, name, value.c_str());
}

Status LogLine(Installer& installer, Handle install, const std::string& text) {
  RecordHandle record(installer, installer.CreateRecord(1));
  if (record.get() == 0) return kInstallFailure;
  // Field 0 is the template; "[1]" makes the logged line exactly field 1.
  if (installer.SetRecordString(record.get(), 0, "[1]") != kSuccess) return kInstallFailure;
  if (installer.SetRecordString(record.get(), 1, text.c_str()) != kSuccess) return kInstallFailure;
  const int answer = installer.ProcessMessage(install, kInfoMessage, record.get());
  return answer > 0 ? kSuccess : kInstallFailure;
}

}  // namespace quorvis
