#include "merge_engine.h"

#include <cstdio>

#include "group_codes.h"
#include "rounding.h"

namespace quorvane {

namespace {

constexpr char kNulByte[] = "a NUL byte: this is not DXF text; a UTF-16 file?";
constexpr char kCtrlZ[] = "a Ctrl-Z byte before the drawing's end: what follows it would not be read";
constexpr char kSurveyOpening[] = "\n\tTreatment\n\n\tReading the first file \n\n";
constexpr char kSurveyLead[] = "\tCN record ";
constexpr char kSurveyTail[] = "            \r        ";
constexpr std::uint64_t kExtentBytes = 4096;  // looked at after $EXTMIN or $EXTMAX, at most

// The steps of the copy patterns. Each reads what its step of the layout
// holds, writes it in the step's format and says whether it fitted; the first
// that does not records the fault, and the pattern stops there.
struct Copy {
  TokenStream& in;
  LineWriter& out;
  Working& w;
  const char* entity = POLYLINE;     // the entity being copied, for the faults
  SurveyShadow* shadow = nullptr;  // told the strings the survey reads as tokens
  double x_read = 0;               // the vertex's x, until its y comes

  /// The code 8 that introduces the layer.
  template <std::size_t N>
  bool layer_code(const char (&lead)[N]) {
    return code<8>(lead);
  }
  /// The layer's name: any token.
  bool layer() {
    if (!in.read_string(w.texte)) return ended();
    if (shadow != nullptr) shadow->polyline_string(w.texte);
    out.text(w.texte);
    return true;
  }
  /// A code of any type, then a value that fits it: any token for text.
  template <std::size_t N>
  bool text_code_and_value(const char (&lead)[N]) {
    if (!code<kAnyCode>(lead)) return false;
    const GroupType type = group_type(w.val);
    if (!in.read_string(w.texte)) return ended();
    if (type != GroupType::kText && !fits(type, w.texte.view())) {
      return refuse(in.position() - w.texte.size(),
                    type == GroupType::kInteger ? "an integer value for the group code before it"
                                                : "a number for the group code before it");
    }
    if (shadow != nullptr) shadow->polyline_string(w.texte);
    out.text(w.texte);
    return true;
  }
  /// A code of any type and an integer value.
  template <std::size_t N, std::size_t M>
  bool int_pair(const char (&code_lead)[N], const char (&value_lead)[M]) {
    return code<kAnyCode>(code_lead) && int_value(value_lead);
  }
  /// The same, the code written as "% d" does.
  template <std::size_t M>
  bool signed_int_pair(const char (&value_lead)[M]) {
    const char* digits;
    std::size_t length;
    if (in.read_plain_int(w.val, digits, length)) [[likely]] {
      if (group_type(w.val) == GroupType::kNone) {
        return refuse_plain(length, expected_code(kAnyCode));
      }
      out.number_text(" ", digits, length);  // a plain integer is never negative
    } else {
      const std::uint64_t at = in.position();
      if (!whole_int("a group code")) return false;
      if (group_type(w.val) == GroupType::kNone) {
        return refuse(in.token_after(at), expected_code(kAnyCode));
      }
      out.signed_number(w.val);
    }
    return int_value(value_lead);
  }
  /// The codes 10, 20 and 30 and their coordinates, rounded half up.
  bool x() {
    if (!(code<10>(" ") && coordinate())) return false;
    x_read = w.dval;
    return true;
  }
  bool y() {
    if (!(code<20>(" ") && coordinate())) return false;
    w.drawn.take(x_read, w.dval);
    return true;
  }
  bool z() { return code<30>(" ") && coordinate(); }
  /// The code 0 that ends the entity and introduces the next one.
  template <std::size_t N>
  bool end_code(const char (&lead)[N]) {
    return code<0>(lead);
  }

