#include "converter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string_view>

#include "files.h"

namespace quorvane {

// Most drawings hold their coordinates in their shortest form, which is
// then copied as it stands.
bool parse_number(std::string_view text, double& value, bool* shortest) {
  text = trimmed(text);
  if (shortest != nullptr) *shortest = false;
  const bool plus = !text.empty() && text.front() == '+';
  if (plus) text.remove_prefix(1);
  // The usual form, digits with a point among them, within the exact case:
  // digits that make an integer below 2^53, divided by a power of ten that a
  // double holds exactly, give the correctly rounded value in one division.
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const bool negative = !text.empty() && text.front() == '-';
  std::size_t i = negative ? 1 : 0;
  std::uint64_t digits = 0;
  int count = 0, after_point = -1, whole_digits = 0, leading = 0, trailing = 0;
  for (; i < text.size() && count <= 15; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = digits * 10 + static_cast<unsigned>(c - '0');
      leading += digits == 0 ? 1 : 0;
      trailing = c == '0' ? trailing + 1 : 0;
      ++count;
      if (after_point >= 0) {
        ++after_point;
      } else {
        ++whole_digits;
      }
    } else if (c == '.' && after_point < 0) {
      after_point = 0;
    } else {
      break;
    }
  }
  if (i == text.size() && count > 0 && count <= 15) {
    value = static_cast<double>(digits);
    if (after_point > 0) value /= kPowers[after_point];
    if (negative) value = -value;
    if (shortest != nullptr && !plus && whole_digits > 0 &&
        (text[negative ? 1 : 0] != '0' || whole_digits == 1) && after_point != 0 &&
        (after_point < 0 || trailing == 0)) {
      // Its scientific form: the significant digits, a point after the
      // first, and an exponent of a sign and two digits.
      const int significant = count - leading - (after_point < 0 ? trailing : 0);
      const std::size_t scientific = (negative ? 1 : 0) + static_cast<std::size_t>(significant) +
                                     (significant > 1 ? 1 : 0) + 4;
      *shortest = digits == 0 ? text == "0" : text.size() <= scientific;
    }
    return true;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size()) return false;
  if (error == std::errc::result_out_of_range) {
    // Beyond the range of a double: 0 below it, as strtod and ezdxf read it;
    // an infinity above it, which the caller refuses.
    value = std::strtod(std::string(text).c_str(), nullptr);
    return true;
  }
  return error == std::errc{};
}

namespace {

// Shortest text that reads back as the same double; -0 is written 0.
struct Number {
  char text[32];
  std::size_t size;
  explicit Number(double v) {
    size = static_cast<std::size_t>(std::to_chars(text, text + sizeof text, v + 0.0).ptr - text);
  }
  std::string_view view() const { return {text, size}; }
};

}  // namespace

// A coordinate read, with the text it is written with when that text is its shortest.
struct Coordinate {
  double value = 0;
  char text[24] = {'0'};
  std::size_t size = 1;  // 0: the text is made from the value when written

  void read(std::string_view given, double v, bool shortest) {
    value = v;
    size = shortest && given.size() <= sizeof text ? given.size() : 0;
    std::memcpy(text, given.data(), size);
  }
  void operator=(double v) {
    value = v;
    size = 0;
  }
  void clear() {
    value = 0;
    text[0] = '0';
    size = 1;
  }
  void append_to(std::string& out) const {
    if (size != 0) {
      out.append(text, size);
    } else {
      out += Number(value).view();
    }
  }
};

// The vertices of one entity, held until it ends: in memory up to a bound,
// beyond it in a temporary file, as their values alone (the text written of
// a value is the same), so that memory stays bounded whatever one entity holds.
class Converter::Held {
 public:
  struct Point {
    Coordinate x, y;
    bool bulged = false;  // an arc begins here
  };

  explicit Held(const ConvertOptions& options)
      : bound_(options.held_in_memory),
        temporary_(options.temporary != nullptr ? options.temporary : temporary_file) {}
  ~Held() {
    if (file_ != nullptr) std::fclose(file_);
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

  /// A point after the others, to be filled in until the next one is asked
  /// for; null, with `error` the errno value, when the one before cannot be
  /// written to the file.
  Point* next(int& error) {
    error = 0;
    if (memory_.size() < bound_) return &memory_.emplace_back();
    if (staged_) error = spill(staging_);  // the one before, beyond the bound
    staged_ = true;
    staging_ = Point();
    return error == 0 ? &staging_ : nullptr;
  }
  /// Holds `point` after the others; 0 or the errno value of a failed write.
  int add(const Point& point) {
    int error = 0;
    if (Point* slot = next(error)) *slot = point;
    return error;
  }

  /// Writes out the points on their way to the file; 0 or the errno value of
  /// a failed write.
  int flush() {
    if (staged_) {
      staged_ = false;
      if (const int error = spill(staging_); error != 0) return error;
    }
    if (spilled_ == 0) return 0;
    if (const int error = write_out(); error != 0) return error;
    return std::fflush(file_) == 0 ? 0 : errno_or_eio();
  }

  /// Calls take(point) for each point held, in order, until it returns false;
  /// 0 or the errno value of a failed read. After flush().
  template <class Take>
  int each(Take take) {
    for (const Point& point : memory_) {
      if (!take(point)) return 0;
    }
    if (spilled_ == 0) return 0;
    errno = 0;
    if (std::fseek(file_, 0, SEEK_SET) != 0) return errno_or_eio();
    Point point;
    for (std::uint64_t left = spilled_; left > 0;) {
      const std::size_t records =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, kBuffer / kRecord));
      buffer_.resize(records * kRecord);
      errno = 0;
      if (std::fread(buffer_.data(), kRecord, records, file_) != records) return errno_or_eio();
      left -= records;
      for (std::size_t i = 0; i < records; ++i) {
        const char* record = buffer_.data() + i * kRecord;
        double x, y;
        std::memcpy(&x, record, 8);
        std::memcpy(&y, record + 8, 8);
        point.x = x;
        point.y = y;
        point.bulged = record[16] != 0;
        if (!take(point)) return 0;
      }
    }
    return 0;
  }

  /// Lets go of the points held; the file, if any, is kept for the next entity.
  void clear() {
    memory_.clear();
    staged_ = false;
    if (spilled_ != 0) std::fseek(file_, 0, SEEK_SET);
    spilled_ = 0;
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kRecord = 17;  // x, y, and whether an arc begins there
  static constexpr std::size_t kBuffer = kRecord << 14;

  static int errno_or_eio() { return errno != 0 ? errno : EIO; }
  int spill(const Point& point) {
    if (file_ == nullptr) {
      errno = 0;
      file_ = temporary_();
      if (file_ == nullptr) return errno_or_eio();
      buffer_.reserve(kBuffer);
    }
    char record[kRecord];
    std::memcpy(record, &point.x.value, 8);
    std::memcpy(record + 8, &point.y.value, 8);
    record[16] = point.bulged ? 1 : 0;
    buffer_.insert(buffer_.end(), record, record + kRecord);
    ++spilled_;
    return buffer_.size() >= kBuffer ? write_out() : 0;
  }
  int write_out() {
    errno = 0;
    const bool whole = std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
    buffer_.clear();
    return whole ? 0 : errno_or_eio();
  }

  std::size_t bound_;
  std::FILE* (*temporary_)();
  std::vector<Point> memory_;
  Point staging_;  // the last point, beyond the bound, until the next one
  bool staged_ = false;
  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;   // records on their way to the file, or read back from it
  std::uint64_t spilled_ = 0;  // points in the file and the buffer
};

