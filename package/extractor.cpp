#include <algorithm>

#include "package/entry_path.h"
#include "package/file_times.h"
#include "package/package.h"
#include "package/stream_decoder.h"
#include "package/trace.h"

namespace {

std::wstring Format(const wchar_t* pattern, const std::wstring& value) {
  std::wstring message = pattern;
  message.replace(message.find(L"%s"), 2, value);
  return message;
}

void Report(ExtractErrorCallback onError, const wchar_t* pattern, const std::wstring& value) {
  if (onError) onError(Format(pattern, value));
}

void TraceRecord(const PackageFileRecord& record) {
  if (!package_trace::Enabled()) return;
  package_trace::Write(L"\r\nDateiname: " + record.Name() + L"\r\n");
  package_trace::Write(L"CreateDate: " + std::to_wstring(record.CreateDate()) + L"\r\n");
  package_trace::Write(L"ModifiedDate: " + std::to_wstring(record.ModifiedDate()) + L"\r\n");
  package_trace::Write(L"FileSize: " + std::to_wstring(record.FileSize()) + L"\r\n");
}

class Progress {
 public:
  Progress(ExtractProgressCallback callback, std::uint64_t total, std::uint64_t position)
      : callback_(callback), total_(total), position_(position) {}

  void Advance(std::uint64_t bytes) { position_ += bytes; }
  std::uint64_t position() const { return position_; }

  void Report(const std::wstring& fileName) {
    if (!callback_ || total_ == 0) return;
    const auto at = std::min(position_, total_);
    const auto percent = static_cast<std::int32_t>(static_cast<double>(at) * 100.0 / static_cast<double>(total_));
    if (percent == last_) return;
    last_ = percent;
    callback_(percent, 100, fileName);
  }

 private:
  ExtractProgressCallback callback_;
  std::uint64_t total_;
  std::uint64_t position_;
  std::int32_t last_ = -1;
};

// Decodes the entry into the output file. A stream that zlib rejects or that
// breaks off is reported, and what was written of it is removed: a
// half-decoded file must never look installed.
void InflateEntry(platform::File& package, std::int64_t fileSize, platform::File& output,
                  const std::wstring& outputPath, const std::wstring& name, DecodeWorkspace& work, Progress& progress,
                  ExtractErrorCallback onError) {
  const StreamState state = DecodeStream(
      package, fileSize, work, [&](const unsigned char* data, std::size_t size) { output.Write(data, size); },
      [&](std::uint64_t bytes) {
        progress.Advance(bytes);
        progress.Report(name);
      });
  if (state == StreamState::kComplete) return;
  output.Close();
  platform::RemoveFile(outputPath);
  if (state == StreamState::kNoDecoder) {
    Report(onError, L"Die Datei '%s' konnte nicht entpackt werden.", outputPath);
    throw FileError(FileError::kGeneric, -1, outputPath);
  }
  Report(onError, L"Die Datei '%s' im Paket ist besch\u00E4digt.", outputPath);
  throw FileError(FileError::kDamaged, -1, outputPath);
}

void ApplyTimes(const PackageFileRecord& record, const std::wstring& outputPath) {
  const std::uint64_t modified = record.ModifiedDate();
  if (modified == 0 || !file_times::IsRepresentable(modified)) return;
  platform::FileTimes present;
  if (!platform::GetFileTimes(outputPath, &present)) present = {};
  platform::FileTimes times;
  times.lastWrite = file_times::ToWholeSeconds(modified);
  times.lastAccess = file_times::ToWholeSeconds(present.lastAccess);
  const std::uint64_t created = record.CreateDate();
  if (created != 0 && file_times::IsRepresentable(created)) times.creation = file_times::ToWholeSeconds(created);
  if (!platform::SetFileTimes(outputPath, times)) {
    const platform::ErrorCode code = platform::LastError();
    throw FileError(platform::CauseFromError(code), code, outputPath);
  }
}

}  // namespace

HRESULT ExtractPackageContents(const std::wstring& destination, platform::File* package,
                               ExtractProgressCallback progressCallback, ExtractErrorCallback onError,
                               const ExtractBuffers& buffers) {
  if (!package || !package->IsOpen()) return E_FAIL;
  Progress progress(progressCallback, package->Length(), package->Position());
  DecodeWorkspace work(buffers);
  for (;;) {
    PackageFileRecord record;
    const std::size_t got = package->Read(record.bytes.data(), record.bytes.size());
    progress.Advance(got);
    if (got < record.bytes.size() || !record.HasFileMagic()) return S_OK;
    TraceRecord(record);

    const std::wstring folder = record.FolderWithSeparator();
    const std::wstring name = record.Name();
    if (!entry_path::IsSafe(folder, name)) {
      Report(onError, L"Der Pfad '%s' im Paket f\u00FChrt aus dem Zielordner hinaus.", folder + name);
      throw FileError(FileError::kBadPath, -1, folder + name);
    }
    const std::wstring outputFolder = destination + entry_path::ToNative(folder);
    const std::wstring outputPath = outputFolder + entry_path::ToNative(name);
    const std::int64_t fileSize = record.FileSize();
    if (fileSize < 0) {
      Report(onError, L"Die Datei '%s' im Paket ist besch\u00E4digt.", outputPath);
      throw FileError(FileError::kDamaged, -1, outputPath);
    }

    if (!platform::CreateFolderTree(outputFolder)) {
      Report(onError, L"Der Ordner '%s' konnte nicht erstellt werden.", outputFolder);
      throw FileError(FileError::kBadPath, -1, outputFolder);
    }
    platform::File output;
    FileError openError;
    if (!output.Open(outputPath, platform::File::Mode::kCreateWriteExclusive, &openError)) {
      Report(onError, L"Die Ausgabedatei '%s' konnte nicht ge\u00F6ffnet werden.", outputPath);
      throw openError;
    }
    InflateEntry(*package, fileSize, output, outputPath, name, work, progress, onError);
    output.Close();
    ApplyTimes(record, outputPath);
  }
}

HRESULT ExtractPackage(std::wstring folder, std::wstring packageName, std::wstring destination,
                       ExtractProgressCallback progress, ExtractErrorCallback onError, const ExtractBuffers& buffers) {
  platform::File package;
  if (!package.Open(BuildPackagePath(std::move(folder), packageName), platform::File::Mode::kReadExclusive))
    return E_FAIL;
  PackageHeader header;
  const HRESULT status = CheckPackageHeader(packageName, &header, &package);
  if (status != S_OK) return status;
  return ExtractPackageContents(destination, &package, progress, onError, buffers);
}
