#include "preview.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>
#include <vector>

#include "converter.h"
#include "keywords.h"

namespace quorvane {

namespace {

constexpr int kMargin = 20;        // pixels around the drawing
constexpr int kBand = 96;          // pixels below it: caption, scale bar, legend
constexpr int kPointsPerPixel = 200;  // of the picture's width: its budget of points
constexpr double kTenths = 10;     // the picture's coordinates are in tenths of a pixel

// One polyline as a drawing gives it, pair by pair: its layer, whether it is
// closed, and its vertices.
class Polylines {
 public:
  struct Visit {
    virtual ~Visit() = default;
    virtual void extent(bool max, int axis, double value) = 0;
    virtual void begin(std::string_view layer, bool closed) = 0;
    virtual void vertex(double x, double y, double z) = 0;
    virtual void end() = 0;
  };

  // Reads every pair; false at a fault or a failed read.
  static bool walk(GroupSource& in, Visit& visit, Fault& fault) {
    Polylines p(visit);
    Group group;
    while (in.next(group)) {
      if (!p.pair(group, fault)) return false;
    }
    p.entity_end();
    p.polyline_end();
    if (in.fault()) fault = in.fault();
    return !in.fault() && in.error() == 0;
  }

 private:
  enum class Kind { kNone, kPolyline, kVertex, kLwpolyline, kOther };

  explicit Polylines(Visit& visit) : visit_(visit) {}

  bool number(const Group& group, double& value, Fault& fault) {
    if (parse_number(group.value, value)) return true;  // beyond a double: an infinity, or 0
    fault = Fault{group.value_line(), "expected a number for the group code " +
                                          std::to_string(group.code) + ", found " +
                                          shown(group.value)};
    return false;
  }

  bool pair(const Group& group, Fault& fault) {
    if (group.code == 0) {
      entity_end();
      const std::string_view type = trimmed(group.value);
      if (type == "SECTION") section_ = "?";
      if (type == "ENDSEC") {
        polyline_end();
        section_.clear();
      }
      // Entities outside any section are read too, as the merge reads them.
      kind_ = section_ != "ENTITIES" && !section_.empty() ? Kind::kNone
              : type == "POLYLINE"    ? Kind::kPolyline
              : type == "VERTEX"      ? Kind::kVertex
              : type == "LWPOLYLINE"  ? Kind::kLwpolyline
                                      : Kind::kOther;
      if (kind_ == Kind::kOther || kind_ == Kind::kPolyline || kind_ == Kind::kLwpolyline) {
        polyline_end();  // a polyline ends at its SEQEND, or at the next entity
      }
      layer_.assign(1, '0');  // the layer of an entity that names none
      closed_ = false;
      has_ = 0;
      z_ = 0;
      return true;
    }
    if (section_ == "?") {
      if (group.code == 2) section_ = trimmed(group.value);
      return true;
    }
    if (section_ == "HEADER") {
      if (group.code == 9) {
        variable_ = trimmed(group.value);
      } else if ((variable_ == EXTMIN || variable_ == EXTMAX) &&
                 (group.code == 10 || group.code == 20 || group.code == 30)) {
        double value;  // extents that cannot be read only frame nothing
        Fault ignored;
        if (number(group, value, ignored)) visit_.extent(variable_ == EXTMAX, group.code / 10 - 1, value);
      }
      return true;
    }
    if (kind_ == Kind::kNone || kind_ == Kind::kOther) return true;
    switch (group.code) {
      case 8:
        layer_.assign(trimmed(group.value));  // as the merge reads it, a token
        break;
      case 70: {
        int flags = 0;
        const std::string_view text = trimmed(group.value);
        std::from_chars(text.data(), text.data() + text.size(), flags);
        closed_ = (flags & 1) != 0;
        break;
      }
      case 10:
      case 20:
      case 30:
      case 38: {
        double value;
        if (!number(group, value, fault)) return false;
        if (group.code == 38) {
          z_ = value;
        } else if (kind_ == Kind::kLwpolyline) {
          lwpolyline_point(group.code, value);
        } else {
          (group.code == 10 ? x_ : group.code == 20 ? y_ : z_) = value;
          has_ |= group.code == 10 ? 1 : group.code == 20 ? 2 : 0;
        }
        break;
      }
      default:
        break;
    }
    return true;
  }