namespace {

// The object coordinate system of an extrusion direction, by the arbitrary
// axis algorithm of the DXF reference.
struct Ocs {
  bool transform = false;
  double ax[3] = {1, 0, 0}, ay[3] = {0, 1, 0}, az[3] = {0, 0, 1};

  // To length 1, scaled first so that no square overflows or vanishes.
  static void normalize(double v[3]) {
    const double largest = std::max({std::abs(v[0]), std::abs(v[1]), std::abs(v[2])});
    for (int i = 0; i < 3; ++i) v[i] /= largest;
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int i = 0; i < 3; ++i) v[i] /= length;
  }
  static void cross(const double a[3], const double b[3], double out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
  }

  explicit Ocs(const double extrusion[3] = nullptr) {
    if (extrusion == nullptr) return;
    double z[3] = {extrusion[0], extrusion[1], extrusion[2]};
    // No direction at all is read as the usual one.
    if ((z[0] == 0 && z[1] == 0 && z[2] == 0) || (z[0] == 0 && z[1] == 0 && z[2] > 0)) return;
    normalize(z);
    static constexpr double kWorldY[3] = {0, 1, 0}, kWorldZ[3] = {0, 0, 1};
    cross(std::abs(z[0]) < 1.0 / 64 && std::abs(z[1]) < 1.0 / 64 ? kWorldY : kWorldZ, z, ax);
    normalize(ax);
    cross(z, ax, ay);
    normalize(ay);
    for (int i = 0; i < 3; ++i) az[i] = z[i];
    transform = true;
  }
  void to_world(double& x, double& y, double& z) const {
    if (!transform) return;
    const double p[3] = {x, y, z};
    double* out[3] = {&x, &y, &z};
    for (int i = 0; i < 3; ++i) *out[i] = p[0] * ax[i] + p[1] * ay[i] + p[2] * az[i];
  }
};

// A point of a circle at `degrees`, exact at the quarter turns.
void on_circle(double cx, double cy, double r, double degrees, double& x, double& y) {
  double turn = std::fmod(degrees, 360.0);
  if (turn < 0) turn += 360.0;
  double c = 1, s = 0;
  if (turn == 90) {
    c = 0;
    s = 1;
  } else if (turn == 180) {
    c = -1;
  } else if (turn == 270) {
    c = 0;
    s = -1;
  } else if (turn != 0) {
    c = std::cos(turn * (std::numbers::pi / 180));
    s = std::sin(turn * (std::numbers::pi / 180));
  }
  x = cx + r * c;
  y = cy + r * s;
}

// The codes of a HATCH's boundary paths, as ezdxf reads them: the paths go
// on as long as these do.
bool path_code(std::int32_t code) {
  return (code >= 10 && code <= 13) || (code >= 20 && code <= 23) || (code >= 30 && code <= 33) ||
         code == 40 || code == 42 || code == 50 || code == 51 || (code >= 72 && code <= 74) ||
         (code >= 92 && code <= 97) || code == 330;
}

constexpr std::size_t kExtentColumns = 24;  // "-2.2250738585072014e-308"
constexpr std::size_t kListed = 20;         // renamings and layers named in the summary
constexpr std::size_t kUnlisted = ~std::size_t{0};  // a layer beyond those kListed
constexpr std::size_t kLongestName = 4096;  // bytes of a layer name (AutoCAD's: 255 characters)

}  // namespace

std::string converted_header(const Extents& e) {
  std::string text =
      "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$ACADVER\r\n  1\r\nAC1009\r\n"
      "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1252\r\n";
  auto point = [&text](const char* name, double x, double y, double z) {
    text += "  9\r\n";
    text += name;
    const double values[3] = {x, y, z};
    const char* codes[3] = {"\r\n 10\r\n", "\r\n 20\r\n", "\r\n 30\r\n"};
    for (int i = 0; i < 3; ++i) {
      text += codes[i];
      // Right-aligned in the columns of the longest double, so that extents
      // known only at the end take the place of those written first without
      // moving the rest of the file.
      const Number number(values[i]);
      text.append(kExtentColumns - number.size, ' ');
      text += number.view();
    }
    text += "\r\n";
  };
  point("$EXTMIN", e.min_x, e.min_y, e.min_alt);
  point("$EXTMAX", e.max_x, e.max_y, e.max_alt);
  text += "  0\r\nENDSEC\r\n  0\r\nSECTION\r\n  2\r\nENTITIES\r\n";
  return text;
}

// The entity being read: what of its groups the conversion needs.
struct Converter::Entity {
  enum class Kind { kPolyline, kVertex, kLwpolyline, kHatch, kInsert, kSkipped };
  Kind kind = Kind::kSkipped;
  std::string type;        // as counted when left out
  std::uint64_t line = 0;  // of its group code 0
  std::string layer = "0";
  bool paper = false;
  std::int32_t flags = 0, follows = 0;
  Coordinate x, y, z, elevation;  // an LWPOLYLINE's elevation (38), a HATCH's (30)
  bool bulged = false;            // a VERTEX's
  bool has_z = false;
  double extrusion[3] = {0, 0, 1};
  // The last vertex of an LWPOLYLINE, or of a HATCH's polyline path, filled
  // in where it is held.
  Held::Point* point = nullptr;

