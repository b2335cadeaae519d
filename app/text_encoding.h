// Names beyond ASCII. Inside the tool every text is UTF-8; Windows speaks
// UTF-16 to its file and console functions, and an answer piped in may come
// in the ANSI code page of the system.
#ifndef QUORVANE_TEXT_ENCODING_H
#define QUORVANE_TEXT_ENCODING_H

#include <string>
#include <string_view>

namespace quorvane {

/// Tells whether `bytes` are well-formed UTF-8 (ASCII included).
bool valid_utf8(std::string_view bytes);

#ifdef _WIN32
/// Converts UTF-8 to UTF-16 and back (an ill-formed sequence becomes U+FFFD).
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);
/// Converts an answer read from a pipe or a file to UTF-8: as it stands when it is UTF-8,
/// otherwise decoded from the ANSI code page.
std::string answer_as_utf8(std::string_view bytes);
#endif

}  // namespace quorvane

#endif