  // An LWPOLYLINE's vertices are its pairs of 10 and 20, at its elevation.
  void lwpolyline_point(std::int32_t code, double value) {
    if (!open_) begin();
    if (code == 10) {
      x_ = value;
      has_ = 1;
    } else if (has_ == 1) {
      visit_.vertex(x_, value, z_);
      has_ = 0;
    }
  }

  void begin() {
    visit_.begin(layer_, closed_);
    open_ = true;
  }

  // What an entity held is known at the next one.
  void entity_end() {
    if (kind_ == Kind::kPolyline) {
      begin();
    } else if (kind_ == Kind::kVertex && open_ && has_ == 3) {
      visit_.vertex(x_, y_, z_);
    }
    if (kind_ == Kind::kLwpolyline && !open_) begin();  // one without vertices
    kind_ = Kind::kNone;
  }
  void polyline_end() {
    if (!open_) return;
    visit_.end();
    open_ = false;
  }

  Visit& visit_;
  std::string section_;  // the section's name; "?" until it comes
  std::string variable_;
  Kind kind_ = Kind::kNone;
  std::string layer_ = "0";
  bool closed_ = false;
  bool open_ = false;  // a polyline begun and not ended
  int has_ = 0;        // x (1) and y (2) of the vertex read
  double x_ = 0, y_ = 0, z_ = 0;
};

// A coordinate the picture can place: beyond 1e300 (or an infinity, from a
// number beyond a double) no frame holds it with the others.
bool drawable(double v) { return std::abs(v) <= 1e300; }

// What the first reading learns: the counts, where the vertices lie, the
// elevations, and the ink the polylines lay.
struct Survey : Polylines::Visit {
  std::uint64_t polylines = 0, vertices = 0, curves = 0;
  double min_x = std::numeric_limits<double>::infinity(), max_x = -min_x;
  double min_y = min_x, max_y = max_x, low = min_x, high = max_x;
  double extents[2][3] = {};
  bool extents_set[2][3] = {};
  double length = 0;            // of every polyline, in drawing units
  bool curves_last = true;      // the HA_6292 polylines all come after the others
  bool on_curve = false, first_vertex = false;
  double last_x = 0, last_y = 0;

  void extent(bool max, int axis, double value) override {
    extents[max][axis] = value;
    extents_set[max][axis] = true;
  }
  void begin(std::string_view layer, bool) override {
    ++polylines;
    on_curve = layer == CURVE;
    curves += on_curve ? 1 : 0;
    if (!on_curve && curves > 0) curves_last = false;
    first_vertex = true;
  }
  void vertex(double x, double y, double z) override {
    ++vertices;
    if (!drawable(x) || !drawable(y)) return;
    if (!std::isfinite(z)) z = 0;
    min_x = std::min(min_x, x);
    max_x = std::max(max_x, x);
    min_y = std::min(min_y, y);
    max_y = std::max(max_y, y);
    if (!on_curve && first_vertex) {
      low = std::min(low, z);
      high = std::max(high, z);
    }
    if (!first_vertex) length += std::hypot(x - last_x, y - last_y);
    first_vertex = false;
    last_x = x;
    last_y = y;
  }
  void end() override {}
  bool has_extents() const {
    return extents_set[0][0] && extents_set[0][1] && extents_set[1][0] && extents_set[1][1] &&
           extents[0][0] <= extents[1][0] && extents[0][1] <= extents[1][1] &&
           std::abs(extents[0][0]) < 1e20 && std::abs(extents[1][0]) < 1e20 &&
           std::abs(extents[0][1]) < 1e20 && std::abs(extents[1][1]) < 1e20;
  }
};

// Where drawing units go in the picture, in tenths of a pixel, north up.
struct Frame {
  double x0 = 0, y1 = 0, scale = 1;  // scale: pixels a drawing unit
  double left = kMargin, top = kMargin;
  int width = 0, height = 0;  // of the picture, pixels
  double plot_width = 0, plot_height = 0;

