#include <algorithm>
#include <filesystem>
#include <system_error>

#include "package/package_path.h"
#include "package/writer.h"
#include "platform/fs_path.h"
#include "platform/text.h"
#include "tools/nwq/commands.h"
#include "tools/nwq/output.h"

namespace nwq {
namespace {

constexpr const wchar_t* kHelp =
    L"usage: nwq create OUT.nwq SOURCE_DIR [--title T] [--description D] [--level 0-9]\n"
    L"Packs every regular file below SOURCE_DIR, sorted by path, each as its own zlib\n"
    L"stream with its folder and times. The package name (GUID) is OUT's file name\n"
    L"without .nwq; the title defaults to it.";

struct SourceFile {
  std::wstring folder;  // relative, "\"-separated, empty at the top
  std::wstring name;
  std::filesystem::path path;
};

// Every regular file below `root`, in a stable order: by relative path.
std::vector<SourceFile> CollectFiles(const std::filesystem::path& root) {
  std::vector<SourceFile> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::filesystem::path relative = entry.path().lexically_relative(root);
    SourceFile file;
    file.name = platform::WidePath(relative.filename());
    file.folder = package::package_path::StoredFolderOf(relative.parent_path());
    file.path = entry.path();
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) {
    return a.folder != b.folder ? a.folder < b.folder : a.name < b.name;
  });
  return files;
}

// A name that the stored form would read differently, or that no record slot holds.
std::wstring ProblemWith(const SourceFile& file) {
  if (file.name.find(L'\\') != std::wstring::npos || file.folder.find(L'/') != std::wstring::npos)
    return L"contains a backslash, which packages use as their folder separator";
  if (text::Utf16Length(file.name) > package::kMaxRecordNameLength) return L"has a name longer than 99 characters";
  if (text::Utf16Length(file.folder) > package::kMaxRecordFolderLength)
    return L"lies in a folder path longer than 258 characters";
  return {};
}

}  // namespace

int Create(const Arguments& arguments) {
  if (HasHelpFlag(arguments)) {
    Print(kHelp);
    return kExitOk;
  }
  std::vector<std::wstring> positional;
  std::wstring title, description;
  bool titleGiven = false;
  int level = 6;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& a = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if ((a == L"--title" || a == L"--description" || a == L"--level") && !hasValue) {
      PrintError(a + L" needs a value");
      return kExitUsage;
    }
    if (a == L"--title") {
      title = arguments[++i];
      titleGiven = true;
    } else if (a == L"--description")
      description = arguments[++i];
    else if (a == L"--level") {
      const std::wstring& value = arguments[++i];
      if (value.size() != 1 || value[0] < L'0' || value[0] > L'9') {
        PrintError(L"--level takes a digit from 0 to 9, not '" + value + L"'");
        return kExitUsage;
      }
      level = value[0] - L'0';
    } else if (a.starts_with(L"--")) {
      PrintError(L"create: unknown option " + a);
      return kExitUsage;
    } else
      positional.push_back(a);
  }
  if (positional.size() != 2) {
    Print(kHelp);
    return kExitUsage;
  }
  const std::wstring& out = positional[0];
  const std::filesystem::path source = platform::FsPath(positional[1]);
  const std::optional<std::wstring> packageName = package::package_path::PackageNameOf(out);
  if (!packageName) {
    PrintError(out + L": a package file's name must end in .nwq");
    return kExitUsage;
  }
  const std::wstring& guid = *packageName;
  if (!titleGiven) title = guid;
  const struct {
    const std::wstring& text;
    std::size_t limit;
    const wchar_t* what;
  } fields[] = {{guid, package::kMaxGuidLength, L"the package name (file name without .nwq)"},
                {title, package::kMaxTitleLength, L"the title"},
                {description, package::kMaxDescriptionLength, L"the description"}};
  for (const auto& field : fields) {
    if (text::Utf16Length(field.text) > field.limit) {
      PrintError(std::wstring(field.what) + L" has " + std::to_wstring(text::Utf16Length(field.text)) +
                 L" characters; at most " + std::to_wstring(field.limit) + L" fit");
      return kExitUsage;
    }
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(source, ec)) {
    PrintError(positional[1] + L": not a folder");
    return kExitFailed;
  }

  bool created = false;
  try {
    const std::vector<SourceFile> files = CollectFiles(source);
    for (const SourceFile& file : files) {
      const std::wstring problem = ProblemWith(file);
      if (!problem.empty()) {
        PrintError(platform::WidePath(file.path) + L": " + problem);
        return kExitFailed;
      }
    }
    package::PackageWriter writer(out, *package::PackageHeader::Make(guid, title, description), level);
    created = true;
    for (const SourceFile& file : files) {
      platform::FileTimes times;
      const std::wstring path = platform::WidePath(file.path);
      if (!platform::GetFileTimes(path, &times)) times = {};
      // POSIX keeps no creation time; the modification time is the nearest.
      const std::uint64_t creation = times.creation ? times.creation : times.lastWrite;
      writer.AddFile(file.folder, file.name, path, creation, times.lastWrite);
    }
    writer.Close();
    Print(out + L": " + std::to_wstring(files.size()) + L" files");
    return kExitOk;
  } catch (const FileError& error) {
    PrintError(error.Text());
  } catch (const std::filesystem::filesystem_error& error) {
    PrintError(text::FromUtf8(error.what()));
  }
  if (created) platform::RemoveFile(out);  // never leave a half-written package behind
  return kExitFailed;
}

}  // namespace nwq