  // The entity's type, of those read.
  std::string name() const {
    return kind == Kind::kPolyline     ? "POLYLINE"
           : kind == Kind::kVertex     ? "VERTEX"
           : kind == Kind::kLwpolyline ? "LWPOLYLINE"
           : kind == Kind::kHatch      ? "HATCH"
                                       : "entity";
  }

  void start(Kind k, std::string_view given, std::uint64_t at) {
    kind = k;
    line = at;
    if (k == Kind::kSkipped) type.assign(given);  // the others are never counted by it
    layer.clear();
    layer.push_back('0');  // the layer of an entity that names none
    paper = false;
    flags = follows = 0;
    x.clear();
    y.clear();
    z.clear();
    elevation.clear();
    bulged = false;
    has_z = false;
    extrusion[0] = extrusion[1] = 0;
    extrusion[2] = 1;
    point = nullptr;
  }
};

// The polyline being written, or passed over, between its POLYLINE and its SEQEND.
struct Converter::Pending {
  enum class Stage { kNone, kWritten, kSkipped, kAttributes } stage = Stage::kNone;
  bool closed = false, has_elevation = false;
  Coordinate elevation;
  Ocs ocs;
  std::string layer;
  std::uint64_t vertices = 0;
  bool last_bulged = false;
  bool named = false;            // on HA_6292 as the layer named with --layer
  std::size_t listed = 0;        // its layer in the report's list, or kUnlisted
  std::string header;            // the POLYLINE's lines
  std::string vertex_lines;      // a vertex's lines, up to its x
  std::size_t vertex_start = 0;  // where its x begins
};

// A HATCH being read. Its codes mean what their place says: before its group
// code 91 the entity's own (30 its elevation, 210 to 230 its extrusion);
// then its boundary paths, each from its 92, as long as their codes go on;
// after them its pattern and seed points, none of which is taken.
struct Converter::Hatch {
  enum class Part { kHead, kPaths, kTail } part = Part::kHead;
  std::uint64_t paths_line = 0;  // of its group code 91
  bool any_path = false;
  // The path being read.
  bool in_path = false, polyline = false, closed = false;
  bool spline = false, ellipse = false, sourced = false;  // left out for these
  // An edge path: the edge being read (1 line, 2 circular arc, 3 elliptic
  // arc, 4 spline; 0 before the first), then the ends of those before.
  std::int32_t edge = 0;
  Coordinate ax, ay, bx, by;  // a line's start and end; an arc's centre in ax, ay
  double radius = 1, from = 0, to = 360;
  bool ccw = true;
  struct End {
    Coordinate x, y;
    bool given = false;  // as the drawing gives it, not worked out from an arc

    // One point: within a billionth of their size, as an arc's worked-out
    // end meets the line after it.
    bool meets(const End& other) const {
      const double within = 1e-9 * std::max({1.0, std::abs(x.value), std::abs(y.value),
                                             std::abs(other.x.value), std::abs(other.y.value)});
      return std::abs(x.value - other.x.value) <= within &&
             std::abs(y.value - other.y.value) <= within;
    }
  };
  std::uint64_t edges = 0;
  End first, last;  // the first edge's start, the last one's end
  bool first_arc = false;

  void start_path(bool is_polyline) {
    in_path = any_path = true;
    polyline = is_polyline;
    closed = !is_polyline;  // an edge path is a loop; a polyline path says
    spline = ellipse = sourced = false;
    edge = 0;
    edges = 0;
  }
  void start_edge(std::int32_t type) {
    edge = type;
    ax.clear();
    ay.clear();
    bx.clear();
    by.clear();
    radius = 1;  // as ezdxf reads an arc that lacks them
    from = 0;
    to = 360;
    ccw = true;
    spline = spline || type == 4;
    ellipse = ellipse || type == 3;
  }
};

namespace {

enum class Section { kNone, kNaming, kHeader, kTables, kEntities, kOther };

}  // namespace

// The state of a reading, outside the entities.
struct Converter::Reading {
  Section section = Section::kNone;
  std::string section_name;
  std::string variable, acadver, codepage;
  double own[6] = {};
  bool own_set[6] = {};
  bool own_bad = false;
  Extents own_extents;  // written first in the header where usable, kept if they enclose the vertices
  bool entities_reached = false;
  bool eof = false;
  bool encoding_known = false;
  TextEncoding encoding;
  std::string table_entry;  // in the TABLES section: the kind of the entry read
  LayerNaming naming{std::nullopt};
  struct Written {
    std::string bytes;   // the name as the converted file holds it
    bool named = false;  // on HA_6292 as the layer named with --layer
    std::size_t listed;  // where the report lists it, or kUnlisted
  };
  // The names of the first layers, by their names as stored, so that their
  // polylines need not decode them again (`naming` keeps every layer's).
  static constexpr std::size_t kNames = 4096;
  std::map<std::string, Written> names;
};

Converter::Converter(GroupSource& in, const ConvertOptions& options)
    : in_(in),
      options_(options),
      entity_(std::make_unique<Entity>()),
      held_(std::make_unique<Held>(options)),
      hatch_(std::make_unique<Hatch>()),
      polyline_(std::make_unique<Pending>()) {}

Converter::~Converter() = default;

const Fault& Converter::fault() const { return fault_ ? fault_ : in_.fault(); }

void Converter::fail(std::uint64_t line, std::string what) {
  if (!fault_) fault_ = Fault{line, std::move(what)};
}

bool Converter::number(const Group& group, double& value, bool* shortest) {
  if (!parse_number(group.value, value, shortest)) {
    fail(group.value_line(), "expected a number for the group code " + std::to_string(group.code) +
                             ", found " + shown(group.value));
    return false;
  }
  if (!std::isfinite(value)) {
    const std::string_view text = trimmed(group.value);
    const char lead = text.size() > 1 && (text[0] == '-' || text[0] == '+') ? text[1] : text[0];
    const bool decimal = (lead >= '0' && lead <= '9') || lead == '.';
    fail(group.value_line(), "the group code " + std::to_string(group.code) + " holds " + shown(text) +
                             (decimal ? ", which lies beyond the range of a double"
                                      : ", which is not a finite number"));
    return false;
  }
  return true;
}

