// A whole copy that replaces its target in one step, built on the layer's own
// file calls so both systems share it.
#include <optional>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

std::wstring FolderOf(const std::wstring& path) {
#if defined(_WIN32)
  const std::size_t cut = path.find_last_of(L"\\/");
#else
  const std::size_t cut = path.find_last_of(L'/');
#endif
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

FileError LastErrorFor(const std::wstring& path) {
  const ErrorCode code = LastError();
  return FileError(CauseFromError(code), code, path);
}

}  // namespace

bool CopyFileWhole(const std::wstring& from, const std::wstring& to, FileError* error) {
  FileError ignored;
  FileError& failure = error ? *error : ignored;
  File source;
  // Others may read it meanwhile (the running program is copied), but nobody writes it.
  if (!source.Open(from, File::Mode::kReadShareRead, &failure)) return false;
  const std::optional<std::wstring> temp = CreateTempFile(FolderOf(to), L"cpy");
  if (!temp) {
    failure = LastErrorFor(to);
    return false;
  }
  try {
    File target;
    if (!target.Open(*temp, File::Mode::kCreateWriteExclusive, &failure)) throw failure;
    std::vector<unsigned char> buffer(1 << 20);
    while (const std::size_t got = source.Read(buffer.data(), buffer.size()))
      target.Write(buffer.data(), got);
    target.Flush();
    target.Close();
    source.Close();
  } catch (const FileError& raised) {
    // The temporary name means nothing to whoever reads the message; the target does.
    failure = raised.fileName() == *temp ? FileError(raised.cause(), raised.osError(), to) : raised;
    RemoveFile(*temp);
    return false;
  }
  if (!MoveReplacing(*temp, to)) {
    failure = LastErrorFor(to);
    RemoveFile(*temp);
    return false;
  }
  return true;
}

}  // namespace platform
