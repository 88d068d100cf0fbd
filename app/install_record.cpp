#include "app/install_record.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cwctype>
#include <exception>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/text.h"

namespace app {

namespace {

constexpr std::string_view kFirstLine = "Varnholt setup install record 1";
constexpr std::string_view kFormatName = "Varnholt setup install record ";
// Far above any real record; keeps a stray huge file from taking the memory.
constexpr std::uint64_t kMaxRecordBytes = 256ull << 20;

bool IsSeparator(wchar_t c) {
#if defined(_WIN32)
  return c == L'\\' || c == L'/';
#else
  return c == L'/';
#endif
}

bool HasControlCharacter(const std::wstring& s) {
  return std::any_of(s.begin(), s.end(), [](wchar_t c) { return c < 0x20 || c == 0x7f; });
}

std::vector<std::wstring> Parts(const std::wstring& path) {
  std::vector<std::wstring> parts(1);
  for (wchar_t c : path) {
    if (IsSeparator(c)) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

bool IsDotPart(std::wstring_view part) {
#if defined(_WIN32)
  // Windows drops trailing dots and blanks from a name: ".. " and "..." may climb as ".." does.
  return !part.empty() && part.find_first_not_of(L". ") == std::wstring::npos && part.find(L'.') != std::wstring::npos;
#else
  return part == L"." || part == L"..";
#endif
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t cut = path.find_last_of(platform::kPathSeparator);
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

bool ValidPackage(const std::wstring& package) { return !package.empty() && !HasControlCharacter(package); }

// A path that stays below the destination whatever it is joined to. Its
// parts are looked at in place: every file's path is checked each time the
// record is read or written.
bool ValidRelativePath(const std::wstring& path) {
  if (path.empty() || HasControlCharacter(path)) return false;
#if defined(_WIN32)
  // A drive or a stream would lead out of the destination.
  if (path.find(L':') != std::wstring::npos) return false;
#endif
  const std::wstring_view rest(path);
  for (std::size_t start = 0;;) {
    std::size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end]))
      ++end;
    const std::wstring_view part = rest.substr(start, end - start);
    if (part.empty() || IsDotPart(part)) return false;
    if (end == rest.size()) return true;
    start = end + 1;
  }
}

bool ValidDestination(const std::wstring& root) {
  if (root.size() < 2 || HasControlCharacter(root) || !IsSeparator(root.back())) return false;
#if defined(_WIN32)
  const bool drive = root.size() >= 3 && std::iswalpha(root[0]) && root[1] == L':' && IsSeparator(root[2]);
  const bool share = IsSeparator(root[0]) && IsSeparator(root[1]);
  if (!drive && !share) return false;
#else
  if (!IsSeparator(root[0])) return false;
#endif
  const std::vector<std::wstring> parts = Parts(root);
  return std::none_of(parts.begin(), parts.end(), IsDotPart);
}

wchar_t FoldedChar(wchar_t c) {
#if defined(_WIN32)
  return c == L'/' ? L'\\' : static_cast<wchar_t>(std::towupper(c));
#else
  return c;
#endif
}

std::wstring Folded(const std::wstring& path) {
#if defined(_WIN32)
  std::wstring folded = path;
  for (wchar_t& c : folded)
    c = FoldedChar(c);
  return folded;
#else
  return path;
#endif
}

// As comparing both Folded, letter by letter without a copy: every entry of
// a run compares its path.
bool SameFolded(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return FoldedChar(x) == FoldedChar(y); });
}

// A folder at or above `root` that is deeper than a drive or the file
// system's root.
bool ValidMade(const std::wstring& root, const std::wstring& folder) {
  if (folder.empty() || HasControlCharacter(folder) || IsSeparator(folder.back())) return false;
  const std::vector<std::wstring> parts = Parts(folder);
  if (std::any_of(parts.begin(), parts.end(), IsDotPart)) return false;
  if (std::count_if(parts.begin(), parts.end(), [](const std::wstring& part) { return !part.empty(); }) < 2)
    return false;
  const std::wstring prefix = Folded(folder + std::wstring(1, platform::kPathSeparator));
  return Folded(root).compare(0, prefix.size(), prefix) == 0;
}

