#include "merge_engine.h"

#include "rounding.h"

namespace quorvane {

namespace {

// One call per step of a copy pattern: read one token, write it in the step's format.
struct Copy {
  TokenStream& in;
  LineWriter& out;
  Working& w;

  template <std::size_t N>
  void code(const char (&lead)[N]) {
    const char* digits;
    std::size_t length;
    if (take_int(digits, length)) {
      out.number_text(lead, digits, length);  // its text is the one the value gives
    } else {
      out.number(lead, w.val);
    }
  }
  void signed_code() {
    const char* digits;
    std::size_t length;
    if (take_int(digits, length)) {
      out.number_text(" ", digits, length);  // a plain integer is never negative
    } else {
      out.signed_number(w.val);
    }
  }
  // Reads val; true when its token is a plain integer, whose digits are then at hand.
  bool take_int(const char*& digits, std::size_t& length) {
    if (in.read_plain_int(w.val, digits, length)) [[likely]] {
      w.val_known = true;
      return true;
    }
    take_int();
    return false;
  }
  void take_int() {
    if (in.read_int(w.val)) [[likely]] {
      w.val_known = true;
    } else if (!w.val_known) {
      w.settle_val();  // the value left in place is the one before this pass
    }
  }
  void string() {
    in.read_string(w.texte);
    out.text(w.texte);
  }
  void coordinate() {
    const char* text;
    std::size_t length;
    bool up;
    if (in.read_coordinate(w.dval, text, length, up)) [[likely]] {
      w.dval_known = true;
      if (text != nullptr) {
        out.number_text("", text, length, up);  // the digits of the rounded value as they stand
        return;
      }
    } else if (!w.dval_known) {
      w.settle_dval();
    }
    out.integral(half_up(w.dval));
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
                 SurveyWatch* watch) {
  console.write("\n\tTreatment\n");
  console.write("\n\tReading the first file \n\n");
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
      if (w.segm == 1 && watch != nullptr) watch->entities_reached(extents);
      console.progress("\tCN record ", w.segm, "            \r        ");
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

void copy_first_input(TokenStream& f1, LineWriter& f3, Working& w, Console& console) {
  w.segm = 0;
  console.write("\n\n\tNew Lecture\n\n");
  Copy copy{f1, f3, w};
  while (f1.read_string(w.texte)) {
    if (w.texte == POLYLINE) {
      ++w.segm;
      console.progress("\t\trecord ", w.segm, "            \r     ");
      f3.text(POLYLINE);
      copy.code("  ");
      copy.string();
      copy.code("  ");
      copy.string();
      copy.signed_code();
      copy.code("     ");
      copy.code(" ");
      copy.code("     ");
      copy.code(" ");
      copy.code("");
      copy.code("  ");
    }
    if (w.texte == VERTEX) {
      f3.text(VERTEX);
      copy.code("  ");
      copy.string();
      copy.code(" ");
      copy.code("    ");
      copy.code(" ");
      copy.coordinate();
      copy.code(" ");
      copy.coordinate();
      copy.code(" ");
      copy.coordinate();
      copy.code("  ");
    }
    if (w.texte == SEQEND) {
      f3.text(SEQEND);
      f3.number("", 0);
    }
    // An ENDSEC of the input is passed over: the merged file has one ENTITIES
    // section, which close_out ends after both inputs.
  }
  w.settle();  // the next pass goes on from here
}

void copy_second_input(TokenStream& f2, LineWriter& f3, Working& w, Console& console) {
  w.segm = 0;
  console.write("\n\n\tReading the second file \n\n");
  Copy copy{f2, f3, w};
  while (f2.read_string(w.texte)) {
    if (w.texte == POLYLINE) {
      copy.take_int();
      f2.read_string(w.texte);
      if (w.texte == CURVE) {
        f3.text(POLYLINE);
        f3.number("  ", w.val);
        ++w.segm;
        console.progress("\t\tHA record ", w.segm, "            \r     ");
        f3.text(w.texte);
        copy.code("  ");
        copy.string();
        copy.signed_code();
        copy.code("     ");
        copy.code(" ");
        copy.code("     ");
        f3.number("  ", 30);  // elevation 0 added before the closing code
        f3.number("", 0);
        copy.code(" ");
      }
    }
    if (w.texte == VERTEX) {
      copy.take_int();
      f2.read_string(w.texte);
      if (w.texte == CURVE) {
        f3.text(VERTEX);
        f3.number("  ", w.val);
        f3.text(w.texte);
        copy.code(" ");
        copy.code("    ");
        copy.code(" ");
        copy.coordinate();
        copy.code(" ");
        copy.coordinate();
        w.val = 30;  // elevation 0 added before the closing code, through val
        f3.number("  ", w.val);
        w.val = 0;
        w.val_known = true;
        f3.number("", w.val);
        copy.code("  ");
      }
    }
    if (w.texte == SEQEND) {
      f3.text(SEQEND);
      f3.number("", 0);
    }
  }
  w.settle();
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
