// The settings store on POSIX: one machine-wide text file standing in for the
// registry. Each key is a "[Key\Path]" line followed by "Name=hexbytes" lines,
// so values keep their raw bytes exactly as the registry would; a 32-bit
// number is "Name=dword:0000002a", as a .reg file writes it (hex digits never
// start that way, and stores written before numbers existed read as ever).
// The file's place is /etc/varnholt/settings unless VARNHOLT_SETTINGS_FILE
// names another.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/owners.h"
#include "platform/text.h"
#if defined(VARNHOLT_FAULT_INJECTION)
#include "platform/fault_injection.h"
#endif

namespace platform {
namespace {

struct StoredValue {
  std::string name;
  std::string bytes;  // a number's four bytes little-endian, as the registry hands them out
  bool dword = false;
};

constexpr char kDwordTag[] = "dword:";
constexpr std::size_t kDwordTagLength = sizeof kDwordTag - 1;

struct StoredKey {
  std::string path;
  std::vector<StoredValue> values;
};

std::filesystem::path StorePath() {
  const char* overridden = std::getenv("VARNHOLT_SETTINGS_FILE");
  return (overridden != nullptr && *overridden != '\0') ? overridden : "/etc/varnholt/settings";
}

// Registry names are case-insensitive; so are these.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::string ToHex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0xF];
  }
  return hex;
}

std::string DwordText(const std::string& bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return kDwordTag + std::string(text);
}

std::string DwordBytes(std::uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i)
    bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return bytes;
}

bool FromHex(const std::string& hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = hex.substr(i, 2);
    const long value = std::strtol(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return false;
    bytes->push_back(static_cast<char>(value));
  }
  return true;
}

// Reads the whole store; a missing file is an empty store.
ErrorCode Load(std::vector<StoredKey>* keys) {
  keys->clear();
  std::ifstream in(StorePath());
  if (!in) return errno == ENOENT ? kErrorSuccess : static_cast<ErrorCode>(errno);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      keys->push_back({line.substr(1, line.size() - 2), {}});
      continue;
    }
    const std::size_t equals = line.rfind('=');
    if (keys->empty() || equals == std::string::npos) continue;  // a damaged line loses only itself
    StoredValue value;
    std::string stored = line.substr(equals + 1);
    if (stored.compare(0, kDwordTagLength, kDwordTag) == 0) {
      stored.erase(0, kDwordTagLength);
      std::string bigEndian;
      if (stored.size() != 8 || !FromHex(stored, &bigEndian)) continue;
      value.bytes.assign(bigEndian.rbegin(), bigEndian.rend());
      value.dword = true;
    } else if (!FromHex(stored, &value.bytes)) {
      continue;
    }
    value.name = line.substr(0, equals);
    keys->back().values.push_back(std::move(value));
  }
  return kErrorSuccess;
}

int SyncNative(int fd, [[maybe_unused]] const std::string& path) {
#if defined(VARNHOLT_FAULT_INJECTION)
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kSync, text::FromUtf8(path))) {
    errno = static_cast<int>(*code);
    return -1;
  }
#endif
  return ::fsync(fd);
}

// Writes a new file beside the old one and renames it over, so a crash leaves
// either the old store or the new one, never half of one.
ErrorCode Save(const std::vector<StoredKey>& keys) {
  const std::filesystem::path path = StorePath();
  std::error_code ignored;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);

  std::ostringstream content;
  for (const StoredKey& key : keys) {
    content << '[' << key.path << "]\n";
    for (const StoredValue& value : key.values)
      content << value.name << '=' << (value.dword ? DwordText(value.bytes) : ToHex(value.bytes)) << '\n';
  }
  const std::string data = content.str();

  const std::string temp = path.string() + ".new";
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return static_cast<ErrorCode>(errno);
  // Keeps the first error: closing and unlinking may change errno.
  auto discard = [&](ErrorCode code) {
    fd.Reset();
    ::unlink(temp.c_str());
    return code;
  };
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd.Get(), data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return discard(static_cast<ErrorCode>(errno));
    }
    written += static_cast<std::size_t>(n);
  }
  if (SyncNative(fd.Get(), temp) != 0 || !fd.Close()) return discard(static_cast<ErrorCode>(errno));
  if (::rename(temp.c_str(), path.c_str()) != 0) return discard(static_cast<ErrorCode>(errno));
  return kErrorSuccess;
}

StoredKey* FindKey(std::vector<StoredKey>& keys, const std::string& path) {
  for (StoredKey& key : keys) {
    if (SameName(key.path, path)) return &key;
  }
  return nullptr;
}

