// Text conversions between the suite's wide strings and the encodings at its
// borders: UTF-16LE in package files and the registry, UTF-8 on POSIX and in
// terminals. Invalid input becomes U+FFFD, never undefined behaviour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace text {

std::string ToUtf8(std::wstring_view wide);
std::wstring FromUtf8(std::string_view utf8);

std::u16string ToUtf16(std::wstring_view wide);
std::wstring FromUtf16(std::u16string_view utf16);

// Reads a NUL-terminated UTF-16LE string from a fixed slot of `maxUnits`
// units; a slot without NUL is read to its end.
std::wstring FromUtf16LeSlot(const std::uint8_t* slot, std::size_t maxUnits);
// Number of UTF-16 units the text takes (surrogate pairs count two).
std::size_t Utf16Length(std::wstring_view wide);
// The text as a registry string value stores it: UTF-16LE with its NUL.
std::vector<std::uint8_t> ToUtf16LeWithNul(std::wstring_view wide);

}  // namespace text