std::size_t Depth(const std::wstring& path) { return Parts(path).size(); }

// A link or junction below the destination leads elsewhere: what lies behind
// it is not what the setup wrote there, however alike it looks.
bool ThroughLink(const std::wstring& root, const std::wstring& relative) {
  std::wstring path = root;
  for (const std::wstring& part : Parts(relative)) {
    path += part;
    if (platform::IsLink(path)) return true;
    path += platform::kPathSeparator;
  }
  return false;
}

bool Selected(const std::optional<std::set<std::wstring>>& packages, const std::wstring& package) {
  return !packages || packages->count(package) != 0;
}

}  // namespace

bool SamePath(const std::wstring& a, const std::wstring& b) { return SameFolded(a, b); }

bool IsBelow(const std::wstring& folder, const std::wstring& path) {
  std::wstring prefix = Folded(folder);
  if (prefix.empty() || !IsSeparator(prefix.back())) prefix += platform::kPathSeparator;
  const std::wstring folded = Folded(path);
  return folded.size() > prefix.size() && folded.compare(0, prefix.size(), prefix) == 0;
}

std::wstring PathBelow(const std::wstring& destination, const std::wstring& path) {
  if (path.size() <= destination.size() ||
      !SameFolded(std::wstring_view(path).substr(0, destination.size()), destination))
    return {};
  return path.substr(destination.size());
}

RecordedDestination& InstallRecord::DestinationFor(const std::wstring& root) {
  for (RecordedDestination& destination : destinations) {
    if (SamePath(destination.root, root)) return destination;
  }
  destinations.push_back(RecordedDestination{root, {}, {}, {}});
  return destinations.back();
}

const RecordedDestination* InstallRecord::FindDestination(const std::wstring& root) const {
  for (const RecordedDestination& destination : destinations) {
    if (SamePath(destination.root, root)) return &destination;
  }
  return nullptr;
}

InstallRecord::FileIndex& InstallRecord::IndexOf(std::size_t destination) const {
  // A destination added keeps the others' indexes, and with them what this run made fresh.
  if (index_.size() < destinations.size()) {
    index_.resize(destinations.size());
  } else if (index_.size() > destinations.size()) {
    index_.assign(destinations.size(), FileIndex{});
  }
  FileIndex& index = index_[destination];
  const std::vector<RecordedFile>& files = destinations[destination].files;
  if (index.count != files.size() || (files.empty() && !index.positions.empty())) {
    index.positions.clear();
    for (std::size_t i = 0; i < files.size(); ++i)
      index.positions[Folded(files[i].path)].push_back(i);
    index.count = files.size();
    index.freshThisRun.assign(files.size(), false);
  }
  return index;
}

bool InstallRecord::RecordCommitted(const std::wstring& package, const std::wstring& destination,
                                    const std::wstring& relPath, std::uint64_t size, std::uint64_t modified,
                                    std::uint32_t adler, bool fresh) {
  if (!ValidPackage(package) || !ValidDestination(destination) || !ValidRelativePath(relPath)) return false;
  RecordedDestination& target = DestinationFor(destination);
  FileIndex& index = IndexOf(static_cast<std::size_t>(&target - destinations.data()));
  std::vector<std::size_t>& same = index.positions[Folded(relPath)];
  bool ours = false;
  for (const std::size_t position : same) {
    RecordedFile& file = target.files[position];
    // The disk now holds this package's file: a package that still records
    // the path needs it as it is now, or it would seem changed and stay for good.
    file = RecordedFile{file.package, file.path, size, modified, adler, fresh};
    index.freshThisRun[position] = fresh;
    if (file.package == package) {
      file.path = relPath;
      ours = true;
    }
  }
  if (!ours) {
    same.push_back(target.files.size());
    target.files.push_back(RecordedFile{package, relPath, size, modified, adler, fresh});
    index.freshThisRun.push_back(fresh);
    index.count = target.files.size();
  }
  return true;
}

