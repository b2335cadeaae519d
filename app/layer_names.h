// Layer names of other programs' drawings, as a converted drawing holds them:
// one token each, in Windows-1252, and never one of the merge's keywords.
#ifndef QUORVANE_LAYER_NAMES_H
#define QUORVANE_LAYER_NAMES_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "code_pages.h"

namespace quorvane {

/// How a drawing stores the text beyond ASCII: UTF-8 from AutoCAD 2007 on
/// ($ACADVER AC1021 and later), the code page of $DWGCODEPAGE before.
/// Both may hold \U+XXXX escapes.
struct TextEncoding {
  bool utf8 = false;
  std::string code_page = "ANSI_1252";
  /// The code page `code_page` names, or null where it is none that DXF
  /// names: text is then read as Windows-1252.
  const CodePage* page = find_code_page("ANSI_1252");
  bool known_code_page() const { return page != nullptr; }
};

/// Tells the encoding a drawing's $ACADVER and $DWGCODEPAGE give (their values
/// without the blanks around them).
TextEncoding text_encoding(std::string_view acadver, std::string_view dwgcodepage);

/// Decodes a name as stored to UTF-8, escapes and all. A byte the encoding
/// cannot decode becomes U+FFFD (see code_pages.h).
std::string decode_name(std::string_view stored, const TextEncoding& encoding);

/// Chooses the name a converted drawing gives a layer named `name` (UTF-8):
/// whitespace and control characters made '_', and so is every character
/// that Windows-1252 lacks; a keyword of the merge is given a '_' after it,
/// an empty name is made "0". `renamed` tells whether it differs from `name`.
std::string written_name(std::string_view name, bool& renamed);

/// Encodes a written name (UTF-8) in the bytes of Windows-1252, the code page that
/// DXF readers assume of a drawing that names none, as the merged file does.
std::string windows_1252(std::string_view name);

/// Tells whether a layer named `name` (UTF-8) is the one an operator named: the
/// letters of Windows-1252 compared without case, as CAD programs compare
/// layer names.
bool same_layer(std::string_view name, std::string_view operator_name);

/// The names one conversion gives the layers of a drawing, read once from
/// its start: no two layers end on one name, nor any layer on HA_6292 but
/// the one the merge is to keep. A layer keeps its name where the merge
/// reads it (see written_name); where that name is another layer's (a name
/// of the LAYER table, or one given before, compared without case as CAD
/// programs compare them), or HA_6292 for a layer the merge is not to keep,
/// the name is given a number after it, the first one free: HA_6292_1, A_B_2.
class LayerNaming {
 public:
  /// Makes a naming that keeps `kept`: the layer named with --layer, which alone
  /// goes on HA_6292; without one, the layer named exactly HA_6292 keeps that name.
  explicit LayerNaming(std::optional<std::string> kept);

  /// Takes note of a layer that the drawing's LAYER table names (UTF-8,
  /// decoded from `stored`): as many as 4 MiB of names hold.
  void reserve(std::string_view name, std::string_view stored);

  struct Name {
    std::string written;  ///< UTF-8; HA_6292 for the layer kept
    bool kept = false;    ///< the layer named with --layer
    bool first = false;   ///< the layer was met for the first time
    std::string taken;    ///< when numbered: the name another layer has
  };
  /// Gives the name layer `name` (UTF-8, decoded from `stored`) is written with.
  /// Names whose decoding lost bytes (U+FFFD in their place) are told apart
  /// by their stored bytes: "Zone\x81" and "Zone\x8d" are two layers.
  Name name_of(std::string_view name, std::string_view stored);

 private:
  std::optional<std::string> kept_;
  std::size_t reserved_ = 0;  // bytes of the names of the LAYER table kept in mind
  // A name in use, without case, and the layer, without case, that has it.
  std::unordered_map<std::string, std::string> owners_;
  std::unordered_map<std::string, Name> given_;             // by the layer's name
  std::unordered_map<std::string, std::uint64_t> numbers_;  // the last given after a name
};

}  // namespace quorvane

#endif
