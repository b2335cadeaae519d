#include "layer_names.h"

#include <cstdint>
#include <string>
#include <vector>

#include "code_pages.h"
#include "keywords.h"

namespace quorvane {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 from 0x80 to 0x9F; the rest of its upper half is Latin-1.
constexpr char16_t kWindows1252[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

void append_utf8(char32_t c, std::string& out) {
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

// The code points of UTF-8 text; an ill-formed sequence gives U+FFFD for its first byte.
std::u32string from_utf8(std::string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = byte < 0x80                   ? 1
                         : byte >= 0xC2 && byte < 0xE0 ? 2
                         : byte >= 0xE0 && byte < 0xF0 ? 3
                         : byte >= 0xF0 && byte < 0xF5 ? 4
                                                       : 0;
    char32_t c = length == 1   ? byte
                 : length == 2 ? byte & 0x1F
                 : length == 3 ? byte & 0x0F
                               : byte & 0x07;
    bool good = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; good && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      good = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond Unicode are ill-formed.
    if (good && ((length == 3 && (c < 0x800 || (c >= 0xD800 && c < 0xE000))) ||
                 (length == 4 && (c < 0x10000 || c > 0x10FFFF)))) {
      good = false;
    }
    out += good ? c : kReplacement;
    i += good ? length : 1;
  }
  return out;
}

// The byte of a character in Windows-1252, or -1 when it has none.
int windows_1252_byte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int i = 0; i < 32; ++i) {
    if (kWindows1252[i] == c && c != kReplacement) return 0x80 + i;
  }
  return -1;
}

bool whitespace(char32_t c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool control(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The code unit of a \U+XXXX escape at `i`, or -1.
long escape_at(const std::u32string& text, std::size_t i) {
  if (i + 7 > text.size() || text[i] != '\\' || (text[i + 1] != 'U' && text[i + 1] != 'u') ||
      text[i + 2] != '+') {
    return -1;
  }
  long unit = 0;
  for (std::size_t k = 3; k < 7; ++k) {
    const int digit = text[i + k] < 0x80 ? hex_digit(static_cast<char>(text[i + k])) : -1;
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// The text with its \U+XXXX escapes decoded (a pair of surrogates makes one character).
std::u32string unescaped(const std::u32string& text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const long unit = escape_at(text, i);
    if (unit < 0) {
      out += text[i++];
      continue;
    }
    i += 7;
    if (unit >= 0xD800 && unit < 0xDC00) {
      const long low = escape_at(text, i);
      if (low >= 0xDC00 && low < 0xE000) {
        out += static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 7;
        continue;
      }
    }
    out += unit >= 0xD800 && unit < 0xE000 ? kReplacement : static_cast<char32_t>(unit);
  }
  return out;
}

}  // namespace

TextEncoding text_encoding(std::string_view acadver, std::string_view dwgcodepage) {
  TextEncoding encoding;
  encoding.utf8 = acadver.size() == 6 && acadver.starts_with("AC") && acadver >= "AC1021";
  if (!dwgcodepage.empty()) encoding.code_page = std::string(dwgcodepage);
  encoding.page = find_code_page(encoding.code_page);
  return encoding;
}

std::string decode_name(std::string_view stored, const TextEncoding& encoding) {
  std::u32string points;
  bool ascii = true;
  for (char c : stored) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii || encoding.utf8) {
    points = from_utf8(stored);
  } else {
    const CodePage* page = encoding.page != nullptr ? encoding.page : find_code_page("ANSI_1252");
    points = decode(stored, *page);
  }
  std::string out;
  for (char32_t c : unescaped(points)) append_utf8(c, out);
  return out;
}

std::string written_name(std::string_view name, bool& renamed) {
  renamed = false;
  std::string out;
  for (const char32_t c : from_utf8(name)) {
    if (whitespace(c) || control(c) || windows_1252_byte(c) < 0) {
      out += '_';
      renamed = true;
    } else {
      append_utf8(c, out);
    }
  }
  if (out.empty()) {
    out.push_back('0');
    renamed = true;
  }
  for (const std::string_view keyword : kKeywords) {
    if (out == keyword) {
      out += '_';
      renamed = true;
    }
  }
  return out;
}

std::string windows_1252(std::string_view name) {
  std::string out;
  for (const char32_t c : from_utf8(name)) {
    const int byte = windows_1252_byte(c);
    out += static_cast<char>(byte < 0 ? '_' : byte);
  }
  return out;
}

namespace {

// Capitals of Latin-1 and of the letters Windows-1252 adds to it.
char32_t fold(char32_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0x0153 || c == 0x0161 || c == 0x017E) return c - 1;
  return c == 0xFF ? 0x0178 : c;
}

// A layer's name as CAD programs compare it: without case. An empty name is
// layer 0's.
std::string without_case(std::string_view name) {
  std::string out;
  for (const char32_t c : from_utf8(name.empty() ? std::string_view("0") : name)) {
    append_utf8(fold(c), out);
  }
  return out;
}

// Where decoding lost bytes of a name (U+FFFD in their place), its stored
// bytes tell it apart: `name` with them after a NUL.
std::string with_lost_bytes(std::string name, std::string_view stored) {
  if (name.find("\xEF\xBF\xBD") != std::string::npos) {
    name += '\0';
    name.append(stored);
  }
  return name;
}

// A layer as CAD programs tell layers apart: its name without case, and its
// stored bytes too where decoding lost some of them.
std::string identity(std::string_view name, std::string_view stored) {
  return with_lost_bytes(without_case(name), stored);
}

}  // namespace