void InstallRecord::RecordContentChecked(const std::wstring& destination, const std::wstring& relPath) {
  for (std::size_t d = 0; d < destinations.size(); ++d) {
    if (!SamePath(destinations[d].root, destination)) continue;
    FileIndex& index = IndexOf(d);
    const auto found = index.positions.find(Folded(relPath));
    if (found == index.positions.end()) return;
    for (const std::size_t position : found->second)
      destinations[d].files[position].fresh = false;
    return;
  }
}

void InstallRecord::EndRun() {
  ended = true;
  for (std::size_t d = 0; d < destinations.size(); ++d) {
    FileIndex& index = IndexOf(d);
    std::vector<RecordedFile>& files = destinations[d].files;
    for (std::size_t i = 0; i < files.size(); ++i)
      if (index.freshThisRun[i]) files[i].fresh = false;
    index.freshThisRun.assign(files.size(), false);
  }
}

std::vector<const RecordedFile*> InstallRecord::FilesAt(const std::wstring& destination,
                                                        const std::wstring& relPath) const {
  std::vector<const RecordedFile*> files;
  const RecordedDestination* target = FindDestination(destination);
  if (target == nullptr) return files;
  const FileIndex& index = IndexOf(static_cast<std::size_t>(target - destinations.data()));
  const auto found = index.positions.find(Folded(relPath));
  if (found == index.positions.end()) return files;
  for (const std::size_t position : found->second)
    files.push_back(&target->files[position]);
  return files;
}

bool InstallRecord::RecordFolderCreated(const std::wstring& package, const std::wstring& destination,
                                        const std::wstring& relPath) {
  if (!ValidPackage(package) || !ValidDestination(destination) || !ValidRelativePath(relPath)) return false;
  RecordedDestination& target = DestinationFor(destination);
  for (const RecordedFolder& folder : target.folders) {
    if (folder.package == package && SamePath(folder.path, relPath)) return true;
  }
  target.folders.push_back(RecordedFolder{package, relPath});
  return true;
}

bool InstallRecord::RecordDestinationMade(const std::wstring& destination, const std::wstring& folder) {
  if (!ValidDestination(destination) || !ValidMade(destination, folder)) return false;
  RecordedDestination& target = DestinationFor(destination);
  for (const std::wstring& made : target.made)
    if (SamePath(made, folder)) return false;
  target.made.push_back(folder);
  std::stable_sort(target.made.begin(), target.made.end(),
                   [](const std::wstring& a, const std::wstring& b) { return Depth(a) > Depth(b); });
  return true;
}

bool InstallRecord::Empty() const {
  return std::all_of(destinations.begin(), destinations.end(),
                     [](const RecordedDestination& d) { return d.files.empty() && d.folders.empty(); });
}

std::set<std::wstring> InstallRecord::Packages() const {
  std::set<std::wstring> packages;
  for (const RecordedDestination& destination : destinations) {
    for (const RecordedFile& file : destination.files)
      packages.insert(file.package);
    for (const RecordedFolder& folder : destination.folders)
      packages.insert(folder.package);
  }
  return packages;
}

std::uint64_t InstallRecord::Bytes(const std::optional<std::set<std::wstring>>& packages) const {
  std::uint64_t bytes = 0;
  for (const RecordedDestination& destination : destinations) {
    std::set<std::wstring> counted;
    for (const RecordedFile& file : destination.files) {
      if (Selected(packages, file.package) && counted.insert(Folded(file.path)).second) bytes += file.size;
    }
  }
  return bytes;
}

// ---------------------------------------------------------------------------
// The text.

