// The wizard's extraction API over the engine: plain-function callbacks, the
// German text of a failure and the trace lines.
#include "package/engine.h"
#include "package/package_path.h"
#include "package/trace.h"
#include "resources/texts_de.h"

namespace package {

namespace {

class CallbackObserver : public trace::TracingObserver {
 public:
  CallbackObserver(ExtractProgressCallback progress, ExtractErrorCallback onError)
      : progress_(progress), onError_(onError) {}

  void OnProgress(std::int32_t percent, const PackageFileRecord& record) override {
    if (progress_) progress_(percent, 100, record.Name());
  }
  // The callback hears of the failure before it reaches the caller.
  template <typename Extraction>
  auto Run(Extraction extraction) {
    try {
      return extraction();
    } catch (const ExtractionError& error) {
      if (onError_) onError_(ExtractErrorText(error));
      throw;
    }
  }

 private:
  ExtractProgressCallback progress_;
  ExtractErrorCallback onError_;
};

}  // namespace

std::wstring ExtractErrorText(ErrorKind kind, const std::wstring& path) {
  const wchar_t* pattern = L"%s";
  switch (kind) {
    case ErrorKind::kUnsafePath: pattern = texts_de::kUnsafePath; break;
    case ErrorKind::kFolderNotCreated: pattern = texts_de::kFolderNotCreated; break;
    case ErrorKind::kOutputNotOpened: pattern = texts_de::kOutputNotOpened; break;
    case ErrorKind::kDamaged: pattern = texts_de::kDamaged; break;
    case ErrorKind::kDecoderUnavailable: pattern = texts_de::kNotUnpacked; break;
  }
  std::wstring message = pattern;
  message.replace(message.find(L"%s"), 2, path);
  return message;
}

std::wstring ExtractErrorText(const FileError& error) {
  const auto* found = dynamic_cast<const ExtractionError*>(&error);
  return found ? ExtractErrorText(found->kind(), found->path()) : std::wstring();
}

HRESULT ExtractPackageContents(const std::wstring& destination, platform::File* package,
                               ExtractProgressCallback progress, ExtractErrorCallback onError,
                               const ExtractBuffers& buffers) {
  if (!package || !package->IsOpen()) return E_FAIL;
  CallbackObserver observer(progress, onError);
  observer.Run([&] { return ExtractContents(*package, destination, observer, {buffers}); });
  return S_OK;
}

HRESULT ExtractPackage(std::wstring folder, std::wstring packageName, std::wstring destination,
                       ExtractProgressCallback progress, ExtractErrorCallback onError, const ExtractBuffers& buffers) {
  CallbackObserver observer(progress, onError);
  const Result result = observer.Run(
      [&] { return Extract(package_path::Build(folder, packageName), packageName, destination, observer, {buffers}); });
  return result.outcome == Outcome::kExtracted ? S_OK : E_FAIL;
}

}  // namespace package
