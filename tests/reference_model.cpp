#include "reference_model.h"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quorvane::testing {
namespace {

void put(std::string& to, const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  to += line;
}

// A line of the merged file: printf's text, each newline stored as CR LF.
void line(std::string& to, const char* format, ...) {
  static std::vector<char> text(1 << 16);
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  int size = std::vsnprintf(text.data(), text.size(), format, args);
  if (static_cast<std::size_t>(size) >= text.size()) {
    text.resize(static_cast<std::size_t>(size) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
  }
  va_end(again);
  va_end(args);
  for (const char* p = text.data(); *p; ++p) {
    if (*p == '\n') to += '\r';
    to += *p;
  }
}

void integral(std::string& to, long double v) {
  // The tool's decision for values without an integer: an infinity is the
  // largest finite double of its sign, NaN is 0.
  if (std::isinf(v)) v = std::copysign(static_cast<long double>(DBL_MAX), v);
  if (std::isnan(v)) v = 0;
  if (std::fabs(v) < 9e18L) {
    line(to, "%lld\n", static_cast<long long>(v));
  } else {
    line(to, "%.0Lf\n", v);
  }
}

long double half_up(double v) { return std::floor(static_cast<long double>(v) + 0.5L); }

// Where the text of an input ends: at its first Ctrl-Z or NUL byte, or its end.
std::size_t text_end(const std::string& bytes) {
  return std::min(bytes.size(), bytes.find_first_of(std::string("\x1a\0", 2)));
}

// A NUL byte ends the text (before any Ctrl-Z), and so does a Ctrl-Z that
// more than blanks, Ctrl-Z and NUL bytes follow: a copy pass that gets there
// refuses the drawing, which would lose what follows.
bool ended_by_nul(const std::string& bytes) {
  std::size_t end = text_end(bytes);
  if (end == bytes.size()) return false;
  if (bytes[end] == '\0') return true;
  return bytes.find_first_not_of(std::string(" \t\n\r\v\f\x1a\0", 9), end) != std::string::npos;
}

bool binary(const std::string& bytes) { return bytes.rfind("AutoCAD Binary DXF", 0) == 0; }

std::FILE* open_input(const std::string& bytes) {
  std::size_t end = text_end(bytes);
  if (end == 0) return std::fopen("/dev/null", "r");
  return fmemopen(const_cast<char*>(bytes.data()), end, "r");
}

// Where a copy pass stops: the line of the token, or of the end.
struct Refused {
  unsigned long long line;
};

// One input of a copy pass, read a token at a time.
struct Input {
  std::FILE* f;
  const std::string& bytes;
  unsigned long long line_at(long offset) const {
    unsigned long long lines = 1;
    for (long i = 0; i < offset; ++i) lines += bytes[static_cast<std::size_t>(i)] == '\n';
    return lines;
  }
  unsigned long long end_line() const { return line_at(static_cast<long>(text_end(bytes))); }
  // The offset of the next token, or -1 at the end.
  long next() {
    std::fscanf(f, " ");
    int c = std::fgetc(f);
    if (c == EOF) return -1;
    std::ungetc(c, f);
    return std::ftell(f);
  }
  // The token at `offset` whole, as "%s" takes it.
  std::string token_at(long offset) {
    long back = std::ftell(f);
    std::fseek(f, offset, SEEK_SET);
    std::string token = word();
    std::fseek(f, back, SEEK_SET);
    return token;
  }
  std::string word() {
    if (text.size() < bytes.size() + 1) text.resize(bytes.size() + 1);
    if (std::fscanf(f, "%s", text.data()) != 1) return "";
    return text.data();
  }
  std::vector<char> text;  // room for the longest token
};

bool integer_token(const std::string& t, long long* value) {
  std::size_t i = t[0] == '+' || t[0] == '-' ? 1 : 0;
  if (i == t.size()) return false;
  for (std::size_t k = i; k < t.size(); ++k) {
    if (t[k] < '0' || t[k] > '9') return false;
  }
  errno = 0;
  long long v = std::strtoll(t.c_str(), nullptr, 10);
  if (v < INT_MIN || v > INT_MAX || errno == ERANGE) return false;
  *value = v;
  return true;
}

bool number_token(const std::string& t, double* value) {
  std::size_t i = t[0] == '+' || t[0] == '-' ? 1 : 0;
  if (i == t.size() || !(std::isdigit(static_cast<unsigned char>(t[i])) || t[i] == '.'))
    return false;
  if (t.find_first_of("xX") != std::string::npos) return false;
  char* end = nullptr;
  *value = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size();
}

// 'T' text, 'R' real, 'I' integer, 0 for none: the DXF reference's ranges.
char code_type(long long c) {
  if ((c >= 1 && c <= 9) || (c >= 100 && c <= 102) || c == 105 || (c >= 300 && c <= 369) ||
      (c >= 390 && c <= 399) || (c >= 410 && c <= 419) || (c >= 430 && c <= 439) ||
      (c >= 470 && c <= 481) || c == 999 || (c >= 1000 && c <= 1009))
    return 'T';
  if ((c >= 10 && c <= 59) || (c >= 110 && c <= 149) || (c >= 210 && c <= 239) ||
      (c >= 460 && c <= 469) || (c >= 1010 && c <= 1059))
    return 'R';
  if ((c >= 60 && c <= 99) || (c >= 160 && c <= 179) || (c >= 270 && c <= 299) ||
      (c >= 370 && c <= 389) || (c >= 400 && c <= 409) || (c >= 420 && c <= 429) ||
      (c >= 440 && c <= 459) || (c >= 1060 && c <= 1071))
    return 'I';
  return 0;
}

// The steps of the copy patterns: each reads one token whole and throws
// Refused where it does not fit.
struct Steps {
  Input& in;
  std::string& out;
  int& val;
  double& dval;
  char* texte;

  long token(std::string& t) {
    long at = in.next();
    if (at < 0) throw Refused{in.end_line()};
    t = in.word();
    return at;
  }
  // An integer step: a group code of any type (type 'A'), exactly `named`, or a value ('V').
  void integer(const char* format, char kind, long long named = 0) {
    std::string t;
    long at = token(t);
    long long v;
    if (!integer_token(t, &v)) throw Refused{in.line_at(at)};
    if (kind == 'A' && code_type(v) == 0) throw Refused{in.line_at(at)};
    if (kind == 'N' && v != named) throw Refused{in.line_at(at)};
    val = static_cast<int>(v);
    line(out, format, val);
  }
  void any_code(const char* format) { integer(format, 'A'); }
  void named_code(const char* format, long long code) { integer(format, 'N', code); }
  void value(const char* format) { integer(format, 'V'); }
  void layer() {
    std::string t;
    token(t);
    std::strcpy(texte, t.c_str());
    line(out, "%s\n", texte);
  }
  // A code of any type, then a string that fits its type.
  void code_and_string(const char* format) {
    any_code(format);
    char type = code_type(val);
    std::string t;
    long at = token(t);
    long long i;
    double d;
    if ((type == 'I' && !integer_token(t, &i)) || (type == 'R' && !number_token(t, &d)))
      throw Refused{in.line_at(at)};
    std::strcpy(texte, t.c_str());
    line(out, "%s\n", texte);
  }
  void coordinate(long long code) {
    named_code(" %d\n", code);
    std::string t;
    long at = token(t);
    if (!number_token(t, &dval)) throw Refused{in.line_at(at)};
    integral(out, half_up(dval));
  }
};

}  // namespace

// The tool's two departures from fscanf, where the C library's results are
// undefined or not decimal: integers beyond 32 bits saturate, and "inf",
// "nan" and "0x..." are not reals (a sign before them is consumed; "0x"
// reads as 0 and leaves the x).
int read_int(std::FILE* f, int* target) {
  long wide;
  if (std::fscanf(f, "%ld", &wide) != 1) return 0;
  *target = static_cast<int>(wide < INT_MIN ? INT_MIN : wide > INT_MAX ? INT_MAX : wide);
  return 1;
}

int read_real(std::FILE* f, double* target) {
  std::fscanf(f, " ");
  long at = std::ftell(f);
  char head[4] = {};
  std::size_t n = std::fread(head, 1, 3, f);
  std::fseek(f, at, SEEK_SET);
  std::size_t i = n > 0 && (head[0] == '+' || head[0] == '-') ? 1 : 0;
  if (i < n && head[i] != '\0' && std::strchr("iInN", head[i])) {
    std::fseek(f, at + static_cast<long>(i), SEEK_SET);
    return 0;
  }
  if (i + 1 < n && head[i] == '0' && (head[i + 1] == 'x' || head[i + 1] == 'X')) {
    std::fseek(f, at + static_cast<long>(i) + 1, SEEK_SET);
    *target = head[0] == '-' ? -0.0 : 0.0;
    return 1;
  }
  return std::fscanf(f, "%lf", target);
}

MergeResult reference_merge(const std::string& first, const std::string& second) {
  MergeResult r;
  std::string& con = r.console;
  std::string& out = r.merged;
  double min_x = 0, min_y = 0, min_alt = 0, max_x = 0, max_y = 0, max_alt = 0;
  std::vector<char> buffer(first.size() + second.size() + 16);
  char* texte = buffer.data();
  texte[0] = '\0';
  int val = 0, segm;
  double dval = 0, dval1, dval2, dval3;

  // Survey of the first input.
  std::FILE* f1 = open_input(first);
  put(con, "\n\tTreatment\n");
  put(con, "\n\tReading the first file \n\n");
  segm = 0;
  while (std::fscanf(f1, "%s", texte) == 1) {
    if (!std::strcmp(texte, "$EXTMIN")) {
      int ok = read_int(f1, &val);
      while (ok == 1 && (val == 10 || val == 20 || val == 30)) {
        read_real(f1, val == 10 ? &min_x : val == 20 ? &min_y : &min_alt);
        ok = read_int(f1, &val);
      }
    }
    if (!std::strcmp(texte, "$EXTMAX")) {
      int ok = read_int(f1, &val);
      while (ok == 1 && (val == 10 || val == 20 || val == 30)) {
        read_real(f1, val == 10 ? &max_x : val == 20 ? &max_y : &max_alt);
        ok = read_int(f1, &val);
      }
    }
    if (!std::strcmp(texte, "POLYLINE")) {
      segm++;
      put(con, "\tCN record %d            \r        ", segm);
    }
    if (!std::strcmp(texte, "VERTEX")) {
      std::fscanf(f1, "%s", texte);
      std::fscanf(f1, "%s", texte);
      std::fscanf(f1, "%s", texte);
      std::fscanf(f1, "%s", texte);
      read_int(f1, &val);
      read_real(f1, &dval1);
      read_int(f1, &val);
      read_real(f1, &dval2);
      read_int(f1, &val);
      read_real(f1, &dval3);
      read_int(f1, &val);
    }
  }
  put(con, "\n\n\tFirst File Data");
  put(con, "\n\n\t\tmin x = %lf min y = %lf ", min_x, min_y);
  put(con, "\n\t\tmax x = %lf max y = %lf ", max_x, max_y);
  put(con, "\n\t\tmin z = %lf max z = %lf ", min_alt, max_alt);
  std::fclose(f1);

  // Header.
  line(out, "  0\nSECTION\n  2\nHEADER\n  9\n$EXTMIN\n 10\n");
  integral(out, std::trunc(min_x));
  line(out, " 20\n");
  integral(out, std::trunc(min_y));
  line(out, " 30\n%d\n  9\n$EXTMAX\n 10\n", 0);
  integral(out, std::trunc(max_x));
  line(out, " 20\n");
  integral(out, std::trunc(max_y));
  line(out, " 30\n");
  integral(out, std::trunc(max_alt));
  line(out, "  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n  0\n");

  // First input, every polyline.
  segm = 0;
  f1 = open_input(first);
  put(con, "\n\n\tNew Lecture\n\n");
  Input in1{f1, first, {}};
  Steps a{in1, out, val, dval, texte};
  bool open = false;
  try {
    if (binary(first)) throw Refused{1};
    long at;
    while ((at = in1.next()) >= 0 && std::fscanf(f1, "%s", texte) == 1) {
      if (!std::strcmp(texte, "LWPOLYLINE")) throw Refused{in1.line_at(at)};
      if (!std::strcmp(texte, "POLYLINE")) {
        segm++;
        put(con, "\t\trecord %d            \r     ", segm);
        if (open) throw Refused{in1.line_at(at)};
        open = true;
        line(out, "POLYLINE\n");
        a.named_code("  %d\n", 8);
        a.layer();
        a.code_and_string("  %d\n");
        a.any_code("% d\n");
        a.value("     %d\n");
        a.any_code(" %d\n");
        a.value("     %d\n");
        a.any_code(" %d\n");
        a.value("%d\n");
        a.named_code("  %d\n", 0);
      }
      if (!std::strcmp(texte, "VERTEX")) {
        if (!open) throw Refused{in1.line_at(at)};
        line(out, "VERTEX\n");
        a.named_code("  %d\n", 8);
        a.layer();
        a.any_code(" %d\n");
        a.value("    %d\n");
        a.coordinate(10);
        a.coordinate(20);
        a.coordinate(30);
        a.named_code("  %d\n", 0);
      }
      if (!std::strcmp(texte, "SEQEND")) {
        line(out, "SEQEND\n%d\n", 0);
        open = false;
      }
    }
    if (open || ended_by_nul(first)) throw Refused{in1.end_line()};
  } catch (const Refused& refused) {
    r.refused = 1;
    r.line = refused.line;
    std::fclose(f1);
    return r;
  }
  std::fclose(f1);

  // Second input, layer HA_6292 only.
  segm = 0;
  std::FILE* f2 = open_input(second);
  put(con, "\n\n\tReading the second file \n\n");
  Input in2{f2, second, {}};
  Steps b{in2, out, val, dval, texte};
  open = false;
  // After a POLYLINE or VERTEX, copied or not: a whole 8, then the layer.
  auto layer = [&] {
    std::string t;
    long at = b.token(t);
    long long v;
    if (!integer_token(t, &v) || v != 8) throw Refused{in2.line_at(at)};
    val = 8;
    b.token(t);
    std::strcpy(texte, t.c_str());
  };
  // After an LWPOLYLINE: the pairs up to the one whose code is a whole 0,
  // looked at without being read; one of them is 8 HA_6292, or not.
  auto on_curve = [&] {
    long back = std::ftell(f2);
    bool found = false;
    std::string code, value;
    long long v;
    while (!found && in2.next() >= 0) {
      code = in2.word();
      if (integer_token(code, &v) && v == 0) break;
      if (in2.next() < 0) break;
      value = in2.word();
      found = integer_token(code, &v) && v == 8 && value == "HA_6292";
    }
    std::fseek(f2, back, SEEK_SET);
    return found;
  };
  try {
    if (binary(second)) throw Refused{1};
    long at;
    while ((at = in2.next()) >= 0 && std::fscanf(f2, "%s", texte) == 1) {
      if (!std::strcmp(texte, "LWPOLYLINE")) {
        if (on_curve()) throw Refused{in2.line_at(at)};
        continue;
      }
      if (!std::strcmp(texte, "POLYLINE")) {
        layer();
        if (!std::strcmp(texte, "HA_6292")) {
          if (open) throw Refused{in2.line_at(at)};
          open = true;
          line(out, "POLYLINE\n");
          line(out, "  %d\n", val);
          segm++;
          put(con, "\t\tHA record %d            \r     ", segm);
          line(out, "%s\n", texte);
          b.code_and_string("  %d\n");
          b.any_code("% d\n");
          b.value("     %d\n");
          b.any_code(" %d\n");
          b.value("     %d\n");
          line(out, "  %d\n", 30);
          line(out, "%d\n", 0);
          b.named_code(" %d\n", 0);
        }
      }
      if (!std::strcmp(texte, "VERTEX")) {
        layer();
        if (!std::strcmp(texte, "HA_6292") && open) {
          line(out, "VERTEX\n");
          line(out, "  %d\n", val);
          line(out, "%s\n", texte);
          b.any_code(" %d\n");
          b.value("    %d\n");
          b.coordinate(10);
          b.coordinate(20);
          val = 30, line(out, "  %d\n", val);
          val = 0, line(out, "%d\n", val);
          b.named_code("  %d\n", 0);
        }
      }
      if (!std::strcmp(texte, "SEQEND")) {
        line(out, "SEQEND\n%d\n", 0);
        open = false;
      }
    }
    if (open || ended_by_nul(second)) throw Refused{in2.end_line()};
  } catch (const Refused& refused) {
    r.refused = 2;
    r.line = refused.line;
    std::fclose(f2);
    return r;
  }
  std::fclose(f2);
  line(out, "ENDSEC\n%d\nEOF\n", 0);

  put(con, "\n\n\tResulting data");
  put(con, "\n\n\t\tmin x = %lf min y = %lf ", min_x, min_y);
  put(con, "\n\t\tmax x = %lf max y = %lf ", max_x, max_y);
  put(con, "\n\t\tmin z = %lf max z = %lf ", 0.0, max_alt);
  return r;
}

}  // namespace quorvane::testing