namespace {

void AppendDecimal(std::string& out, std::uint64_t value) {
  char digits[20];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void AppendHex8(std::string& out, std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = 28; shift >= 0; shift -= 4)
    out += kDigits[(value >> shift) & 0xf];
}

}  // namespace

std::string SerializeInstallRecord(const InstallRecord& record) {
  std::string out;
  out += kFirstLine;
  out += "\r\n";
  out += record.ended ? "run\tended\r\n" : "run\tgoing\r\n";
  for (const RecordedDestination& destination : record.destinations) {
    // Entries put in by hand that the reader would refuse are left out, or
    // one of them would make the whole record unreadable.
    if (!ValidDestination(destination.root)) continue;
    out += "destination\t" + text::ToUtf8(destination.root) + "\r\n";
    for (const std::wstring& made : destination.made)
      if (ValidMade(destination.root, made)) out += "made\t" + text::ToUtf8(made) + "\r\n";
    // Piece by piece into the one string: the record lists every file and
    // is written whole after each package. Most files share their package.
    const std::wstring* package = nullptr;
    std::string packageText;
    for (const RecordedFile& file : destination.files) {
      if (!ValidPackage(file.package) || !ValidRelativePath(file.path)) continue;
      if (package == nullptr || *package != file.package) {
        package = &file.package;
        packageText = text::ToUtf8(file.package);
      }
      out += file.fresh ? "fresh\t" : "file\t";
      out += packageText;
      out += '\t';
      AppendDecimal(out, file.size);
      out += '\t';
      AppendDecimal(out, file.modified);
      out += '\t';
      AppendHex8(out, file.adler);
      out += '\t';
      out += text::ToUtf8(file.path);
      out += "\r\n";
    }
    for (const RecordedFolder& folder : destination.folders) {
      if (!ValidPackage(folder.package) || !ValidRelativePath(folder.path)) continue;
      out += "folder\t" + text::ToUtf8(folder.package) + "\t" + text::ToUtf8(folder.path) + "\r\n";
    }
  }
  out += "end\r\n";
  return out;
}

namespace {

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

std::optional<std::uint64_t> Decimal(std::string_view field) {
  if (field.empty() || field.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<std::uint32_t> Hex8(std::string_view field) {
  if (field.size() != 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : field) {
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value << 4 | digit;
  }
  return value;
}

// The text as wide, when it is UTF-8 throughout (the conversion would mend
// anything else into U+FFFD, a different name).
std::optional<std::wstring> Wide(std::string_view utf8) {
  std::wstring wide = text::FromUtf8(utf8);
  // ASCII needs no check, and most names are: every file has a line.
  const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii && text::ToUtf8(wide) != utf8) return std::nullopt;
  return wide;
}

RecordReading Damaged(std::size_t line, std::wstring reason) {
  RecordReading reading;
  reading.status = RecordReading::Status::kDamaged;
  reading.line = line;
  reading.reason = std::move(reason);
  return reading;
}

}  // namespace

RecordReading ParseInstallRecord(const std::string& text) {
  std::vector<std::string_view> lines;
  {
    std::string_view rest(text);
    // An administrator's editor may have saved it with a byte-order mark.
    if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      if (end == std::string_view::npos) {
        lines.push_back(rest);
        break;
      }
      std::string_view line = rest.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines.push_back(line);
      rest.remove_prefix(end + 1);
    }
  }
  if (lines.empty()) return Damaged(0, L"the record is empty");
  if (lines[0] != kFirstLine) {
    if (lines[0].substr(0, kFormatName.size()) == kFormatName) {
      return Damaged(1, L"the record has a version this setup does not read");
    }
    return Damaged(1, L"the record does not begin with its format's name");
  }