  /// The fault of a keyword met where it cannot come, at the keyword's line.
  void refuse_keyword(std::uint64_t begun, std::string what) {
    w.fault = Fault{in.line_of(begun), std::move(what)};
  }
  /// At the end of the pass: the fault of a NUL byte that ended the drawing,
  /// or of the drawing ending with a polyline open.
  void refuse_end(bool open) {
    if (in.error() != 0) return;  // the caller reports the read error
    if (in.stopped_at_nul()) {
      w.fault = Fault{in.end_line(), kNulByte};
    } else if (in.text_after_stop()) {
      w.fault = Fault{in.end_line(), kCtrlZ};
    } else if (open) {
      w.fault = Fault{in.end_line(), "the last polyline has no SEQEND"};
    }
  }
  /// Reads the layer code after a POLYLINE or VERTEX, which must be a whole
  /// 8, into val, then the layer's name into texte.
  bool layer_code_and_name() {
    const std::uint64_t at = in.position();
    in.clear_overflow();
    if (!(in.read_int(w.val) && in.took_whole() && !in.overflowed() && w.val == 8)) {
      if (in.error() != 0) return false;
      const std::uint64_t code = in.token_after(at);
      return code == TokenStream::kNoToken ? ended() : refuse(code, expected_code(8));
    }
    return in.read_string(w.texte) || ended();
  }
  /// Before a pass reads anything: a binary drawing is no text to read.
  bool text_drawing() {
    if (!in.begins_with("AutoCAD Binary DXF")) return true;
    w.fault = Fault{1, "a binary DXF drawing: save it as DXF text"};
    return false;
  }

 private:
  static constexpr std::int32_t kAnyCode = -1;

  // A group code read whole: exactly `named`, or of any type.
  template <std::int32_t kNamed, std::size_t N>
  bool code(const char (&lead)[N]) {
    const char* digits;
    std::size_t length;
    if (in.read_plain_int(w.val, digits, length)) [[likely]] {
      if (!fits_place<kNamed>()) return refuse_plain(length, expected_code(kNamed));
      out.number_text(lead, digits, length);  // its text is the one the value gives
      return true;
    }
    const std::uint64_t at = in.position();
    if (!whole_int("a group code")) return false;
    if (!fits_place<kNamed>()) return refuse(in.token_after(at), expected_code(kNamed));
    out.number(lead, w.val);
    return true;
  }
  template <std::int32_t kNamed>
  bool fits_place() const {
    if constexpr (kNamed == kAnyCode) {
      return group_type(w.val) != GroupType::kNone;
    } else {
      return w.val == kNamed;
    }
  }
  // An integer value read whole.
  template <std::size_t N>
  bool int_value(const char (&lead)[N]) {
    const char* digits;
    std::size_t length;
    if (in.read_plain_int(w.val, digits, length)) [[likely]] {
      out.number_text(lead, digits, length);
      return true;
    }
    if (!whole_int("an integer value")) return false;
    out.number(lead, w.val);
    return true;
  }
  // Reads val; true when its token is a decimal integer within 32 bits, taken whole.
  bool whole_int(const char* expected) {
    const std::uint64_t before = in.position();
    in.clear_overflow();
    if (in.read_int(w.val) && in.took_whole() && !in.overflowed()) return true;
    return not_read(before, expected);
  }
  bool coordinate() {
    const std::uint64_t before = in.position();
    const char* text;
    std::size_t length;
    bool up;
    if (in.read_coordinate(w.dval, text, length, up)) [[likely]] {
      if (text != nullptr) {
        out.number_text("", text, length, up);  // the digits of the rounded value as they stand
      } else {
        out.integral(half_up(w.dval));
      }
      return true;
    }
    return not_read(before, "a number");
  }

