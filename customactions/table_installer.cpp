#include "customactions/table_installer.h"

#include <cstring>

namespace quorvis {
namespace {

constexpr Status kInvalidHandle = 6;
constexpr Status kInvalidParameter = 87;
constexpr Status kUnknownProduct = 1605;
constexpr Status kUnknownProperty = 1608;

// msi.dll's buffer contract: the value with its terminator when it fits,
// otherwise as much as fits, 234 and the full length.
Status CopyOut(const std::string& value, char* buffer, std::uint32_t& capacity, bool understate) {
  const std::uint32_t length = static_cast<std::uint32_t>(value.size());
  if (buffer != nullptr && capacity > length) {
    std::memcpy(buffer, value.c_str(), length + 1);
    capacity = length;
    return kSuccess;
  }
  if (buffer != nullptr && capacity > 0) {
    std::memcpy(buffer, value.data(), capacity - 1);
    buffer[capacity - 1] = '\0';
  }
  capacity = understate && length > 0 ? length - 1 : length;
  return kMoreData;
}

// "[n]" stands for field n, as in the installer's message templates.
std::string Format(const std::vector<std::string>& fields) {
  std::string line = fields[0];
  for (std::size_t n = 1; n < fields.size(); ++n) {
    std::string placeholder = std::to_string(n);
    placeholder.insert(placeholder.begin(), '[');
    placeholder.push_back(']');
    for (auto at = line.find(placeholder); at != std::string::npos;
         at = line.find(placeholder, at + fields[n].size())) {
      line.replace(at, placeholder.size(), fields[n]);
    }
  }
  return line;
}

}  // namespace

Status TableInstaller::GetProperty(Handle, const char* name, char* buffer, std::uint32_t& capacity) {
  requests.push_back("GetProperty " + std::string(name) + " " + std::to_string(capacity));
  if (const auto failure = failingProperties.find(name); failure != failingProperties.end()) return failure->second;
  const auto found = properties.find(name);
  const std::string value = found == properties.end() ? std::string() : found->second;
  return CopyOut(value, buffer, capacity, understatedProperties.count(name) != 0);
}

Status TableInstaller::SetProperty(Handle, const char* name, const char* value) {
  requests.push_back("SetProperty " + std::string(name) + "=" + value);
  // The installer drops a property set to the empty string.
  if (*value == '\0')
    properties.erase(name);
  else
    properties[name] = value;
  return kSuccess;
}

Handle TableInstaller::CreateRecord(unsigned fields) {
  requests.push_back("CreateRecord " + std::to_string(fields));
  if (refuseRecords) return 0;
  const Handle handle = nextRecord_++;
  records_[handle].resize(fields + 1);
  return handle;
}

Status TableInstaller::SetRecordString(Handle record, unsigned field, const char* text) {
  requests.push_back("SetRecordString " + std::to_string(record) + " " + std::to_string(field));
  const auto found = records_.find(record);
  if (found == records_.end()) return kInvalidHandle;
  if (field >= found->second.size() || failingFields.count(field) != 0) return kInvalidParameter;
  found->second[field] = text;
  return kSuccess;
}

int TableInstaller::ProcessMessage(Handle, int type, Handle record) {
  requests.push_back("ProcessMessage " + std::to_string(type) + " " + std::to_string(record));
  const auto found = records_.find(record);
  if (found == records_.end()) return -1;
  if (messageAnswer > 0 && type == kInfoMessage) log.push_back(Format(found->second));
  return messageAnswer;
}

void TableInstaller::CloseHandle(Handle record) {
  requests.push_back("CloseHandle " + std::to_string(record));
  records_.erase(record);
}

Status TableInstaller::GetProductInfo(const char* productCode, const char* attribute, char* buffer,
                                      std::uint32_t& capacity) {
  requests.push_back("GetProductInfo " + std::string(productCode) + " " + attribute + " " + std::to_string(capacity));
  if (productInfoFailure != kSuccess) return productInfoFailure;
  const auto found = installedVersions.find(productCode);
  if (found == installedVersions.end()) return kUnknownProduct;
  if (std::strcmp(attribute, "VersionString") != 0) return kUnknownProperty;
  return CopyOut(found->second, buffer, capacity, false);
}

}  // namespace quorvis