// Sets the value in the key, adding either where missing: the key may have
// been deleted since it was opened.
ErrorCode StoreValue(const std::wstring& keyPath, StoredValue stored) {
  std::vector<StoredKey> keys;
  if (const ErrorCode code = Load(&keys); code != kErrorSuccess) return code;
  const std::string path = text::ToUtf8(keyPath);
  StoredKey* key = FindKey(keys, path);
  if (key == nullptr) {
    keys.push_back({path, {}});
    key = &keys.back();
  }
  for (StoredValue& value : key->values) {
    if (SameName(value.name, stored.name)) {
      value.bytes = std::move(stored.bytes);
      value.dword = stored.dword;
      return Save(keys);
    }
  }
  key->values.push_back(std::move(stored));
  return Save(keys);
}

}  // namespace

SettingsKey::SettingsKey(SettingsKey&& other) noexcept : keyPath_(std::move(other.keyPath_)), open_(other.open_) {
  other.open_ = false;
}

SettingsKey& SettingsKey::operator=(SettingsKey&& other) noexcept {
  if (this != &other) {
    keyPath_ = std::move(other.keyPath_);
    open_ = other.open_;
    other.open_ = false;
  }
  return *this;
}

SettingsKey::~SettingsKey() { Close(); }

ErrorCode SettingsKey::OpenOrCreate(const std::wstring& keyPath) {
  Close();
  std::vector<StoredKey> keys;
  if (const ErrorCode code = Load(&keys); code != kErrorSuccess) return code;
  const std::string path = text::ToUtf8(keyPath);
  if (FindKey(keys, path) == nullptr) {
    keys.push_back({path, {}});
    if (const ErrorCode code = Save(keys); code != kErrorSuccess) return code;
  }
  keyPath_ = keyPath;
  open_ = true;
  return kErrorSuccess;
}

ErrorCode SettingsKey::QueryValue(const std::wstring& name, void* buffer, std::uint32_t* size) {
  if (!open_) return EBADF;
  std::vector<StoredKey> keys;
  if (const ErrorCode code = Load(&keys); code != kErrorSuccess) return code;
  StoredKey* key = FindKey(keys, text::ToUtf8(keyPath_));
  if (key == nullptr) return ENOENT;
  const std::string wanted = text::ToUtf8(name);
  for (const StoredValue& value : key->values) {
    if (!SameName(value.name, wanted)) continue;
    const std::uint32_t capacity = *size;
    *size = static_cast<std::uint32_t>(value.bytes.size());
    if (buffer == nullptr) return kErrorSuccess;
    if (value.bytes.size() > capacity) return kErrorMoreData;
    std::memcpy(buffer, value.bytes.data(), value.bytes.size());
    return kErrorSuccess;
  }
  return ENOENT;
}

ErrorCode SettingsKey::SetStringValue(const std::wstring& name, const void* data, std::uint32_t bytes) {
  if (!open_) return EBADF;
  return StoreValue(keyPath_, {text::ToUtf8(name), std::string(static_cast<const char*>(data), bytes), false});
}

ErrorCode SettingsKey::SetDwordValue(const std::wstring& name, std::uint32_t value) {
  if (!open_) return EBADF;
  return StoreValue(keyPath_, {text::ToUtf8(name), DwordBytes(value), true});
}

ErrorCode SettingsKey::DeleteValue(const std::wstring& name) {
  if (!open_) return EBADF;
  std::vector<StoredKey> keys;
  if (const ErrorCode code = Load(&keys); code != kErrorSuccess) return code;
  StoredKey* key = FindKey(keys, text::ToUtf8(keyPath_));
  if (key == nullptr) return kErrorSuccess;
  const std::string wanted = text::ToUtf8(name);
  const auto gone = std::erase_if(key->values, [&](const StoredValue& value) { return SameName(value.name, wanted); });
  return gone == 0 ? kErrorSuccess : Save(keys);
}

ErrorCode SettingsKey::DeleteKey(const std::wstring& keyPath) {
  if (keyPath.empty()) return EINVAL;
  std::vector<StoredKey> keys;
  if (const ErrorCode code = Load(&keys); code != kErrorSuccess) return code;
  const std::string path = text::ToUtf8(keyPath);
  // The registry refuses to delete a key that has subkeys; so does this.
  const std::string below = path + '\\';
  for (const StoredKey& key : keys) {
    if (key.path.size() > below.size() && SameName(key.path.substr(0, below.size()), below)) return EACCES;
  }
  const auto gone = std::erase_if(keys, [&](const StoredKey& key) { return SameName(key.path, path); });
  return gone == 0 ? kErrorSuccess : Save(keys);
}

void SettingsKey::Close() { open_ = false; }

}  // namespace platform