  InstallRecord record;
  // The current destination's package and path pairs, as the system
  // compares names.
  std::unordered_set<std::wstring> listed;
  bool runSeen = false;
  bool endSeen = false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::size_t number = i + 1;
    if (endSeen) return Damaged(number, L"a line follows the end of the record");
    const std::vector<std::string_view> fields = SplitTabs(lines[i]);
    const std::string_view kind = fields[0];
    if (i == 1) {
      if (kind != "run" || fields.size() != 2 || (fields[1] != "ended" && fields[1] != "going")) {
        return Damaged(number, L"the second line does not say whether the run had ended");
      }
      record.ended = fields[1] == "ended";
      runSeen = true;
    } else if (kind == "destination") {
      const std::optional<std::wstring> root = fields.size() == 2 ? Wide(fields[1]) : std::nullopt;
      if (!root || !ValidDestination(*root)) return Damaged(number, L"the destination does not read");
      for (const RecordedDestination& earlier : record.destinations) {
        if (SamePath(earlier.root, *root)) return Damaged(number, L"the destination is listed twice");
      }
      record.destinations.push_back(RecordedDestination{*root, {}, {}, {}});
      listed.clear();
    } else if (kind == "file" || kind == "fresh") {
      if (record.destinations.empty()) return Damaged(number, L"a file comes before any destination");
      if (fields.size() != 6) return Damaged(number, L"the file line does not have six fields");
      const std::optional<std::wstring> package = Wide(fields[1]);
      const std::optional<std::uint64_t> size = Decimal(fields[2]);
      const std::optional<std::uint64_t> modified = Decimal(fields[3]);
      const std::optional<std::uint32_t> adler = Hex8(fields[4]);
      const std::optional<std::wstring> path = Wide(fields[5]);
      if (!package || !ValidPackage(*package)) return Damaged(number, L"the package name does not read");
      if (!size || !modified || !adler) return Damaged(number, L"a number does not read");
      if (!path || !ValidRelativePath(*path)) return Damaged(number, L"the path does not read or leads outside");
      RecordedDestination& destination = record.destinations.back();
      if (!listed.insert(*package + L'\t' + Folded(*path)).second)
        return Damaged(number, L"the file is listed twice for its package");
      destination.files.push_back(RecordedFile{*package, *path, *size, *modified, *adler, kind == "fresh"});
    } else if (kind == "made") {
      if (record.destinations.empty()) return Damaged(number, L"a made folder comes before any destination");
      const std::optional<std::wstring> path = fields.size() == 2 ? Wide(fields[1]) : std::nullopt;
      RecordedDestination& destination = record.destinations.back();
      if (!path || !ValidMade(destination.root, *path))
        return Damaged(number, L"the made folder does not read or is not the destination or above it");
      for (const std::wstring& earlier : destination.made)
        if (SamePath(earlier, *path)) return Damaged(number, L"the made folder is listed twice");
      if (!destination.made.empty() && Depth(*path) >= Depth(destination.made.back()))
        return Damaged(number, L"the made folders are not innermost first");
      destination.made.push_back(*path);
    } else if (kind == "folder") {
      if (record.destinations.empty()) return Damaged(number, L"a folder comes before any destination");
      if (fields.size() != 3) return Damaged(number, L"the folder line does not have three fields");
      const std::optional<std::wstring> package = Wide(fields[1]);
      const std::optional<std::wstring> path = Wide(fields[2]);
      if (!package || !ValidPackage(*package)) return Damaged(number, L"the package name does not read");
      if (!path || !ValidRelativePath(*path)) return Damaged(number, L"the path does not read or leads outside");
      record.destinations.back().folders.push_back(RecordedFolder{*package, *path});
    } else if (kind == "end" && fields.size() == 1) {
      endSeen = true;
    } else {
      return Damaged(number, L"the line does not read");
    }
  }
  if (!runSeen || !endSeen) return Damaged(lines.size(), L"the record is cut short");

  RecordReading reading;
  reading.status = RecordReading::Status::kRead;
  reading.record = std::move(record);
  return reading;
}