bool Converter::coordinate(const Group& group, Coordinate& value) {
  double v;
  bool shortest;
  if (!number(group, v, &shortest)) return false;
  value.read(trimmed(group.value), v, shortest);
  return true;
}

bool Converter::integer(const Group& group, std::int32_t& value) {
  std::string_view text = trimmed(group.value);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
    fail(group.value_line(), "expected an integer for the group code " + std::to_string(group.code) +
                             ", found " + shown(group.value));
    return false;
  }
  return true;
}

bool Converter::run(LineWriter& out) {
  out_ = &out;
  reading_ = std::make_unique<Reading>();
  Reading& s = *reading_;
  s.naming = LayerNaming(options_.layer);
  Group group;
  while (!s.eof && !fault_ && in_.next(group)) {
    if (group.code == 999) continue;  // a comment, anywhere
    if (group.code == 0) {
      if (s.section == Section::kEntities) entity_end();
      const std::string_view type = trimmed(group.value);
      if (s.section == Section::kNaming) {
        fail(group.line,
             "expected the name of the section (group code 2) after SECTION, found " + shown(type));
      } else if (type == "ENDSEC" && s.section != Section::kNone) {
        if (s.section == Section::kEntities) end_polyline();
        s.section = Section::kNone;
      } else if (type == "SECTION" || type == "EOF") {
        if (s.section != Section::kNone) {
          fail(group.value_line(), "the " + shown_word(s.section_name) +
                                   " section has no ENDSEC before this " + std::string(type));
        }
        s.eof = type == "EOF";
        s.section = s.eof ? Section::kNone : Section::kNaming;
      } else if (s.section == Section::kEntities) {
        entity_start(group);
      } else if (s.section == Section::kTables) {
        s.table_entry.assign(type);
      } else if (s.section == Section::kNone) {
        fail(group.value_line(), "expected SECTION or EOF, found " + shown(type));
      }
      continue;
    }
    switch (s.section) {
      case Section::kNaming:
        if (group.code != 2) {
          fail(group.line,
               "expected the name of the section (group code 2) after SECTION, found "
               "the group code " +
                   std::to_string(group.code));
          break;
        }
        s.section_name.assign(trimmed(group.value));
        s.section = s.section_name == "HEADER"     ? Section::kHeader
                    : s.section_name == "TABLES"   ? Section::kTables
                    : s.section_name == "ENTITIES" ? Section::kEntities
                                                   : Section::kOther;
        s.table_entry.clear();
        if (s.section == Section::kEntities) reach_entities();
        break;
      case Section::kHeader:
        header_group(group);
        break;
      case Section::kTables:
        // A layer's name in the LAYER table: no other layer is given it.
        if (s.table_entry == "LAYER" && group.code == 2 && group.value.size() <= kLongestName) {
          s.naming.reserve(decode_name(group.value, encoding()), group.value);
        }
        break;
      case Section::kEntities:
        entity_group(group);
        break;
      case Section::kNone:
        fail(group.line, "expected the group code 0 of SECTION or EOF, found the group code " +
                             std::to_string(group.code));
        break;
      case Section::kOther:
        break;
    }
  }
  if (fault_ || in_.fault() || in_.error() != 0) return false;
  if (!s.eof && s.section == Section::kNone && !s.entities_reached) {
    fail(in_.line(), in_.line() == 1 ? std::string("the file is empty")
                                     : "the drawing ends before its ENTITIES section, without EOF: "
                                       "it may have been cut short");
    return false;
  }
  if (!s.eof && s.section != Section::kNone) {
    fail(in_.line(),
         "the drawing ends inside its " +
             (s.section == Section::kNaming ? std::string("last") : shown_word(s.section_name)) +
             " section, without ENDSEC and EOF: it may have been cut short");
    return false;
  }
  reach_entities();
  out_->text("  0\r\nENDSEC\r\n  0\r\nEOF");
  end_extents();
  return true;
}

void Converter::header_group(const Group& group) {
  Reading& s = *reading_;
  if (group.code == 9) {
    s.variable.assign(trimmed(group.value));
    return;
  }
  if (s.variable == "$ACADVER" && group.code == 1) {
    s.acadver.assign(trimmed(group.value));
  } else if (s.variable == "$DWGCODEPAGE" && group.code == 3) {
    s.codepage.assign(trimmed(group.value));
  } else if ((s.variable == "$EXTMIN" || s.variable == "$EXTMAX") &&
             (group.code == 10 || group.code == 20 || group.code == 30)) {
    const int index = (s.variable == "$EXTMAX" ? 3 : 0) + group.code / 10 - 1;
    // Extents that cannot be read are computed instead.
    if (!parse_number(group.value, s.own[index])) s.own_bad = true;
    s.own_set[index] = true;
  }
}

void Converter::reach_entities() {
  Reading& s = *reading_;
  if (s.entities_reached) return;
  s.entities_reached = true;
  const double* v = s.own;
  const bool plots = options_.kind == DrawingKind::kPlots;
  using NotOwn = ConvertReport::NotOwn;
  NotOwn why = NotOwn::kNone;
  if (!s.own_bad && !s.own_set[0] && !s.own_set[1] && !s.own_set[3] && !s.own_set[4]) {
    why = NotOwn::kAbsent;
  } else if (s.own_bad || !s.own_set[0] || !s.own_set[1] || !s.own_set[3] || !s.own_set[4] ||
             !std::all_of(v, v + 6, [](double d) { return std::isfinite(d); })) {
    why = NotOwn::kUnreadable;
  } else if (v[0] > v[3] || v[1] > v[4] || (!plots && v[2] > v[5])) {
    why = NotOwn::kDisordered;  // an empty drawing's: +1e20 to -1e20
  } else if (std::any_of(v, v + (plots ? 2 : 6), [](double d) { return std::abs(d) >= 1e20; }) ||
             (plots && (std::abs(v[3]) >= 1e20 || std::abs(v[4]) >= 1e20))) {
    why = NotOwn::kBeyond;
  }
  Extents extents;  // zeros for extents that are made of the vertices at the end
  if (why == NotOwn::kNone) {
    extents = Extents{v[0], v[1], plots ? 0.0 : v[2], v[3], v[4], plots ? 0.0 : v[5]};
  }
  s.own_extents = extents;
  report_.not_own = why;
  header_ = converted_header(extents);
  out_->text(std::string_view(header_).substr(0, header_.size() - 2));
}

