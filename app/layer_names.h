// Layer names of other programs' drawings, as a converted drawing holds them:
// one token each, in Windows-1252, and never one of the merge's keywords.
#ifndef QUORVANE_LAYER_NAMES_H
#define QUORVANE_LAYER_NAMES_H

#include <string>
#include <string_view>

namespace quorvane {

/// How a drawing stores the text beyond ASCII: UTF-8 from AutoCAD 2007 on
/// ($ACADVER AC1021 and later), the code page of $DWGCODEPAGE before.
/// Both may hold \U+XXXX escapes.
struct TextEncoding {
  bool utf8 = false;
  std::string code_page = "ANSI_1252";
  /// Whether `code_page` is one that DXF names; text in any other is read
  /// as Windows-1252.
  bool known_code_page = true;
};

/// The encoding a drawing's $ACADVER and $DWGCODEPAGE give (their values
/// without the blanks around them).
TextEncoding text_encoding(std::string_view acadver, std::string_view dwgcodepage);

/// A name as stored, decoded to UTF-8, escapes and all. A byte the encoding
/// cannot decode becomes U+FFFD (see code_pages.h).
std::string decode_name(std::string_view stored, const TextEncoding& encoding);

/// The name a converted drawing gives a layer named `name` (UTF-8):
/// whitespace and control characters made '_', and so is every character
/// that Windows-1252 lacks; a keyword of the merge is given a '_' after it,
/// an empty name is made "0". `renamed` tells whether it differs from `name`.
std::string written_name(std::string_view name, bool& renamed);

/// A written name (UTF-8) in the bytes of Windows-1252, the code page that
/// DXF readers assume of a drawing that names none, as the merged file does.
std::string windows_1252(std::string_view name);

/// Whether a layer named `name` (UTF-8) is the one an operator named: the
/// letters of Windows-1252 compared without case, as CAD programs compare
/// layer names.
bool same_layer(std::string_view name, std::string_view operator_name);

}  // namespace quorvane

#endif
