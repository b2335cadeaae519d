#include "text_encoding.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

namespace quorvane {

bool valid_utf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    std::size_t more = 0;
    std::uint32_t least = 0;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if ((c & 0xE0) == 0xC0) {
      more = 1;
      least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      more = 2;
      least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      more = 3;
      least = 0x10000;
    } else {
      return false;
    }
    if (i + more >= bytes.size()) return false;  // cut short
    std::uint32_t code = c & (0x3F >> more);
    for (std::size_t k = 1; k <= more; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    // No overlong form, no surrogate, nothing beyond U+10FFFF.
    if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
    i += more + 1;
  }
  return true;
}

#ifdef _WIN32

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

std::string narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

std::string answer_as_utf8(std::string_view bytes) {
  if (valid_utf8(bytes)) return std::string(bytes);
  const UINT page = GetACP();
  const int size =
      MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
  return narrow(wide);
}

#endif

}  // namespace quorvane