void Converter::end_extents() {
  Reading& s = *reading_;
  const Extents& o = s.own_extents;
  const Extents& v = report_.extents;
  // Compared as doubles, z included (0 for ha).
  const bool enclosing = report_.vertices == 0 ||
                         (o.min_x <= v.min_x && o.min_y <= v.min_y && o.min_alt <= v.min_alt &&
                          v.max_x <= o.max_x && v.max_y <= o.max_y && v.max_alt <= o.max_alt);
  if (report_.not_own == ConvertReport::NotOwn::kNone) {  // the drawing's own, usable
    if (enclosing) return;
    report_.not_own = ConvertReport::NotOwn::kApart;
    report_.own = o;
  }
  out_->replace_front(header_.size(), converted_header(v));
}

void Converter::entity_start(const Group& group) {
  const std::string_view type = trimmed(group.value);
  Pending& p = *polyline_;
  using Kind = Entity::Kind;
  if (p.stage == Pending::Stage::kWritten || p.stage == Pending::Stage::kSkipped) {
    if (type == "VERTEX") return entity_->start(Kind::kVertex, type, group.line);
    const bool seqend = type == "SEQEND";
    end_polyline();  // without its SEQEND, a polyline ends at the next entity
    if (seqend) return entity_->start(Kind::kSkipped, {}, group.line);
  } else if (p.stage == Pending::Stage::kAttributes) {
    if (type == "ATTRIB") return entity_->start(Kind::kSkipped, {}, group.line);
    p.stage = Pending::Stage::kNone;
    if (type == "SEQEND") return entity_->start(Kind::kSkipped, {}, group.line);
  }
  const Kind kind = type == "POLYLINE"     ? Kind::kPolyline
                    : type == "LWPOLYLINE" ? Kind::kLwpolyline
                    : type == "HATCH"      ? Kind::kHatch
                    : type == "INSERT"     ? Kind::kInsert
                                           : Kind::kSkipped;
  entity_->start(kind, type, group.line);
  if (kind == Kind::kHatch) *hatch_ = Hatch();
}

void Converter::name_too_long(const Group& group) {
  fail(group.value_line(), "a layer name of " + std::to_string(group.value.size()) +
                           " bytes: no CAD program writes one longer than " +
                           std::to_string(kLongestName));
}

bool Converter::layer_or_space(const Group& group) {
  Entity& e = *entity_;
  if (group.code == 8) {
    if (group.value.size() > kLongestName) {
      name_too_long(group);
    } else {
      e.layer.assign(group.value);
    }
    return true;
  }
  if (group.code == 67) {
    std::int32_t space = 0;
    if (integer(group, space)) e.paper = space == 1;
    return true;
  }
  return false;
}

void Converter::entity_group(const Group& group) {
  Entity& e = *entity_;
  if (e.kind == Entity::Kind::kSkipped) return;
  if (e.kind == Entity::Kind::kHatch) return hatch_group(group);
  switch (group.code) {
    case 8:
    case 67:
      layer_or_space(group);
      break;
    case 66:
      integer(group, e.follows);
      break;
    case 70:
      integer(group, e.flags);
      break;
    case 10:
      if (e.kind == Entity::Kind::kLwpolyline) {
        held_vertex(group);
      } else {
        coordinate(group, e.x);
      }
      break;
    case 20:
      if (e.kind == Entity::Kind::kLwpolyline) {
        held_vertex(group);
      } else {
        coordinate(group, e.y);
      }
      break;
    case 30:
      e.has_z = coordinate(group, e.z);
      break;
    case 38:
      coordinate(group, e.elevation);
      break;
    case 42: {
      double bulge = 0;
      if (e.kind == Entity::Kind::kLwpolyline) {
        held_vertex(group);
      } else if (number(group, bulge)) {
        e.bulged = bulge != 0;
      }
      break;
    }
    case 210:
    case 220:
    case 230:
      number(group, e.extrusion[group.code / 10 - 21]);
      break;
    default:
      break;
  }
}

void Converter::entity_end() {
  Entity& e = *entity_;
  switch (e.kind) {
    case Entity::Kind::kPolyline:
      write_polyline();
      break;
    case Entity::Kind::kVertex:
      if (polyline_->stage != Pending::Stage::kWritten) break;
      if (e.flags & 16) {
        ++report_.frame_points;  // the frame of a fitted curve, not a point of it
      } else {
        write_vertex(e.x, e.y, e.z, e.bulged);
      }
      break;
    case Entity::Kind::kLwpolyline:
      write_lwpolyline();
      break;
    case Entity::Kind::kHatch:
      if (hatch_->part == Hatch::Part::kPaths) end_path();
      if (!hatch_->any_path)
        leave_out(e.paper ? "HATCH in paper space" : "HATCH without boundary paths");
      break;
    case Entity::Kind::kInsert:
      leave_out("INSERT");
      if (e.follows == 1) polyline_->stage = Pending::Stage::kAttributes;
      break;
    case Entity::Kind::kSkipped:
      if (!e.type.empty()) leave_out(shown_word(e.type));
      break;
  }
  // Until the next entity starts, nothing is read into this one.
  e.kind = Entity::Kind::kSkipped;
  e.type.clear();
}

void Converter::leave_out(const std::string& kind) {
  auto found = report_.left_out.find(kind);
  if (found != report_.left_out.end()) {
    ++found->second;
  } else if (report_.left_out.size() < 64) {
    report_.left_out.emplace(kind, 1);
  } else {
    ++report_.left_out["other entities"];
  }
}

std::size_t Converter::note_layer(const std::string& name) {
  for (std::size_t i = 0; i < report_.layers.size(); ++i) {
    if (report_.layers[i].name == name) return i;
  }
  if (report_.layers.size() < kListed) {
    report_.layers.push_back({name, 0});
    return report_.layers.size() - 1;
  }
  report_.more_layers = true;
  return kUnlisted;
}

const TextEncoding& Converter::encoding() {
  Reading& s = *reading_;
  if (!s.encoding_known) {
    s.encoding = text_encoding(s.acadver, s.codepage);
    s.encoding_known = true;
    if (!s.encoding.utf8 && !s.encoding.known_code_page()) {
      report_.unknown_code_page = s.encoding.code_page;
    }
  }
  return s.encoding;
}

