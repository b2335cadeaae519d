#include "reference_model.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
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

std::FILE* open_input(const std::string& bytes) {
  std::size_t end = bytes.find('\x1a');  // Ctrl-Z ends an input
  if (end == std::string::npos) end = bytes.size();
  if (end == 0) return std::fopen("/dev/null", "r");
  return fmemopen(const_cast<char*>(bytes.data()), end, "r");
}

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
  while (std::fscanf(f1, "%s", texte) == 1) {
    if (!std::strcmp(texte, "POLYLINE")) {
      segm++;
      put(con, "\t\trecord %d            \r     ", segm);
      line(out, "POLYLINE\n");
      read_int(f1, &val), line(out, "  %d\n", val);
      std::fscanf(f1, "%s", texte), line(out, "%s\n", texte);
      read_int(f1, &val), line(out, "  %d\n", val);
      std::fscanf(f1, "%s", texte), line(out, "%s\n", texte);
      read_int(f1, &val), line(out, "% d\n", val);
      read_int(f1, &val), line(out, "     %d\n", val);
      read_int(f1, &val), line(out, " %d\n", val);
      read_int(f1, &val), line(out, "     %d\n", val);
      read_int(f1, &val), line(out, " %d\n", val);
      read_int(f1, &val), line(out, "%d\n", val);
      read_int(f1, &val), line(out, "  %d\n", val);
    }
    if (!std::strcmp(texte, "VERTEX")) {
      line(out, "VERTEX\n");
      read_int(f1, &val), line(out, "  %d\n", val);
      std::fscanf(f1, "%s", texte), line(out, "%s\n", texte);
      read_int(f1, &val), line(out, " %d\n", val);
      read_int(f1, &val), line(out, "    %d\n", val);
      read_int(f1, &val), line(out, " %d\n", val);
      read_real(f1, &dval), integral(out, half_up(dval));
      read_int(f1, &val), line(out, " %d\n", val);
      read_real(f1, &dval), integral(out, half_up(dval));
      read_int(f1, &val), line(out, " %d\n", val);
      read_real(f1, &dval), integral(out, half_up(dval));
      read_int(f1, &val), line(out, "  %d\n", val);
    }
    if (!std::strcmp(texte, "SEQEND")) line(out, "SEQEND\n%d\n", 0);
  }
  std::fclose(f1);

  // Second input, layer HA_6292 only.
  segm = 0;
  std::FILE* f2 = open_input(second);
  put(con, "\n\n\tReading the second file \n\n");
  while (std::fscanf(f2, "%s", texte) == 1) {
    if (!std::strcmp(texte, "POLYLINE")) {
      read_int(f2, &val);
      std::fscanf(f2, "%s", texte);
      if (!std::strcmp(texte, "HA_6292")) {
        line(out, "POLYLINE\n");
        line(out, "  %d\n", val);
        segm++;
        put(con, "\t\tHA record %d            \r     ", segm);
        line(out, "%s\n", texte);
        read_int(f2, &val), line(out, "  %d\n", val);
        std::fscanf(f2, "%s", texte), line(out, "%s\n", texte);
        read_int(f2, &val), line(out, "% d\n", val);
        read_int(f2, &val), line(out, "     %d\n", val);
        read_int(f2, &val), line(out, " %d\n", val);
        read_int(f2, &val), line(out, "     %d\n", val);
        line(out, "  %d\n", 30);
        line(out, "%d\n", 0);
        read_int(f2, &val), line(out, " %d\n", val);
      }
    }
    if (!std::strcmp(texte, "VERTEX")) {
      read_int(f2, &val);
      std::fscanf(f2, "%s", texte);
      if (!std::strcmp(texte, "HA_6292")) {
        line(out, "VERTEX\n");
        line(out, "  %d\n", val);
        line(out, "%s\n", texte);
        read_int(f2, &val), line(out, " %d\n", val);
        read_int(f2, &val), line(out, "    %d\n", val);
        read_int(f2, &val), line(out, " %d\n", val);
        read_real(f2, &dval), integral(out, half_up(dval));
        read_int(f2, &val), line(out, " %d\n", val);
        read_real(f2, &dval), integral(out, half_up(dval));
        val = 30, line(out, "  %d\n", val);
        val = 0, line(out, "%d\n", val);
        read_int(f2, &val), line(out, "  %d\n", val);
      }
    }
    if (!std::strcmp(texte, "SEQEND")) line(out, "SEQEND\n%d\n", 0);
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
