#include "framework/application.h"

#include <commctrl.h>
#include <winver.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/system_library.h"

namespace framework {
namespace {
Application* g_app = nullptr;
}

Application::Application(const wchar_t* appName) {
  if (appName != nullptr) title_ = appName;
  g_app = this;
}

Application::~Application() {
  if (g_app == this) g_app = nullptr;
}

bool Application::InitInstance() { return true; }

int Application::ExitInstance() { return 0; }

int Application::Run(HINSTANCE instance) {
  instance_ = instance;
  if (title_.empty()) title_ = LoadResourceString(kAppTitleStringId);
  if (!InitInstance()) return ExitInstance();
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return ExitInstance();
}

void Application::SetRegistryKey(const wchar_t* key) { registryKey_ = key; }

Application* GetApp() { return g_app; }

std::wstring LoadResourceString(UINT id) {
  const wchar_t* text = nullptr;
  // With a zero length the call hands out a pointer into the resource itself.
  const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

namespace {

// The program's version resource as it lies in the mapped image (nothing to
// release); empty without one.
std::basic_string_view<unsigned char> VersionResource() {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  if (found == nullptr) return {};
  const auto* bytes = static_cast<const unsigned char*>(::LockResource(::LoadResource(module, found)));
  if (bytes == nullptr) return {};
  return {bytes, ::SizeofResource(module, found)};
}

// One block of a version resource: a header of three 16-bit words (the
// block's length, its value's length, whether the value is text), the key,
// the value and the children, each starting on a 32-bit boundary of the
// resource.
struct VersionBlock {
  std::wstring key;
  std::size_t value = 0;
  std::size_t valueEnd = 0;
  bool text = false;
  std::size_t children = 0;
  std::size_t end = 0;
};

std::size_t Aligned(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

WORD WordAt(const unsigned char* bytes, std::size_t offset) {
  WORD word;
  std::memcpy(&word, bytes + offset, sizeof(word));
  return word;
}

// The block at `offset`, which must end by `limit`.
std::optional<VersionBlock> ReadBlock(const unsigned char* bytes, std::size_t offset, std::size_t limit) {
  if (offset + 6 > limit) return std::nullopt;
  const std::size_t length = WordAt(bytes, offset);
  if (length < 6 || length > limit - offset) return std::nullopt;
  VersionBlock block;
  block.end = offset + length;
  std::size_t at = offset + 6;
  for (;; at += 2) {
    if (at + 2 > block.end) return std::nullopt;
    const wchar_t unit = static_cast<wchar_t>(WordAt(bytes, at));
    if (unit == L'\0') break;
    block.key += unit;
  }
  block.text = WordAt(bytes, offset + 4) == 1;
  // Compilers disagree whether a text's length counts characters or bytes:
  // the value is cut to its block, and a text ends at its terminator anyway.
  const std::size_t valueLength = WordAt(bytes, offset + 2) * (block.text ? std::size_t{2} : std::size_t{1});
  block.value = std::min(Aligned(at + 2), block.end);
  block.valueEnd = std::min(block.value + valueLength, block.end);
  block.children = std::min(Aligned(block.valueEnd), block.end);
  return block;
}

std::vector<VersionBlock> Children(const unsigned char* bytes, const VersionBlock& parent) {
  std::vector<VersionBlock> children;
  for (std::size_t at = parent.children; at < parent.end;) {
    std::optional<VersionBlock> child = ReadBlock(bytes, at, parent.end);
    if (!child) break;
    at = Aligned(child->end);
    children.push_back(std::move(*child));
  }
  return children;
}

std::wstring TextOf(const unsigned char* bytes, const VersionBlock& block) {
  std::wstring text;
  for (std::size_t at = block.value; at + 2 <= block.valueEnd; at += 2) {
    const wchar_t unit = static_cast<wchar_t>(WordAt(bytes, at));
    if (unit == L'\0') break;
    text += unit;
  }
  return text;
}

// "040904b0" for the first language and code page of the translation list.
std::optional<std::wstring> FirstTranslation(const unsigned char* bytes, const std::vector<VersionBlock>& top) {
  for (const VersionBlock& info : top) {
    if (info.key != L"VarFileInfo") continue;
    for (const VersionBlock& var : Children(bytes, info)) {
      if (var.key != L"Translation" || var.valueEnd - var.value < 4) continue;
      wchar_t key[9];
      std::swprintf(key, 9, L"%04x%04x", WordAt(bytes, var.value), WordAt(bytes, var.value + 2));
      return std::wstring(key);
    }
  }
  return std::nullopt;
}

bool SameTableKey(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

}  // namespace

std::wstring ProgramVersion() {
  const std::basic_string_view<unsigned char> resource = VersionResource();
  // The fixed part follows the block's header and its key, 32-bit aligned;
  // its signature finds it without reading the header's layout.
  for (std::size_t offset = 0; offset + sizeof(VS_FIXEDFILEINFO) <= resource.size(); offset += 4) {
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, resource.data() + offset, sizeof(info));
    if (info.dwSignature != VS_FFI_SIGNATURE) continue;
    return std::to_wstring(HIWORD(info.dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info.dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info.dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(info.dwFileVersionLS));
  }
  return {};
}

std::wstring ProgramVersionString(std::wstring_view name) {
  const std::basic_string_view<unsigned char> resource = VersionResource();
  return VersionResourceString(resource.data(), resource.size(), name);
}

// Read here rather than through VerQueryValueW: version.dll is none of the
// DLLs the program may import.
std::wstring VersionResourceString(const void* resource, std::size_t size, std::wstring_view name) {
  const auto* bytes = static_cast<const unsigned char*>(resource);
  if (bytes == nullptr) return {};
  const std::optional<VersionBlock> root = ReadBlock(bytes, 0, size);
  if (!root) return {};
  const std::vector<VersionBlock> top = Children(bytes, *root);
  const std::optional<std::wstring> language = FirstTranslation(bytes, top);
  std::optional<VersionBlock> table;
  for (const VersionBlock& info : top) {
    if (info.key != L"StringFileInfo") continue;
    for (VersionBlock& candidate : Children(bytes, info)) {
      if (language && SameTableKey(candidate.key, *language)) {
        table = std::move(candidate);
        break;
      }
      if (!table) table = std::move(candidate);
    }
  }
  if (!table) return {};
  for (const VersionBlock& value : Children(bytes, *table)) {
    if (value.key == name) return TextOf(bytes, value);
  }
  return {};
}

void InitCommonControls(DWORD classes) {
  const auto init = platform::SystemFunction<decltype(::InitCommonControlsEx)>(platform::SystemDll::kComctl32,
                                                                               "InitCommonControlsEx");
  INITCOMMONCONTROLSEX controls{sizeof(controls), classes};
  if (init != nullptr) init(&controls);
}

}  // namespace framework

// The program's entry point: the static application object runs everything.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  platform::LoadDllsFromSystemFolderOnly();
  framework::Application* app = framework::GetApp();
  return app != nullptr ? app->Run(instance) : 1;
}
