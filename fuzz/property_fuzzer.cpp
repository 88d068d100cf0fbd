// ReadProperty against an installer that reports arbitrary lengths and fills
// the buffer as it likes within the capacity it was given, terminator or not.
// ASan guards the buffer; the checks guard the two-request protocol.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "customactions/installer_access.h"

namespace {

using quorvis::Handle;
using quorvis::Status;

class ScriptedInstaller : public quorvis::Installer {
 public:
  explicit ScriptedInstaller(FuzzedDataProvider& input) : input_(input) {}

  struct Call {
    std::uint32_t capacityOffered;
    Status answer;
    std::string written;  // what reached the buffer, up to its first NUL
  };
  std::vector<Call> calls;

  Status GetProperty(Handle, const char*, char* buffer, std::uint32_t& capacity) override {
    Call call{capacity, 0, {}};
    const std::string value = input_.ConsumeRandomLengthString(256);
    const std::size_t fill = std::min<std::size_t>(value.size(), capacity);
    std::memcpy(buffer, value.data(), fill);
    if (fill < capacity && input_.ConsumeBool()) buffer[fill] = '\0';
    call.written.assign(buffer, fill);
    call.written.resize(std::strlen(call.written.c_str()));
    call.answer = input_.PickValueInArray<Status>({0, 0, 234, 234, 1603, 87});
    if (call.answer == 234) {
      // Any length at all, short of one the process could not hold.
      capacity = input_.ConsumeBool() ? 0xFFFFFFFFu : input_.ConsumeIntegralInRange<std::uint32_t>(0, 1u << 20);
    } else {
      capacity = input_.ConsumeIntegral<std::uint32_t>();
    }
    calls.push_back(call);
    return call.answer;
  }
  Status SetProperty(Handle, const char*, const char*) override { std::abort(); }
  Handle CreateRecord(unsigned) override { std::abort(); }
  Status SetRecordString(Handle, unsigned, const char*) override { std::abort(); }
  int ProcessMessage(Handle, int, Handle) override { std::abort(); }
  void CloseHandle(Handle) override { std::abort(); }
  Status GetProductInfo(const char*, const char*, char*, std::uint32_t&) override { std::abort(); }

 private:
  FuzzedDataProvider& input_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  ScriptedInstaller installer(input);
  std::string value;
  const Status status = quorvis::ReadProperty(installer, 1, "ProductVersion", value);

  const auto& calls = installer.calls;
  if (calls.empty() || calls.size() > 2) std::abort();
  if (calls[0].capacityOffered != 0) std::abort();
  if ((calls.size() == 2) != (calls[0].answer == 234)) std::abort();
  if (status != calls.back().answer) std::abort();
  // The value is the text the last request left in the buffer.
  if (value != calls.back().written || value.find('\0') != std::string::npos) std::abort();
  return 0;
}
