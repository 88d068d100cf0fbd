#include "platform/text.h"

#include <cwchar>

namespace text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendWide(std::wstring& out, char32_t c) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (c >> 10));
      out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(c);
}

// Decodes code points from UTF-16 units, pairing surrogates.
template <typename Units, typename Sink>
void DecodeUtf16(const Units& units, Sink sink) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t u = static_cast<char16_t>(units[i]);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size()) {
      const char32_t low = static_cast<char16_t>(units[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        sink(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    sink(u >= 0xD800 && u <= 0xDFFF ? kReplacement : u);
  }
}

template <typename Sink>
void DecodeWide(std::wstring_view wide, Sink sink) {
  if constexpr (sizeof(wchar_t) == 2) {
    DecodeUtf16(wide, sink);
  } else {
    for (wchar_t w : wide)
      sink(static_cast<char32_t>(w));
  }
}

}  // namespace

std::string ToUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  DecodeWide(wide, [&](char32_t c) { AppendUtf8(out, c); });
  return out;
}

std::wstring FromUtf8(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    int extra = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
      min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
      min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      extra = 3;
      min = 0x10000;
    } else {
      AppendWide(out, kReplacement);
      ++i;
      continue;
    }
    std::size_t j = 1;
    for (; j <= static_cast<std::size_t>(extra); ++j) {
      if (i + j >= utf8.size()) break;
      const auto cont = static_cast<unsigned char>(utf8[i + j]);
      if ((cont & 0xC0) != 0x80) break;
      c = (c << 6) | (cont & 0x3F);
    }
    if (j <= static_cast<std::size_t>(extra) || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      AppendWide(out, kReplacement);
      i += j;
      continue;
    }
    AppendWide(out, c);
    i += j;
  }
  return out;
}

std::u16string ToUtf16(std::wstring_view wide) {
  if constexpr (sizeof(wchar_t) == 2) {
    return std::u16string(wide.begin(), wide.end());
  } else {
    std::u16string out;
    out.reserve(wide.size());
    for (wchar_t w : wide) {
      char32_t c = static_cast<char32_t>(w);
      if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
      if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
      } else {
        out += static_cast<char16_t>(c);
      }
    }
    return out;
  }
}

std::wstring FromUtf16(std::u16string_view utf16) {
  if constexpr (sizeof(wchar_t) == 2) {
    return std::wstring(utf16.begin(), utf16.end());
  } else {
    std::wstring out;
    out.reserve(utf16.size());
    DecodeUtf16(utf16, [&](char32_t c) { out += static_cast<wchar_t>(c); });
    return out;
  }
}

std::wstring FromUtf16LeSlot(const std::uint8_t* slot, std::size_t maxUnits) {
  std::u16string units;
  for (std::size_t i = 0; i < maxUnits; ++i) {
    const auto u = static_cast<char16_t>(slot[2 * i] | (slot[2 * i + 1] << 8));
    if (u == 0) break;
    units += u;
  }
  return FromUtf16(units);
}

std::size_t Utf16Length(std::wstring_view wide) {
#if WCHAR_MAX <= 0xFFFF
  return wide.size();
#else
  std::size_t n = 0;
  for (wchar_t w : wide)
    n += static_cast<char32_t>(w) >= 0x10000 ? 2 : 1;
  return n;
#endif
}

std::vector<std::uint8_t> ToUtf16LeWithNul(std::wstring_view wide) {
  const std::u16string value = ToUtf16(wide) + u'\0';
  std::vector<std::uint8_t> bytes;
  bytes.reserve(value.size() * 2);
  for (const char16_t unit : value) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

}  // namespace text