  long long x(double v) const { return std::llround(kTenths * (left + (v - x0) * scale)); }
  long long y(double v) const { return std::llround(kTenths * (top + (y1 - v) * scale)); }
};

// The numbers of a label: up to six significant digits, no needless zero.
std::string label(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v == 0 ? 0.0 : v);
  return text;
}

// A coordinate of a caption: ten significant digits, a UTM northing in full.
std::string coordinate(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", v == 0 ? 0.0 : v);
  return text;
}

// Text as XML holds it.
std::string escaped(std::string_view text) {
  std::string out;
  const std::string shown = printable(text);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const char c = shown[i];
    // U+FFFE and U+FFFF, which no XML holds.
    if (shown.compare(i, 2, "\xEF\xBF") == 0 && i + 2 < shown.size() &&
        (shown[i + 2] == '\xBE' || shown[i + 2] == '\xBF')) {
      out += '?';
      i += 2;
      continue;
    }
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The second and third readings: each polyline as one path, its vertices
// closer than `merged` pixels to the last one written merged into it.
struct Drawing : Polylines::Visit {
  enum class Which { kAll, kOthers, kCurves };
  // `cell`: pixels of a side of the cells in which one polyline at most no
  // larger than a cell begins.
  Drawing(LineWriter& out, const Frame& frame, const Survey& survey, double merged, double cell,
          Which which)
      : out_(out),
        frame_(frame),
        survey_(survey),
        within_(merged * kTenths),
        cell_(cell * kTenths),
        columns_(static_cast<std::size_t>(frame.width / cell) + 2),
        which_(which) {
    const std::size_t rows = static_cast<std::size_t>(frame.height / cell) + 2;
    for (auto& cells : inked_) cells.assign(columns_ * rows, false);
  }

  void extent(bool, int, double) override {}
  void begin(std::string_view layer, bool closed) override {
    const bool curve = layer == CURVE;
    drawn_ = which_ == Which::kAll || (which_ == Which::kCurves) == curve;
    if (!drawn_) return;
    if (curve && which_ == Which::kAll && !curves_begun_) {
      out_.text("</g>");  // the others are over: those on HA_6292 come on top
      out_.text(kCurveGroup);
      curves_begun_ = true;
    }
    curve_ = curve;
    closed_ = closed;
    count_ = 0;
    path_.clear();
  }
  void vertex(double x, double y, double z) override {
    if (!drawn_ || !drawable(x) || !drawable(y)) return;
    const long long px = frame_.x(x), py = frame_.y(y);
    if (count_++ == 0) {
      colour_ = curve_ ? std::string(kCurveColour)
                       : ramp_colour(survey_.high > survey_.low
                                         ? (z - survey_.low) / (survey_.high - survey_.low)
                                         : 0.5);
      path_ = "M" + std::to_string(px) + " " + std::to_string(py) + "l";
      last_x_ = pending_x_ = px;
      last_y_ = pending_y_ = py;
      pending_ = false;
      cell_of_first_ = cell_of(px, py);
      low_x_ = high_x_ = px;
      low_y_ = high_y_ = py;
      return;
    }
    low_x_ = std::min(low_x_, px), high_x_ = std::max(high_x_, px);
    low_y_ = std::min(low_y_, py), high_y_ = std::max(high_y_, py);
    pending_x_ = px;
    pending_y_ = py;
    pending_ = true;
    const double dx = static_cast<double>(px - last_x_), dy = static_cast<double>(py - last_y_);
    if (dx * dx + dy * dy >= within_ * within_) take_pending();
  }
  void end() override {
    if (!drawn_ || count_ == 0) return;
    drawn_ = false;
    // Of the polylines no larger than a cell whose first vertices share one,
    // the first drawn stands for the others: however many a drawing holds,
    // the picture holds as many as its cells.
    if (static_cast<double>(high_x_ - low_x_) <= cell_ &&
        static_cast<double>(high_y_ - low_y_) <= cell_) {
      std::vector<bool>& inked = inked_[curve_ ? 1 : 0];
      if (cell_of_first_ < inked.size() && inked[cell_of_first_]) return;
      if (cell_of_first_ < inked.size()) inked[cell_of_first_] = true;
    }
    if (pending_ && (pending_x_ != last_x_ || pending_y_ != last_y_)) take_pending();
    if (path_.back() == 'l') path_ += "1 0";  // a polyline within a pixel: a dot
    if (closed_) path_ += "z";
    out_.text("<path stroke=\"" + colour_ + "\" d=\"" + path_ + "\"/>");
  }

  static constexpr char kOthersGroup[] =
      "<g fill=\"none\" stroke-width=\"20\" stroke-linecap=\"round\" stroke-linejoin=\"round\">";
  static constexpr char kCurveGroup[] =
      "<g fill=\"none\" stroke-width=\"30\" stroke-linecap=\"round\" stroke-linejoin=\"round\">";

 private:
  std::size_t cell_of(long long x, long long y) const {
    if (x < 0 || y < 0) return ~std::size_t{0};
    return static_cast<std::size_t>(static_cast<double>(y) / cell_) * columns_ +
           static_cast<std::size_t>(static_cast<double>(x) / cell_);
  }
  void take_pending() {
    if (path_.back() != 'l') path_ += ' ';
    path_ += std::to_string(pending_x_ - last_x_) + " " + std::to_string(pending_y_ - last_y_);
    last_x_ = pending_x_;
    last_y_ = pending_y_;
    pending_ = false;
  }

  LineWriter& out_;
  const Frame& frame_;
  const Survey& survey_;
  double within_;
  double cell_;  // tenths of a pixel
  std::size_t columns_;
  std::vector<bool> inked_[2];  // cells holding a small polyline: of other layers, of HA_6292
  std::size_t cell_of_first_ = 0;
  long long low_x_ = 0, high_x_ = 0, low_y_ = 0, high_y_ = 0;  // the polyline's box so far
  Which which_;
  bool drawn_ = false, curve_ = false, closed_ = false, pending_ = false, curves_begun_ = false;
  std::uint64_t count_ = 0;
  long long last_x_ = 0, last_y_ = 0, pending_x_ = 0, pending_y_ = 0;
  std::string colour_, path_;
};

// The frame of the picture: the drawing's vertices and its header's extents,
// as wide as the picture allows, and at most twice as high.
Frame frame_of(const Survey& s, int width) {
  double x0 = s.min_x, x1 = s.max_x, y0 = s.min_y, y1 = s.max_y;
  if (s.has_extents()) {
    x0 = std::min(x0, s.extents[0][0]);
    x1 = std::max(x1, s.extents[1][0]);
    y0 = std::min(y0, s.extents[0][1]);
    y1 = std::max(y1, s.extents[1][1]);
  }
  if (!(x0 <= x1)) x0 = x1 = 0;  // nothing to frame
  if (!(y0 <= y1)) y0 = y1 = 0;
  Frame f;
  f.width = width;
  f.plot_width = width - 2.0 * kMargin;
  // A line or a point: room around it, as wide as its length, or one unit
  // (more far from 0, where a unit is lost among the digits). A span that
  // a double cannot scale to the picture (below some 1e-300, or beyond the
  // digits of its coordinates) counts as none.
  const double far = std::max({std::abs(x0), std::abs(x1), std::abs(y0), std::abs(y1)});
  auto none = [&](double lo, double hi) {
    return !(hi - lo > far * 0x1p-50) || !std::isfinite(f.plot_width / (hi - lo));
  };
  const bool no_x = none(x0, x1), no_y = none(y0, y1);
  const double widest = std::max(no_x ? 0 : x1 - x0, no_y ? 0 : y1 - y0);
  const double room = widest > 0 ? widest / 2 : std::max(1.0, far * 0x1p-40);
  auto around = [room](double& lo, double& hi) {
    const double middle = lo / 2 + hi / 2;
    lo = middle - room;
    hi = middle + room;
  };
  if (no_x) around(x0, x1);
  if (no_y) around(y0, y1);
  f.scale = f.plot_width / (x1 - x0);
  f.plot_height = (y1 - y0) * f.scale;
  if (f.plot_height > 2.0 * width) {
    f.scale = 2.0 * width / (y1 - y0);
    f.plot_height = 2.0 * width;
    f.left += (f.plot_width - (x1 - x0) * f.scale) / 2;
    f.plot_width = (x1 - x0) * f.scale;
  }
  f.x0 = x0;
  f.y1 = y1;
  f.height = static_cast<int>(std::ceil(f.plot_height)) + 2 * kMargin + kBand;
  return f;
}

// A length of 1, 2 or 5 times a power of ten, about a fifth of `span`.
double scale_length(double span) {
  const double target = span / 5;
  const double power = std::pow(10.0, std::floor(std::log10(target)));
  for (const double step : {5.0, 2.0, 1.0}) {
    if (step * power <= target) return step * power;
  }
  return power;
}

void write_head(LineWriter& out, const Frame& f, const Survey& s, const std::string& name) {
  out.text("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  out.text("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(f.width) +
           "\" height=\"" + std::to_string(f.height) + "\" viewBox=\"0 0 " +
           std::to_string(f.width * 10) + " " + std::to_string(f.height * 10) + "\">");
  out.text("<title>" + escaped(name) + "</title>");
  out.text("<defs><linearGradient id=\"ramp\">");
  for (int i = 0; i <= 4; ++i) {
    out.text("<stop offset=\"" + label(i / 4.0) + "\" stop-color=\"" + ramp_colour(i / 4.0) +
             "\"/>");
  }
  out.text("</linearGradient></defs>");
  out.text("<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>");
  // The header's extents, dashed, under the polylines.
  if (s.has_extents()) {
    const long long x0 = f.x(s.extents[0][0]), x1 = f.x(s.extents[1][0]);
    const long long y0 = f.y(s.extents[1][1]), y1 = f.y(s.extents[0][1]);
    out.text("<rect x=\"" + std::to_string(x0) + "\" y=\"" + std::to_string(y0) + "\" width=\"" +
             std::to_string(x1 - x0) + "\" height=\"" + std::to_string(y1 - y0) +
             "\" fill=\"none\" stroke=\"#808080\" stroke-width=\"10\" stroke-dasharray=\"60 40\"/>");
  }
}

void write_tail(LineWriter& out, const Frame& f, const Survey& s, const std::string& name) {
  auto text = [&out](double x, double y, const std::string& anchor, const std::string& what) {
    out.text("<text x=\"" + std::to_string(std::lround(x * kTenths)) + "\" y=\"" +
             std::to_string(std::lround(y * kTenths)) + "\" text-anchor=\"" + anchor + "\">" +
             what + "</text>");
  };
  const double band = kMargin + f.plot_height + kMargin;
  out.text("<g font-family=\"sans-serif\" font-size=\"130\" fill=\"#202020\">");
  // The caption.
  text(kMargin, band + 24, "start",
       escaped(name) + ": " + std::to_string(s.polylines) +
           (s.polylines == 1 ? " polyline, " : " polylines, ") + std::to_string(s.vertices) +
           (s.vertices == 1 ? " vertex" : " vertices"));
  if (s.has_extents()) {
    text(kMargin, band + 44, "start",
         "extents x " + coordinate(s.extents[0][0]) + " to " + coordinate(s.extents[1][0]) +
             ", y " + coordinate(s.extents[0][1]) + " to " + coordinate(s.extents[1][1]) +
             " (dashed)");
  }
  // The scale bar, north up.
  const double length = scale_length(f.plot_width / f.scale);
  const double bar = length * f.scale, x0 = kMargin, y = band + 72;
  out.text("<path stroke=\"#202020\" stroke-width=\"20\" fill=\"none\" d=\"M" +
           std::to_string(std::lround(x0 * kTenths)) + " " + std::to_string(std::lround((y - 6) * kTenths)) +
           "v60h" + std::to_string(std::lround(bar * kTenths)) + "v-60\"/>");
  text(x0 + bar + 8, y + 4, "start",
       label(length) + " drawing units; north up \xE2\x86\x91");  // an arrow up
  // The legend: the ramp of elevations, and the colour of HA_6292.
  const double legend = f.width - kMargin - 220.0;
  if (std::isfinite(s.low)) {
    out.text("<rect x=\"" + std::to_string(std::lround(legend * kTenths)) + "\" y=\"" +
             std::to_string(std::lround((band + 12) * kTenths)) +
             "\" width=\"2200\" height=\"140\" fill=\"url(#ramp)\"/>");
    text(legend, band + 44, "start", "elevation " + label(s.low));
    text(legend + 220, band + 44, "end", label(s.high));
  }
  if (s.curves > 0) {
    out.text("<path stroke=\"" + std::string(kCurveColour) + "\" stroke-width=\"30\" d=\"M" +
             std::to_string(std::lround(legend * kTenths)) + " " +
             std::to_string(std::lround((band + 68) * kTenths)) + "h300\"/>");
    text(legend + 40, band + 72, "start", "HA_6292");
  }
  out.text("</g>");
  out.text("</svg>");
}

}  // namespace

std::string ramp_colour(double t) {
  // Blue low, through pale green and yellow, to red high.
  static constexpr int kStops[5][3] = {
      {0x2c, 0x7b, 0xb6}, {0xab, 0xd9, 0xe9}, {0xff, 0xff, 0xbf}, {0xfd, 0xae, 0x61}, {0xd7, 0x19, 0x1c}};
  t = std::clamp(std::isfinite(t) ? t : 0.5, 0.0, 1.0) * 4;
  const int i = std::min(3, static_cast<int>(t));
  const double f = t - i;
  char colour[8];
  int rgb[3];
  for (int c = 0; c < 3; ++c) {
    rgb[c] = static_cast<int>(std::lround(kStops[i][c] + (kStops[i + 1][c] - kStops[i][c]) * f));
  }
  std::snprintf(colour, sizeof colour, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
  return colour;
}

bool draw_preview(const std::function<std::unique_ptr<GroupSource>()>& read,
                  const std::string& name, const PreviewOptions& options, LineWriter& out,
                  PreviewFacts& facts, Fault& fault, int& error) {
  auto walk = [&](Polylines::Visit& visit) {
    std::unique_ptr<GroupSource> in = read();
    const bool whole = Polylines::walk(*in, visit, fault);
    error = in->error();
    return whole;
  };
  Survey survey;
  if (!walk(survey)) return false;
  facts.polylines = survey.polylines;
  facts.vertices = survey.vertices;
  const Frame frame = frame_of(survey, options.width);
  // Half a pixel, or more where the polylines would lay more points than the
  // picture's budget.
  const double budget = static_cast<double>(options.width) * kPointsPerPixel;
  const double within = std::max(0.5, survey.length * frame.scale / budget);
  // Cells in which one small polyline is drawn: a quarter of the budget, a
  // small path taking some four points' room.
  const double cell = std::max(
      0.5, std::sqrt(static_cast<double>(frame.width) * frame.height * 4 / budget));
  write_head(out, frame, survey, name);
  out.text(Drawing::kOthersGroup);
  Drawing all(out, frame, survey, within, cell,
              survey.curves_last ? Drawing::Which::kAll : Drawing::Which::kOthers);
  if (!walk(all)) return false;
  if (!survey.curves_last) {  // those on HA_6292 once more, on top
    out.text("</g>");
    out.text(Drawing::kCurveGroup);
    Drawing curves(out, frame, survey, within, cell, Drawing::Which::kCurves);
    if (!walk(curves)) return false;
  }
  out.text("</g>");
  write_tail(out, frame, survey, name);
  return true;
}

}  // namespace quorvane
