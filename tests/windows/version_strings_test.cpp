// The strings of a version resource, as the Installed-apps entry takes the
// product's name, version and publisher from them: the program's own
// resource, and resources laid out by hand where a compiler's choices differ.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/application.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void PadTo32Bits(Bytes& bytes) {
  while (bytes.size() % 4 != 0)
    bytes.push_back(0);
}

void PutWord(Bytes& bytes, std::size_t at, std::size_t word) {
  bytes[at] = static_cast<std::uint8_t>(word & 0xFF);
  bytes[at + 1] = static_cast<std::uint8_t>(word >> 8);
}

Bytes Utf16(std::wstring_view text) {
  Bytes bytes;
  for (const wchar_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

Bytes Block(std::wstring_view key, const Bytes& value, std::size_t valueLength, bool text,
            const std::vector<Bytes>& children = {}) {
  Bytes block(6, 0);
  const Bytes keyBytes = Utf16(key);
  block.insert(block.end(), keyBytes.begin(), keyBytes.end());
  PadTo32Bits(block);
  block.insert(block.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    PadTo32Bits(block);
    block.insert(block.end(), child.begin(), child.end());
  }
  PutWord(block, 0, block.size());
  PutWord(block, 2, valueLength);
  PutWord(block, 4, text ? 1 : 0);
  return block;
}

// A value whose length counts characters, as most compilers write it.
Bytes String(std::wstring_view key, std::wstring_view value) {
  return Block(key, Utf16(value), value.size() + 1, true);
}

Bytes Table(std::wstring_view language, const std::vector<Bytes>& strings) {
  return Block(language, {}, 0, true, strings);
}

// The root with its fixed part (left zero) and, when given, a translation
// list of one language and code page.
Bytes Resource(const std::vector<Bytes>& tables, std::uint16_t language = 0, std::uint16_t codePage = 0) {
  std::vector<Bytes> top = {Block(L"StringFileInfo", {}, 0, true, tables)};
  if (language != 0) {
    const Bytes translation = {static_cast<std::uint8_t>(language & 0xFF), static_cast<std::uint8_t>(language >> 8),
                               static_cast<std::uint8_t>(codePage & 0xFF), static_cast<std::uint8_t>(codePage >> 8)};
    top.push_back(Block(L"VarFileInfo", {}, 0, true, {Block(L"Translation", translation, 4, false)}));
  }
  return Block(L"VS_VERSION_INFO", Bytes(52, 0), 52, false, top);
}

std::wstring Read(const Bytes& resource, std::wstring_view name) {
  return framework::VersionResourceString(resource.data(), resource.size(), name);
}

}  // namespace

// This test program links the setup's own resources.
TEST(VersionStrings, TheProgramsResourceNamesTheProductItsVersionAndItsPublisher) {
  EXPECT_EQ(framework::ProgramVersionString(L"ProductName"), L"Varnholt Digital Maps");
  EXPECT_EQ(framework::ProgramVersionString(L"CompanyName"), L"Varnholt");
  EXPECT_EQ(framework::ProgramVersionString(L"ProductVersion"), framework::ProgramVersion())
      << "the text and the numbers of the version agree";
  EXPECT_EQ(framework::ProgramVersionString(L"NoSuchValue"), L"");
}

TEST(VersionStrings, TheTableOfTheFirstTranslationIsReadElseTheFirstTable) {
  const std::vector<Bytes> tables = {
      Table(L"040704b0", {String(L"ProductName", L"Digitale Karten")}),
      Table(L"040904B0", {String(L"CompanyName", L"Varnholt"), String(L"ProductName", L"Digital Maps")})};
  EXPECT_EQ(Read(Resource(tables, 0x0409, 1200), L"ProductName"), L"Digital Maps");
  EXPECT_EQ(Read(Resource(tables, 0x0409, 1200), L"CompanyName"), L"Varnholt");
  EXPECT_EQ(Read(Resource(tables), L"ProductName"), L"Digitale Karten");
  EXPECT_EQ(Read(Resource(tables, 0x0410, 1252), L"ProductName"), L"Digitale Karten") << "no such table";
}

TEST(VersionStrings, ALengthInBytesOrABlockThatOverrunsItsParentReadsNothingBeyondIt) {
  // Some compilers count a text's length in bytes: it still ends at its
  // terminator.
  const Bytes inBytes = Block(L"ProductName", Utf16(L"Maps"), 10, true);
  EXPECT_EQ(Read(Resource({Table(L"040904b0", {inBytes, String(L"CompanyName", L"Varnholt")})}), L"ProductName"),
            L"Maps");

  // A last value that claims more than its table holds is not read; the one
  // before it is.
  Bytes overrun = String(L"CompanyName", L"Varnholt");
  PutWord(overrun, 0, overrun.size() + 40);
  const Bytes resource = Resource({Table(L"040904b0", {String(L"ProductName", L"Maps"), overrun})});
  EXPECT_EQ(Read(resource, L"ProductName"), L"Maps");
  EXPECT_EQ(Read(resource, L"CompanyName"), L"");
  EXPECT_EQ(Read(Bytes(resource.begin(), resource.end() - 1), L"ProductName"), L"") << "a root cut short";
  EXPECT_EQ(framework::VersionResourceString(nullptr, 0, L"ProductName"), L"");
}