bool same_layer(std::string_view name, std::string_view operator_name) {
  const std::u32string a = from_utf8(name), b = from_utf8(operator_name);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

LayerNaming::LayerNaming(std::optional<std::string> kept) : kept_(std::move(kept)) {
  // HA_6292 is the layer the merge keeps: the named layer's, or its own.
  owners_.emplace(without_case(CURVE), without_case(kept_ ? *kept_ : std::string(CURVE)));
}

void LayerNaming::reserve(std::string_view name, std::string_view stored) {
  // The names of a table beyond these are not kept in mind: a layer of one
  // of them whose name was given before is numbered, as in a drawing without
  // a table. The names given are all kept: no two layers end on one name.
  constexpr std::size_t kReserved = std::size_t{4} << 20;
  if (reserved_ + name.size() > kReserved) return;
  reserved_ += name.size();
  owners_.emplace(without_case(name), identity(name, stored));
}

LayerNaming::Name LayerNaming::name_of(std::string_view name, std::string_view stored) {
  const std::string layer = identity(name, stored);
  const std::string spelt = with_lost_bytes(std::string(name), stored);
  const auto found = given_.find(spelt);
  if (found != given_.end()) {
    Name again = found->second;
    again.first = false;
    return again;
  }
  Name given;
  given.first = true;
  if (kept_ && same_layer(name, *kept_)) {
    given.written = CURVE;
    given.kept = true;
  } else {
    bool renamed = false;
    const std::string own = written_name(name, renamed);
    // Another layer's name, or HA_6292 for a layer not kept: numbered.
    auto free = [this, &layer](const std::string& candidate) {
      const auto owner = owners_.find(without_case(candidate));
      return owner == owners_.end() || owner->second == layer;
    };
    given.written = own;
    if (!free(own)) {
      // Numbers go on from the last one given after this name: no search starts over.
      given.taken = own;
      std::uint64_t& number = numbers_[without_case(own)];
      do {
        given.written = own + "_" + std::to_string(++number);
      } while (!free(given.written));
    }
    owners_.emplace(without_case(given.written), layer);
  }
  return given_.emplace(spelt, given).first->second;
}

}  // namespace quorvane
