// Converts a drawing of another program into the layout the merge reads: the
// polylines of its model space, each vertex at its world coordinates.
//
//   cn  the first drawing of a merge: 3D polylines, x, y and z
//   ha  the second drawing: x and y, to which the merge adds an elevation of 0
//
// The drawing is read pair by pair and written as it is read: memory holds
// one entity at most.
#ifndef QUORVANE_CONVERTER_H
#define QUORVANE_CONVERTER_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "group_reader.h"
#include "layer_names.h"
#include "line_writer.h"
#include "merge_engine.h"

namespace quorvane {

enum class DrawingKind { kContours, kPlots };  ///< cn, ha

struct Coordinate;

struct ConvertOptions {
  DrawingKind kind = DrawingKind::kContours;
  std::optional<std::string> layer;  ///< ha: the layer whose polylines go on HA_6292
  /// Vertices of one entity held in memory until it ends; those beyond go to
  /// a temporary file.
  std::size_t held_in_memory = std::size_t{1} << 16;
  /// Where they go: temporary_file() when null.
  std::FILE* (*temporary)() = nullptr;
};

/// What a conversion wrote and what it left out.
struct ConvertReport {
  std::uint64_t polylines = 0, vertices = 0;
  std::uint64_t kept = 0;             ///< polylines written on HA_6292
  std::uint64_t from_layer = 0;       ///< of these, those of the layer named with --layer
  std::uint64_t bulged_segments = 0;  ///< arcs written as straight segments
  std::uint64_t frame_points = 0;     ///< frame control points of fitted polylines
  std::map<std::string, std::uint64_t> left_out;  ///< entities by kind
  struct Renaming {
    std::string layer;    ///< UTF-8
    std::string written;  ///< UTF-8
    std::string taken;    ///< the name it would have had, which another layer has, if so
  };
  std::vector<Renaming> renamed;   ///< the first layers renamed
  std::uint64_t more_renamed = 0;  ///< beyond those listed
  /// The $DWGCODEPAGE of a drawing whose names are in a code page that DXF
  /// does not name, read as Windows-1252; empty for any other.
  std::string unknown_code_page;
  struct Layer {
    std::string name;             ///< as named (UTF-8)
    std::uint64_t polylines = 0;  ///< written from it
    bool operator==(const Layer&) const = default;
  };
  std::vector<Layer> layers;  ///< the first layers that hold polylines of model space
  bool more_layers = false;   ///< beyond those listed
  /// Why the header's extents are not the drawing's own (kNone: they are):
  /// the drawing has none, they cannot be read, their minimum lies above
  /// their maximum, they lie beyond 1e20, or they do not enclose every
  /// vertex written.
  enum class NotOwn { kNone, kAbsent, kUnreadable, kDisordered, kBeyond, kApart };
  NotOwn not_own = NotOwn::kNone;
  Extents own;      ///< the drawing's own, when they do not enclose the vertices (z 0 for ha)
  Extents extents;  ///< of the vertices written (z 0 for ha)
};

/// Reads a decimal number as DXF holds it, blanks around it and a '+' allowed;
/// false when the text is none. Beyond the range of a double: 0 below it,
/// an infinity above it. With `shortest`, tells whether std::to_chars writes
/// the value as the text itself: a plain decimal of at most 15 significant
/// digits (no other decimal of so few digits reads as the same double),
/// without a needless zero or sign, and no longer than its scientific form.
bool parse_number(std::string_view text, double& value, bool* shortest = nullptr);

/// Composes the HEADER and the opening of the ENTITIES section of a converted drawing,
/// every line ended by CR LF; its extents right-aligned in 24 columns, so
/// that the header has one size whatever they are.
std::string converted_header(const Extents& extents);

class Converter {
 public:
  Converter(GroupSource& in, const ConvertOptions& options);
  ~Converter();

  /// Reads the drawing to its end and writes it converted into `out`. Its
  /// header carries the drawing's own extents when they enclose every vertex
  /// written; otherwise those of the vertices, put in front once they are
  /// known, so `out` must take replace_front. False at a fault or a failed read; a failed write is
  /// kept by `out`.
  bool run(LineWriter& out);
  /// Tells where the drawing cannot be converted, if it cannot.
  const Fault& fault() const;
  const ConvertReport& report() const { return report_; }