std::string Converter::layer_of_polyline(const std::string& stored, bool& named,
                                         std::size_t& listed) {
  Reading& s = *reading_;
  auto cached = s.names.find(stored);
  if (cached != s.names.end()) {
    named = cached->second.named;
    listed = cached->second.listed;
    return cached->second.bytes;
  }
  const std::string name = decode_name(stored, encoding());
  const LayerNaming::Name given = s.naming.name_of(name, stored);
  named = given.kept;
  listed = note_layer(name);
  if (given.first) {
    // Said once a layer, the first ones by name.
    if (!given.kept && given.written != name) {
      if (report_.renamed.size() < kListed) {
        report_.renamed.push_back({name, given.written, given.taken});
      } else {
        ++report_.more_renamed;
      }
    }
  }
  std::string written = windows_1252(given.written);
  if (s.names.size() < Reading::kNames)
    s.names.emplace(stored, Reading::Written{written, named, listed});
  return written;
}

bool Converter::begin_polyline(const PolylineStart& start) {
  Pending& p = *polyline_;
  p.stage = Pending::Stage::kSkipped;
  if (start.paper) {
    leave_out(std::string(start.type) + " in paper space");
    return false;
  }
  p.stage = Pending::Stage::kWritten;
  p.closed = start.closed;
  p.has_elevation = start.elevation != nullptr;
  if (p.has_elevation) p.elevation = *start.elevation;
  p.ocs = Ocs(start.extrusion);
  p.vertices = 0;
  p.last_bulged = false;
  p.layer = layer_of_polyline(start.layer, p.named, p.listed);
  // The polyline's lines wait for its first vertex: one without any is left out.
  const bool contours = options_.kind == DrawingKind::kContours;
  p.header = "  0\r\nPOLYLINE\r\n  8\r\n" + p.layer + "\r\n  6\r\nBYLAYER\r\n 66\r\n     1\r\n 70";
  if (contours) {
    p.header += p.closed ? "\r\n     9\r\n 62\r\n   256" : "\r\n     8\r\n 62\r\n   256";
  } else {
    p.header += p.closed ? "\r\n     1" : "\r\n     0";
  }
  p.vertex_lines = "  0\r\nVERTEX\r\n  8\r\n" + p.layer +
                   (contours ? "\r\n 70\r\n    32\r\n 10\r\n" : "\r\n 70\r\n     0\r\n 10\r\n");
  p.vertex_start = p.vertex_lines.size();
  return true;
}

void Converter::write_polyline() {
  const Entity& e = *entity_;
  const char* mesh = (e.flags & 64) ? "polyface mesh" : (e.flags & 16) ? "polygon mesh" : nullptr;
  if (mesh != nullptr && !e.paper) {
    polyline_->stage = Pending::Stage::kSkipped;  // and its vertices with it
    return leave_out(mesh);
  }
  // A 3D polyline's vertices are in world coordinates, each at its own z;
  // a 2D one's at its elevation, when it gives one, in the system of its extrusion.
  const bool three_d = (e.flags & 8) != 0;
  begin_polyline({"POLYLINE", e.layer, e.paper, (e.flags & 1) != 0,
                  !three_d && e.has_z ? &e.z : nullptr, three_d ? nullptr : e.extrusion});
}

void Converter::beyond_a_double() {
  const Entity& e = *entity_;
  fail(e.line, e.kind == Entity::Kind::kVertex
                   ? "the world coordinates of this VERTEX lie beyond the range of a double"
                   : "the world coordinates of a vertex of this " + e.name() +
                         " lie beyond the range of a double");
}

bool Converter::write_vertex(Coordinate x, Coordinate y, Coordinate z, bool bulged) {
  Pending& p = *polyline_;
  if (p.has_elevation) z = p.elevation;  // every vertex of a 2D polyline lies at its elevation
  if (p.ocs.transform) {
    double wx = x.value, wy = y.value, wz = z.value;
    p.ocs.to_world(wx, wy, wz);
    x = wx;
    y = wy;
    z = wz;
  }
  const bool contours = options_.kind == DrawingKind::kContours;
  if (!contours) z = Coordinate();
  if (!std::isfinite(x.value) || !std::isfinite(y.value) || !std::isfinite(z.value)) {
    beyond_a_double();  // an elevation, an extrusion or an arc took it there
    return false;
  }
  if (p.vertices == 0) {  // the polyline is written with its first vertex
    ++report_.polylines;
    if (p.layer == CURVE) ++report_.kept;
    if (p.named) ++report_.from_layer;
    if (p.listed != kUnlisted) ++report_.layers[p.listed].polylines;
    out_->text(p.header);
  }
  if (p.vertices > 0 && p.last_bulged) ++report_.bulged_segments;
  p.last_bulged = bulged;
  ++p.vertices;
  Extents& e = report_.extents;
  if (report_.vertices++ == 0) {
    e = Extents{x.value, y.value, z.value, x.value, y.value, z.value};
  } else {
    e.min_x = std::min(e.min_x, x.value);
    e.max_x = std::max(e.max_x, x.value);
    e.min_y = std::min(e.min_y, y.value);
    e.max_y = std::max(e.max_y, y.value);
    e.min_alt = std::min(e.min_alt, z.value);
    e.max_alt = std::max(e.max_alt, z.value);
  }
  // The vertex's lines made here, then written at once.
  std::string& lines = p.vertex_lines;
  lines.resize(p.vertex_start);
  x.append_to(lines);
  lines += "\r\n 20\r\n";
  y.append_to(lines);
  if (contours) {
    lines += "\r\n 30\r\n";
    z.append_to(lines);
  }
  out_->text(lines);
  return true;
}

void Converter::end_polyline() {
  Pending& p = *polyline_;
  if (p.stage == Pending::Stage::kWritten && p.vertices == 0) {
    leave_out("polyline without vertices");  // which readers would not all show
  } else if (p.stage == Pending::Stage::kWritten) {
    if (p.closed && p.last_bulged) ++report_.bulged_segments;  // a whole circle's one vertex too
    out_->text("  0\r\nSEQEND\r\n  8");
    out_->text(p.layer);
  }
  p.stage = Pending::Stage::kNone;
}

void Converter::cannot_hold(int error) {
  fail(entity_->line, "cannot hold the vertices of this " + entity_->name() +
                          " in a temporary file: " + std::strerror(error));
}