RecordReading ReadInstallRecord(const std::wstring& path) {
  RecordReading reading;
  platform::File file;
  if (!file.Open(path, platform::File::Mode::kReadExclusive, &reading.error)) {
    // No setup folder either (a machine that never had the maps, or one
    // after the last removal took the folder) is nothing installed too.
    const bool missing = reading.error.cause() == FileError::kFileNotFound ||
                         (reading.error.cause() == FileError::kBadPath && !platform::IsFolder(FolderOf(path)));
    reading.status = missing ? RecordReading::Status::kMissing : RecordReading::Status::kUnreadable;
    return reading;
  }
  try {
    const std::uint64_t length = file.Length();
    if (length > kMaxRecordBytes) {
      reading = Damaged(0, L"the record is far too large");
      reading.error = FileError(FileError::kDamaged, -1, path);
      return reading;
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    bytes.resize(file.Read(bytes.data(), bytes.size()));
    file.Close();
    reading = ParseInstallRecord(bytes);
    if (reading.status == RecordReading::Status::kDamaged) reading.error = FileError(FileError::kDamaged, -1, path);
    return reading;
  } catch (const FileError& error) {
    reading.status = RecordReading::Status::kUnreadable;
    reading.error = error;
    return reading;
  }
}

bool WriteInstallRecord(const std::wstring& path, const InstallRecord& record, FileError* error) {
  FileError ignored;
  FileError& failure = error ? *error : ignored;
  const std::size_t cut = path.find_last_of(
#if defined(_WIN32)
      L"\\/"
#else
      L"/"
#endif
  );
  const std::wstring folder = cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
  const std::optional<std::wstring> temp = platform::CreateTempFile(folder, L"record");
  if (!temp) {
    const platform::ErrorCode code = platform::LastError();
    failure = FileError(platform::CauseFromError(code), code, path);
    return false;
  }
  try {
    const std::string bytes = SerializeInstallRecord(record);
    platform::File file;
    if (!file.Open(*temp, platform::File::Mode::kCreateWriteExclusive, &failure)) {
      platform::RemoveFile(*temp);
      return false;
    }
    file.Write(bytes.data(), bytes.size());
    file.Flush();
    file.Close();
  } catch (const FileError& raised) {
    failure = raised;
    platform::RemoveFile(*temp);
    return false;
  }
  if (!platform::MoveReplacing(*temp, path)) {
    const platform::ErrorCode code = platform::LastError();
    failure = FileError(platform::CauseFromError(code), code, path);
    platform::RemoveFile(*temp);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Removal.

std::optional<DiskFile> LookAtDisk(const std::wstring& path) {
  const std::optional<platform::FileLook> look = platform::LookAtFile(path);
  if (!look) return std::nullopt;
  return DiskFile{look->size, look->lastWrite};
}

RemovalPlan PlanRemoval(const InstallRecord& record, const std::optional<std::set<std::wstring>>& packages,
                        const DiskLook& look) {
  RemovalPlan plan;
  plan.remaining.ended = record.ended;
  for (const RecordedDestination& destination : record.destinations) {
    RecordedDestination kept{destination.root, {}, {}, {}};
    std::set<std::wstring> stayingFiles;
    std::set<std::wstring> stayingFolders;
    for (const RecordedFile& file : destination.files) {
      if (!Selected(packages, file.package)) {
        kept.files.push_back(file);
        stayingFiles.insert(Folded(file.path));
      }
    }
    for (const RecordedFolder& folder : destination.folders) {
      if (!Selected(packages, folder.package)) {
        kept.folders.push_back(folder);
        stayingFolders.insert(Folded(folder.path));
      }
    }

    // The leaving packages' entries, one group per path, in record order.
    std::vector<PlannedRemoval> files;
    std::unordered_map<std::wstring, std::size_t> filePlaces;
    for (const RecordedFile& file : destination.files) {
      if (!Selected(packages, file.package)) continue;
      const auto [place, added] = filePlaces.emplace(Folded(file.path), files.size());
      if (added) {
        files.push_back(PlannedRemoval{destination.root, destination.root + file.path, {file}, {}, false});
      } else {
        files[place->second].files.push_back(file);
      }
    }
    for (PlannedRemoval& removal : files) {
      if (stayingFiles.count(Folded(removal.files[0].path)) != 0) {
        plan.sharedFiles.push_back(removal.path);
        continue;
      }
      if (ThroughLink(destination.root, removal.files[0].path)) {
        plan.changedFiles.push_back(removal.path);
        continue;
      }
      const std::optional<DiskFile> onDisk = look(removal.path);
      if (!onDisk) continue;  // gone already
      // Two leaving packages may have written it in turn; either's values show it is the setup's.
      const bool asWritten = std::any_of(removal.files.begin(), removal.files.end(), [&](const RecordedFile& file) {
        return file.size == onDisk->size && file.modified == onDisk->modified;
      });
      if (asWritten) {
        plan.files.push_back(std::move(removal));
      } else {
        plan.changedFiles.push_back(removal.path);
      }
    }

    // Every folder that holds a staying file or folder, with that one's package.
    std::unordered_map<std::wstring, std::wstring> holders;
    const auto holdersOf = [&holders](const std::wstring& path, const std::wstring& package) {
      std::wstring folder = Folded(path);
      for (std::size_t cut = folder.rfind(platform::kPathSeparator); cut != std::wstring::npos && cut > 0;
           cut = folder.rfind(platform::kPathSeparator)) {
        folder.resize(cut);
        // Its parents were added with it.
        if (!holders.emplace(folder, package).second) break;
      }
    };
    for (const RecordedFile& file : kept.files)
      holdersOf(file.path, file.package);
    for (const RecordedFolder& folder : kept.folders)
      holdersOf(folder.path, folder.package);

    std::vector<PlannedRemoval> folders;
    std::unordered_map<std::wstring, std::size_t> folderPlaces;
    for (const RecordedFolder& folder : destination.folders) {
      if (!Selected(packages, folder.package) || stayingFolders.count(Folded(folder.path)) != 0) continue;
      if (ThroughLink(destination.root, folder.path)) continue;
      if (const auto holder = holders.find(Folded(folder.path)); holder != holders.end()) {
        // Its staying contents keep it; it goes with their package, so that
        // the leaving one leaves the record whole.
        const RecordedFolder handedOn{holder->second, folder.path};
        if (std::find(kept.folders.begin(), kept.folders.end(), handedOn) == kept.folders.end())
          kept.folders.push_back(handedOn);
        continue;
      }
      const auto [place, added] = folderPlaces.emplace(Folded(folder.path), folders.size());
      if (added) {
        folders.push_back(PlannedRemoval{destination.root, destination.root + folder.path, {}, {folder}, false});
      } else {
        folders[place->second].folders.push_back(folder);
      }
    }
    std::stable_sort(folders.begin(), folders.end(), [](const PlannedRemoval& a, const PlannedRemoval& b) {
      return Depth(a.folders[0].path) > Depth(b.folders[0].path);
    });
    for (PlannedRemoval& folder : folders)
      plan.folders.push_back(std::move(folder));

    if (!kept.files.empty() || !kept.folders.empty()) {
      kept.made = destination.made;
      plan.remaining.destinations.push_back(std::move(kept));
    } else {
      // Nothing of the destination stays: the root and the parents made for it go last.
      for (const std::wstring& made : destination.made)
        plan.folders.push_back(PlannedRemoval{destination.root, made, {}, {}, true});
    }
  }
  return plan;
}

void RestoreEntries(InstallRecord* record, const PlannedRemoval& removal) {
  for (const RecordedFile& file : removal.files) {
    record->RecordCommitted(file.package, removal.destination, file.path, file.size, file.modified, file.adler,
                            file.fresh);
  }
  for (const RecordedFolder& folder : removal.folders) {
    record->RecordFolderCreated(folder.package, removal.destination, folder.path);
  }
  if (removal.made) record->RecordDestinationMade(removal.destination, removal.path);
}

}  // namespace app