 private:
  struct Entity;
  class Held;
  struct Pending;
  struct Hatch;
  struct Reading;
  /// What a polyline is written with, as its entity gives it.
  struct PolylineStart {
    std::string_view type;     // the entity, as counted when it is left out
    const std::string& layer;  // as stored
    bool paper = false;        // left out, and counted
    bool closed = false;
    const Coordinate* elevation = nullptr;  // the z of every vertex; null: each its own
    const double* extrusion = nullptr;      // of the object coordinate system; null: world
  };

  void header_group(const Group& group);
  void section_start(const Group& group);
  void entity_start(const Group& group);
  void entity_group(const Group& group);
  void entity_end();
  void reach_entities();
  // Keeps the drawing's own extents in the header when they enclose every
  // vertex written; otherwise puts those of the vertices in front.
  void end_extents();
  // False when the polyline is left out.
  bool begin_polyline(const PolylineStart& start);
  void write_polyline();
  // False at a fault.
  bool write_vertex(Coordinate x, Coordinate y, Coordinate z, bool bulged);
  void end_polyline();
  // Writes the vertices held as one polyline, then lets them go.
  void write_held(const PolylineStart& start);
  void write_lwpolyline();
  // A HATCH's groups: its own, then those of its boundary paths, each path
  // written as a closed polyline when it ends.
  void hatch_group(const Group& group);
  void path_group(const Group& group);
  void end_edge();
  // Takes the x (10), y (20) or bulge (42) of a vertex that is held: an
  // LWPOLYLINE's, or a HATCH polyline path's. An x begins a vertex, and so
  // does a y that comes without one.
  void held_vertex(const Group& group);
  // Holds a vertex of a HATCH's edge path; false at a fault.
  bool hold_end(const Coordinate& x, const Coordinate& y, bool bulged);
  void end_path();
  // Reads an entity's layer (8) or space (67); false for any other code.
  bool layer_or_space(const Group& group);
  // The faults of the paths every group or vertex takes, kept out of them.
  [[gnu::cold]] void name_too_long(const Group& group);
  [[gnu::cold]] void beyond_a_double();
  // False, at a fault, after a failed write of the vertices held (`error`).
  bool holding(int error) {
    if (error != 0) [[unlikely]]
      cannot_hold(error);
    return error == 0;
  }
  [[gnu::cold]] void cannot_hold(int error);
  void leave_out(const std::string& kind);
  std::size_t note_layer(const std::string& name);
  const TextEncoding& encoding();
  std::string layer_of_polyline(const std::string& stored, bool& named, std::size_t& listed);
  bool number(const Group& group, double& value, bool* shortest = nullptr);
  bool coordinate(const Group& group, Coordinate& value);
  bool integer(const Group& group, std::int32_t& value);
  void fail(std::uint64_t line, std::string what);

  GroupSource& in_;
  ConvertOptions options_;
  LineWriter* out_ = nullptr;
  ConvertReport report_;
  std::string header_;  // as written first
  Fault fault_;
  std::unique_ptr<Entity> entity_;
  std::unique_ptr<Held> held_;
  std::unique_ptr<Hatch> hatch_;
  std::unique_ptr<Pending> polyline_;
  std::unique_ptr<Reading> reading_;
};

/// Tells why a conversion for the second drawing of a merge gives it nothing:
/// `layer` named with --layer holds no polyline, or (without it) none is on
/// HA_6292; the layers that hold polylines, with their counts, are named,
/// quoted: no polyline of its model space is on layer "PLOTS"; its
/// polylines are on "Plot lines" (3), "forêt" (1).
std::string gives_the_merge_nothing(const ConvertReport& report,
                                    const std::optional<std::string>& layer);

/// Composes what the command prints once the drawing is converted; without `output`,
/// for a drawing converted for the merge that runs now.
std::string summary(const ConvertReport& report, const ConvertOptions& options,
                    const std::string& input, const std::string& output);

}  // namespace quorvane

#endif