  // A read that failed: the drawing ended inside the entity, or the token
  // where it began is not what was expected.
  bool not_read(std::uint64_t before, const char* expected) {
    if (in.error() != 0) return false;  // the caller reports the read error
    const std::uint64_t at = in.token_after(before);
    if (at == TokenStream::kNoToken) return ended();
    return refuse(at, std::string("expected ") + expected);
  }
  bool ended() {
    if (in.error() == 0) {
      w.fault = Fault{in.end_line(), in.stopped_at_nul()     ? std::string(kNulByte)
                                     : in.text_after_stop() ? std::string(kCtrlZ)
                                                            : std::string("the drawing ends inside a ") + entity};
    }
    return false;
  }
  // At the token that begins at `at`.
  bool refuse(std::uint64_t at, std::string what) {
    std::string_view found = in.text_at(at);
    if (found.size() > 40) found = found.substr(0, 40);
    w.fault = Fault{in.line_of(at), what + ", found " + std::string(found)};
    return false;
  }
  // At the plain integer of `length` digits just read.
  bool refuse_plain(std::size_t length, std::string what) {
    return refuse(in.position() - length, std::move(what));
  }
  std::string expected_code(std::int32_t named) const {
    switch (named) {
      case kAnyCode:
        return "expected a group code";
      case 0:
        return std::string("expected the group code 0 that ends the ") + entity;
      case 8:
        return "expected the group code 8 of the layer";
      case 10:
        return "expected the group code 10 of the x coordinate";
      case 20:
        return "expected the group code 20 of the y coordinate";
      default:
        return "expected the group code 30 of the z coordinate";
    }
  }
};

// The codes 10, 20 and 30 after $EXTMIN or $EXTMAX, in any order, until another
// code comes or a code cannot be read.
void read_extent(TokenStream& f1, std::int32_t& val, double& x, double& y, double& z) {
  bool more = f1.read_int(val);
  while (more && (val == 10 || val == 20 || val == 30)) {
    f1.read_real(val == 10 ? x : val == 20 ? y : z);
    more = f1.read_int(val);
  }
}

void report(std::string_view title, double min_x, double min_y, double min_z, double max_x,
            double max_y, double max_z, Console& console) {
  std::string text(title);
  text += "\n\n\t\tmin x = " + fixed6(min_x) + " min y = " + fixed6(min_y) + " ";
  text += "\n\t\tmax x = " + fixed6(max_x) + " max y = " + fixed6(max_y) + " ";
  text += "\n\t\tmin z = " + fixed6(min_z) + " max z = " + fixed6(max_z) + " ";
  console.write(text);
}

}  // namespace

void survey_pass(TokenStream& f1, Working& w, Extents& extents, Console& console,
                 std::int64_t shown) {
  if (shown < 0) console.write(kSurveyOpening);
  w.segm = 0;
  // Tokens are looked at where they lie: each is at most one keyword, and
  // nothing read after it is compared with it.
  std::string_view token;
  while (f1.read_view(token)) {
    if (token == EXTMIN) {
      read_extent(f1, w.val, extents.min_x, extents.min_y, extents.min_alt);
    } else if (token == EXTMAX) {
      read_extent(f1, w.val, extents.max_x, extents.max_y, extents.max_alt);
    } else if (token == POLYLINE) {
      ++w.segm;
      if (w.segm > shown) console.progress(kSurveyLead, w.segm, kSurveyTail);
    } else if (token == VERTEX) {
      // Passed over, so that none of its values is taken for a keyword.
      for (int i = 0; i < 4; ++i) f1.read_view(token);
      f1.read_int(w.val);
      f1.skip_real();  // the coordinates are not needed here
      f1.read_int(w.val);
      f1.skip_real();
      f1.read_int(w.val);
      f1.skip_real();
      f1.read_int(w.val);
    }
  }
}

void first_report(const Extents& e, Console& console) {
  report("\n\n\tFirst File Data", e.min_x, e.min_y, e.min_alt, e.max_x, e.max_y, e.max_alt,
         console);
}

void write_header(const Extents& e, LineWriter& f3) {
  f3.text("  0");
  f3.text("SECTION");
  f3.text("  2");
  f3.text("HEADER");
  f3.text("  9");
  f3.text(EXTMIN);
  f3.text(" 10");
  f3.integral(toward_zero(e.min_x));
  f3.text(" 20");
  f3.integral(toward_zero(e.min_y));
  f3.text(" 30");
  f3.number("", 0);
  f3.text("  9");
  f3.text(EXTMAX);
  f3.text(" 10");
  f3.integral(toward_zero(e.max_x));
  f3.text(" 20");
  f3.integral(toward_zero(e.max_y));
  f3.text(" 30");
  f3.integral(toward_zero(e.max_alt));
  f3.text("  0");
  f3.text(ENDSEC);
  f3.text("  0");
  f3.text("SECTION");
  f3.text("  2");
  f3.text("ENTITIES");
  f3.text("  0");
}

std::string header_text(const Extents& extents) {
  std::string bytes;
  {
    LineWriter writer(std::make_unique<StringSink>(bytes), 4096);
    write_header(extents, writer);
    writer.close();
  }
  return bytes;
}

void SurveyShadow::begin() { console_.write(kSurveyOpening); }

void SurveyShadow::polyline() {
  first_output();
  if (!holds_) return;
  ++shown_;
  console_.progress(kSurveyLead, shown_, kSurveyTail);
}

void SurveyShadow::polyline_string(const Token& texte) {
  if (texte == POLYLINE || texte == VERTEX || texte == EXTMIN || texte == EXTMAX) give_up();
}

void SurveyShadow::first_output() {
  if (!header_.empty()) return;
  header_ = header_text(extents_);
  write_header(extents_, f3_);
}

namespace {

// How much of `token` a read of the survey takes (none, all of it, or a part
// only), and what it gives.
enum class Taken { kNone, kWhole, kPart };
template <class Read>
Taken taken(std::string_view token, Read read, bool& ok) {
  TokenStream alone(std::make_unique<MemorySource>(token), token.size() + 1);
  ok = read(alone);
  const std::uint64_t end = alone.position();
  return end == 0 ? Taken::kNone : end == token.size() ? Taken::kWhole : Taken::kPart;
}

}  // namespace

void SurveyShadow::extent(TokenStream& f1, bool min) {
  if (!holds_) return;
  double& x = min ? extents_.min_x : extents_.max_x;
  double& y = min ? extents_.min_y : extents_.max_y;
  double& z = min ? extents_.min_alt : extents_.max_alt;
  // As read_extent reads them: a code, and while it is 10, 20 or 30 a real
  // then the next code. A read that takes nothing leaves its token to the
  // next read.
  double* value = nullptr;  // the target of the real to read, or null for a code
  // A list as headers hold it is a few short tokens: one that runs on for
  // more than kExtentBytes is left to the survey, so that the copy keeps no
  // more of the drawing than a list in memory, and looks at it once.
  const bool whole = f1.look_ahead([&](std::string_view token) {
    for (;;) {
      bool ok = false;
      if (value == nullptr) {
        std::int32_t code = 0;
        const Taken t = taken(token, [&](TokenStream& s) { return s.read_int(code); }, ok);
        if (t == Taken::kPart) give_up();
        if (t != Taken::kWhole || !ok || (code != 10 && code != 20 && code != 30)) return false;
        value = code == 10 ? &x : code == 20 ? &y : &z;
        return true;
      }
      double read = 0;
      const Taken t = taken(token, [&](TokenStream& s) { return s.read_real(read); }, ok);
      if (t == Taken::kPart) {
        give_up();
        return false;
      }
      if (ok) *value = read;
      value = nullptr;
      if (t == Taken::kWhole) return true;  // else the same token is read as a code
    }
  }, kExtentBytes);
  if (!whole) give_up();
}

// A polyline's header in the first input, after "POLYLINE".
bool polyline_pattern_a(Copy& copy) {
  return copy.layer_code("  ") && copy.layer() && copy.text_code_and_value("  ") &&
         copy.signed_int_pair("     ") && copy.int_pair(" ", "     ") && copy.int_pair(" ", "") &&
         copy.end_code("  ");
}

// A vertex of the first input, after "VERTEX".
bool vertex_pattern_a(Copy& copy) {
  return copy.layer_code("  ") && copy.layer() && copy.int_pair(" ", "    ") && copy.x() &&
         copy.y() && copy.z() && copy.end_code("  ");
}

// A polyline's header in the second input, after its layer: the elevation 0
// added before the closing code.
bool polyline_pattern_b(Copy& copy, LineWriter& f3) {
  if (!(copy.text_code_and_value("  ") && copy.signed_int_pair("     ") &&
        copy.int_pair(" ", "     "))) {
    return false;
  }
  f3.number("  ", 30);
  f3.number("", 0);
  return copy.end_code(" ");
}

// A vertex of the second input, after its layer: the elevation 0 added, through val.
bool vertex_pattern_b(Copy& copy, LineWriter& f3, Working& w) {
  if (!(copy.int_pair(" ", "    ") && copy.x() && copy.y())) return false;
  w.val = 30;
  f3.number("  ", w.val);
  w.val = 0;
  f3.number("", w.val);
  return copy.end_code("  ");
}

void copy_first_input(TokenStream& f1, LineWriter& f3, Working& w, Console& console,
                      SurveyShadow* shadow) {
  w.segm = 0;
  w.fault = Fault{};
  w.drawn = Box{};
  if (shadow != nullptr) shadow->begin();
  console.write("\n\n\tNew Lecture\n\n");
  Copy copy{f1, f3, w};
  // The survey's results hold only for a drawing copied to its end.
  struct GiveUpUnlessWhole {
    SurveyShadow* shadow;
    const Working& w;
    ~GiveUpUnlessWhole() {
      if (shadow != nullptr && w.fault) shadow->give_up();
    }
  } whole{shadow, w};
  if (!copy.text_drawing()) return;
  bool open = false;  // a polyline copied and its SEQEND not yet written
  while (f1.read_string(w.texte)) {
    if (w.texte == LWPOLYLINE) {
      copy.refuse_keyword(f1.position() - w.texte.size(),
                          "an LWPOLYLINE, which the merge does not read");
      return;
    }
    if (shadow != nullptr && (w.texte == EXTMIN || w.texte == EXTMAX)) {
      shadow->extent(f1, w.texte == EXTMIN);
    }
    if (w.texte == POLYLINE) {
      ++w.segm;
      console.progress("\t\trecord ", w.segm, "            \r     ");
      if (shadow != nullptr) shadow->polyline();
      if (open) {
        copy.refuse_keyword(f1.position() - w.texte.size(),
                            "a POLYLINE before the SEQEND of the polyline before it");
        return;
      }
      open = true;
      f3.text(POLYLINE);
      copy.entity = POLYLINE;
      copy.shadow = shadow;  // the survey reads its strings as tokens
      const bool copied = polyline_pattern_a(copy);
      copy.shadow = nullptr;
      if (!copied) return;
    }
    if (w.texte == VERTEX) {
      if (!open) {
        copy.refuse_keyword(f1.position() - w.texte.size(), "a VERTEX outside any polyline");
        return;
      }
      f3.text(VERTEX);
      copy.entity = VERTEX;
      if (!vertex_pattern_a(copy)) return;
    }
    if (w.texte == SEQEND) {
      if (shadow != nullptr) shadow->first_output();
      f3.text(SEQEND);
      f3.number("", 0);
      open = false;
    }
    // An ENDSEC of the input is passed over: the merged file has one ENTITIES
    // section, which close_out ends after both inputs.
  }
  copy.refuse_end(open);
}

// After an LWPOLYLINE: whether the pairs that follow, a code then its value,
// up to the first whose code is a whole 0, hold the layer HA_6292. Nothing is read.
bool lwpolyline_on_curve(TokenStream& f2) {
  bool on_curve = false;
  bool code_read = false, whole = false;
  std::int32_t code = 0;
  f2.look_ahead([&](std::string_view token) {
    if (!code_read) {
      whole = whole_integer(token, code);
      code_read = true;
      return !(whole && code == 0);
    }
    code_read = false;
    on_curve = whole && code == 8 && token == CURVE;
    return !on_curve;
  });
  return on_curve;
}

void copy_second_input(TokenStream& f2, LineWriter& f3, Working& w, Console& console) {
  w.segm = 0;
  w.fault = Fault{};
  w.drawn = Box{};
  console.write("\n\n\tReading the second file \n\n");
  Copy copy{f2, f3, w};
  if (!copy.text_drawing()) return;
  bool open = false;  // a polyline copied and its SEQEND not yet written
  // Every POLYLINE and VERTEX, copied or not, must have its layer first: a
  // layer behind another code would be hidden from the test. The keyword's
  // line is held meanwhile, for the line of a fault.
  auto read_layer = [&](std::uint64_t& keyword, const char* entity) {
    keyword = f2.position() - w.texte.size();
    f2.hold(keyword);
    copy.entity = entity;
    return copy.layer_code_and_name();
  };
  while (f2.read_string(w.texte)) {
    if (w.texte == LWPOLYLINE) {
      // Its layer comes among the pairs that follow, up to the next entity.
      const std::uint64_t keyword = f2.position() - w.texte.size();
      f2.hold(keyword);
      if (lwpolyline_on_curve(f2)) {
        copy.refuse_keyword(keyword, "an LWPOLYLINE on layer HA_6292, which the merge does not read");
        return;
      }
      f2.release();
      continue;
    }
    if (w.texte == POLYLINE) {
      std::uint64_t keyword;
      if (!read_layer(keyword, POLYLINE)) return;
      if (w.texte == CURVE) {
        if (open) {
          copy.refuse_keyword(keyword, "a POLYLINE before the SEQEND of the polyline before it");
          return;
        }
        f2.release();
        open = true;
        f3.text(POLYLINE);
        f3.number("  ", w.val);
        ++w.segm;
        console.progress("\t\tHA record ", w.segm, "            \r     ");
        f3.text(w.texte);
        if (!polyline_pattern_b(copy, f3)) return;
      }
      f2.release();
    }
    if (w.texte == VERTEX) {
      std::uint64_t keyword;
      if (!read_layer(keyword, VERTEX)) return;
      // Only inside a polyline copied since the last SEQEND: a lone vertex is passed over.
      if (w.texte == CURVE && open) {
        f2.release();
        f3.text(VERTEX);
        f3.number("  ", w.val);
        f3.text(w.texte);
        if (!vertex_pattern_b(copy, f3, w)) return;
      }
      f2.release();
    }
    if (w.texte == SEQEND) {
      f3.text(SEQEND);
      f3.number("", 0);
      open = false;
    }
  }
  copy.refuse_end(open);
}

std::string overlap_warning(const Extents& e, const Box& first, const Box& curves,
                            const std::string& first_name, const std::string& second_name) {
  if (curves.empty()) return "";
  Box frame;
  const bool none = e.min_x > e.max_x || e.min_y > e.max_y ||
                    (e.min_x == 0 && e.max_x == 0 && e.min_y == 0 && e.max_y == 0);
  if (none) {
    frame = first;
  } else {
    frame.take(e.min_x, e.min_y);
    frame.take(e.max_x, e.max_y);
  }
  if (frame.empty()) return "";  // nothing to compare with
  const double dx = (frame.max_x - frame.min_x) / 10, dy = (frame.max_y - frame.min_y) / 10;
  if (curves.max_x >= frame.min_x - dx && curves.min_x <= frame.max_x + dx &&
      curves.max_y >= frame.min_y - dy && curves.min_y <= frame.max_y + dy) {
    return "";
  }
  auto number = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v == 0 ? 0.0 : v);
    return std::string(text);
  };
  return "the HA_6292 polylines of " + second_name + " lie outside the extents of " + first_name +
         " (x " + number(frame.min_x) + " to " + number(frame.max_x) + ", y " +
         number(frame.min_y) + " to " + number(frame.max_y) +
         "): are both drawings in the same coordinate system?";
}

void close_out(LineWriter& f3) {
  f3.text(ENDSEC);
  f3.number("", 0);
  f3.text("EOF");
}

void final_report(const Extents& e, Console& console) {
  report("\n\n\tResulting data", e.min_x, e.min_y, 0.0, e.max_x, e.max_y, e.max_alt, console);
}

}  // namespace quorvane