void Converter::write_held(const PolylineStart& start) {
  if (holding(held_->flush()) && begin_polyline(start)) {
    const int error = held_->each([this](const Held::Point& point) {
      return write_vertex(point.x, point.y, Coordinate(), point.bulged);
    });
    if (error != 0) {
      fail(entity_->line, "cannot read back the vertices of this " + entity_->name() +
                              " from a temporary file: " + std::strerror(error));
    }
    if (!fault_) end_polyline();
  }
  held_->clear();
}

void Converter::write_lwpolyline() {
  Entity& e = *entity_;
  // Written as the POLYLINE of the same shape: a 2D one at its elevation.
  write_held({"LWPOLYLINE", e.layer, e.paper, (e.flags & 1) != 0, &e.elevation, e.extrusion});
}

void Converter::hatch_group(const Group& group) {
  Entity& e = *entity_;
  Hatch& h = *hatch_;
  if (h.part == Hatch::Part::kPaths) {
    if (path_code(group.code)) return path_group(group);
    end_path();
    h.part = Hatch::Part::kTail;
  }
  if (h.part == Hatch::Part::kTail) {
    // What the paths were written with cannot change after them.
    if (group.code == 8 || group.code == 67 || (group.code >= 210 && group.code <= 230)) {
      fail(group.line, "the group code " + std::to_string(group.code) +
                           " of this HATCH comes after its boundary paths (group code 91 at "
                           "line " +
                           std::to_string(h.paths_line) + "): it belongs before them");
    }
    return;
  }
  if (layer_or_space(group)) return;
  switch (group.code) {
    case 30:  // of its elevation point, whose x and y are 0
      coordinate(group, e.elevation);
      break;
    case 210:
    case 220:
    case 230:
      number(group, e.extrusion[group.code / 10 - 21]);
      break;
    case 91:
      h.part = Hatch::Part::kPaths;
      h.paths_line = group.line;
      if (e.paper) {
        leave_out("HATCH in paper space");
        e.kind = Entity::Kind::kSkipped;  // and its paths are not read
      }
      break;
    default:
      break;
  }
}

void Converter::path_group(const Group& group) {
  Hatch& h = *hatch_;
  std::int32_t value = 0;
  if (group.code == 92) {
    end_path();
    if (integer(group, value)) {
      h.start_path((value & 2) != 0);
      entity_->point = nullptr;
    }
    return;
  }
  if (!h.in_path) {
    return fail(group.line,
                "expected a boundary path (group code 92) after the group code 91 of this HATCH, "
                "found the group code " +
                    std::to_string(group.code));
  }
  if (h.polyline) {
    switch (group.code) {
      case 10:
      case 20:
      case 42:
        held_vertex(group);
        break;
      case 73:
        if (integer(group, value)) h.closed = value != 0;
        break;
      case 97:
        if (integer(group, value)) h.sourced = value > 0;
        break;
      default:  // 72 (bulges or not), 93 (vertex count), 330 (the sources)
        break;
    }
    return;
  }
  if (group.code == 72) {
    end_edge();
    if (!integer(group, value)) return;
    if (value < 1 || value > 4) {
      return fail(group.value_line(), "a HATCH edge of type " + std::to_string(value) +
                                      ": expected 1 (line), 2 (circular arc), 3 (elliptic arc) "
                                      "or 4 (spline)");
    }
    return h.start_edge(value);
  }
  if (group.code == 93 || group.code == 330) return;  // the edge count, the sources
  if (group.code == 97 && h.edge != 4) {              // in a spline, its fit points
    if (integer(group, value)) h.sourced = value > 0;
    return;
  }
  if (h.edge == 0) {
    return fail(group.line,
                "expected an edge (group code 72) in this HATCH's boundary path, found the group "
                "code " +
                    std::to_string(group.code));
  }
  if (h.edge == 1 || h.edge == 2) {
    switch (group.code) {
      case 10:
        coordinate(group, h.ax);
        break;
      case 20:
        coordinate(group, h.ay);
        break;
      case 11:
        if (h.edge == 1) coordinate(group, h.bx);
        break;
      case 21:
        if (h.edge == 1) coordinate(group, h.by);
        break;
      case 40:
        if (h.edge == 2) number(group, h.radius);
        break;
      case 50:
        if (h.edge == 2) number(group, h.from);
        break;
      case 51:
        if (h.edge == 2) number(group, h.to);
        break;
      case 73:
        if (h.edge == 2 && integer(group, value)) h.ccw = value != 0;
        break;
      default:
        break;
    }
  }
}

void Converter::end_edge() {
  Hatch& h = *hatch_;
  const bool arc = h.edge == 2;
  if (h.edge == 0 || h.spline || h.ellipse) return;  // a path left out holds nothing more
  h.edge = 0;
  Hatch::End start{h.ax, h.ay, true}, end{h.bx, h.by, true};
  if (arc) {
    // A clockwise arc's angles are kept as their complements: it runs from
    // -from to -to.
    const double sign = h.ccw ? 1 : -1;
    double x, y;
    on_circle(h.ax.value, h.ay.value, h.radius, sign * h.from, x, y);
    start = {Coordinate(), Coordinate(), false};
    start.x = x;
    start.y = y;
    on_circle(h.ax.value, h.ay.value, h.radius, sign * h.to, x, y);
    end = {Coordinate(), Coordinate(), false};
    end.x = x;
    end.y = y;
    // An end beyond a double would meet any point: refused, not joined.
    for (const double v : {start.x.value, start.y.value, end.x.value, end.y.value}) {
      if (!std::isfinite(v)) return beyond_a_double();
    }
  }
  if (h.edges++ == 0) {  // held once the next edge tells which way it runs
    h.first = start;
    h.last = end;
    h.first_arc = arc;
    return;
  }
  // An edge written the other way round, as ezdxf joins them: the first
  // one when only its start meets the second, any other when only its end
  // meets the one before.
  if (h.edges == 2) {
    if (!h.last.meets(start) && !h.last.meets(end) &&
        (h.first.meets(start) || h.first.meets(end))) {
      std::swap(h.first, h.last);
    }
    if (!hold_end(h.first.x, h.first.y, h.first_arc)) return;
  }
  if (!h.last.meets(start) && h.last.meets(end)) std::swap(start, end);
  // Where an edge meets the one before, one vertex: as the drawing gives it
  // if it does. An arc is written as its chord, from the vertex where it starts.
  if (h.last.meets(start)) {
    const Hatch::End& at = start.given || !h.last.given ? start : h.last;
    hold_end(at.x, at.y, arc);
  } else if (hold_end(h.last.x, h.last.y, false)) {
    hold_end(start.x, start.y, arc);
  }
  h.last = end;
}

void Converter::held_vertex(const Group& group) {
  Held::Point*& point = entity_->point;
  int error = 0;
  switch (group.code) {
    case 10:
      point = held_->next(error);
      if (holding(error)) coordinate(group, point->x);
      break;
    case 20:
      if (point == nullptr) point = held_->next(error);
      if (holding(error)) coordinate(group, point->y);
      break;
    case 42: {
      double bulge = 0;
      if (point != nullptr && number(group, bulge)) point->bulged = bulge != 0;
      break;
    }
    default:
      break;
  }
}

bool Converter::hold_end(const Coordinate& x, const Coordinate& y, bool bulged) {
  return holding(held_->add({x, y, bulged}));
}

void Converter::end_path() {
  Hatch& h = *hatch_;
  if (!h.in_path) return;
  h.in_path = false;
  if (!h.polyline) {
    end_edge();
    if (h.edges == 1) hold_end(h.first.x, h.first.y, h.first_arc);
    if (h.edges > 0 && !h.last.meets(h.first)) hold_end(h.last.x, h.last.y, false);
  }
  const char* left = h.spline    ? "HATCH path with a spline edge"
                     : h.sourced ? "associative HATCH path"
                     : h.ellipse ? "HATCH path with an ellipse edge"
                                 : nullptr;
  if (fault_ || left != nullptr) {
    if (!fault_) leave_out(left);
    held_->clear();
    return;
  }
  const Entity& e = *entity_;
  write_held({"HATCH", e.layer, false, h.closed, &e.elevation, e.extrusion});
}

namespace {

std::string plural(std::uint64_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Whose the header's extents are, and why.
std::string extents_said(const ConvertReport& r, bool contours) {
  using NotOwn = ConvertReport::NotOwn;
  std::string why = "of the vertices written: ";
  switch (r.not_own) {
    case NotOwn::kNone:
      return "the drawing's own";
    case NotOwn::kAbsent:
      return why + "the drawing has none of its own";
    case NotOwn::kUnreadable:
      return why + "the drawing's own are incomplete or not numbers";
    case NotOwn::kDisordered:
      return why + "the drawing's own have a minimum above their maximum";
    case NotOwn::kBeyond:
      return why + "the drawing's own lie beyond 1e20";
    case NotOwn::kApart:
      break;
  }
  const Extents& e = r.own;
  auto span = [](const char* axis, double from, double to) {
    return std::string(axis) + " " + std::string(Number(from).view()) + " to " +
           std::string(Number(to).view());
  };
  return why + "the drawing's own (" + span("x", e.min_x, e.max_x) + ", " +
         span("y", e.min_y, e.max_y) + (contours ? ", " + span("z", e.min_alt, e.max_alt) : "") +
         ") do not enclose them";
}

}  // namespace

std::string gives_the_merge_nothing(const ConvertReport& report,
                                    const std::optional<std::string>& layer) {
  std::string layers;
  for (const ConvertReport::Layer& held : report.layers) {
    if (held.polylines == 0) continue;  // its polylines had no vertex: none was written
    layers += (layers.empty() ? "" : ", ") + in_quotes(held.name) + " (" +
              std::to_string(held.polylines) + ")";
  }
  if (report.more_layers) layers += ", and more";
  if (layer) {
    return "no polyline of its model space is on layer " + in_quotes(*layer) +
           (layers.empty() ? std::string(": it has none") : "; its polylines are on " + layers);
  }
  return "none of its polylines is on layer HA_6292, the only layer the merge keeps" +
         (layers.empty() ? std::string(": it has none")
                         : "; they are on " + layers + ": name the layer to keep with --layer NAME");
}

std::string summary(const ConvertReport& r, const ConvertOptions& options, const std::string& input,
                    const std::string& output) {
  const bool contours = options.kind == DrawingKind::kContours;
  // Without an output, the drawing is converted for the merge that runs now.
  std::string text = input + (output.empty() ? " converted" : " converted into " + output) +
                     ", the " + (contours ? "first drawing (cn)" : "second drawing (ha)") +
                     (output.empty() ? " of this merge\n" : " of a merge\n");
  text += "  written: " + plural(r.polylines, "polyline", "polylines") + ", " +
          plural(r.vertices, "vertex", "vertices") + "\n";
  std::string left;
  for (const auto& [kind, count] : r.left_out) {
    left += (left.empty() ? "" : ", ") + std::to_string(count) + " " + kind;
    if (kind == "INSERT") left += " (blocks are not expanded)";
  }
  if (r.frame_points > 0) {
    left += (left.empty() ? "" : ", ") +
            plural(r.frame_points, "frame control point", "frame control points");
  }
  if (!left.empty()) text += "  left out: " + left + "\n";
  if (r.bulged_segments > 0) {
    text += "  arcs: " + plural(r.bulged_segments, "bulged segment", "bulged segments") +
            " written as straight\n";
  }
  if (!r.unknown_code_page.empty()) {
    text += "  code page: " + in_quotes(r.unknown_code_page) +
            " is none that DXF names: names read as Windows-1252\n";
  }
  if (!r.renamed.empty()) {
    std::string names;
    for (const ConvertReport::Renaming& renaming : r.renamed) {
      names += (names.empty() ? "" : ", ") + in_quotes(renaming.layer) + " as " +
               in_quotes(renaming.written);
      if (renaming.taken.empty()) continue;
      if (same_layer(renaming.taken, CURVE)) {
        names += " (HA_6292 holds layer " + in_quotes(options.layer.value_or(CURVE)) + " alone)";
      } else {
        names += " (" + in_quotes(renaming.taken) + " is another layer's name)";
      }
    }
    if (r.more_renamed > 0) names += ", and " + std::to_string(r.more_renamed) + " more";
    text += "  layers renamed: " + names + "\n";
  }
  text += "  extents: " + extents_said(r, contours) + "\n";
  if (!contours) {
    if (r.kept > 0) {
      text += "  on layer HA_6292, the only layer the merge keeps: " +
              (options.layer ? "the " + plural(r.kept, "polyline", "polylines") + " of layer " +
                                   in_quotes(*options.layer)
                             : plural(r.kept, "polyline", "polylines")) +
              "\n";
    }
  }
  return text;
}

}  // namespace quorvane
