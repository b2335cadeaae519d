// Drawings as other programs write them, converted in memory: what is written
// of each polyline, and where a drawing that cannot be read is refused. Every
// drawing converted here is then merged, by the tool and by the model.
#include "converter.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>

#include "binary_groups.h"
#include "code_pages.h"
#include "in_memory_merge.h"
#include "keywords.h"
#include "layer_names.h"
#include "reference_model.h"

namespace quorvane {
namespace {

// A drawing from its pairs, "|" between lines: "0|SECTION|2|ENTITIES|...".
std::string pairs(std::string_view text, const char* end = "\n") {
  std::string out;
  for (char c : text) {
    if (c == '|') {
      out += end;
    } else {
      out += c;
    }
  }
  return out + end;
}

// "layer vertices" of each polyline of a drawing the merge reads or writes, in
// file order; of `layer` alone when one is given.
std::vector<std::string> polylines_in(const std::string& bytes, const char* layer = nullptr) {
  std::vector<std::string> found;
  std::istringstream lines(bytes);
  std::string line, name;
  long vertices = -1;  // of the polyline counted, -1 outside one
  auto end = [&] {
    if (vertices >= 0) found.push_back(name + " " + std::to_string(vertices));
    vertices = -1;
  };
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == POLYLINE) {
      end();
      std::getline(lines, name);  // the code 8
      std::getline(lines, name);
      if (!name.empty() && name.back() == '\r') name.pop_back();
      if (layer == nullptr || name == layer) vertices = 0;
    } else if (line == VERTEX && vertices >= 0) {
      ++vertices;
    } else if (line == SEQEND) {
      end();
    }
  }
  end();
  return found;
}

// A converted drawing merged by the tool and by the model, as the first drawing
// (cn) or the second (ha) beside an empty one: both take it and write the same
// bytes, which hold each of its polylines whole (ha: each on HA_6292).
void expect_merged_whole(const std::string& bytes, DrawingKind kind) {
  const bool first = kind == DrawingKind::kContours;
  const std::string none;
  const std::string& cn = first ? bytes : none;
  const std::string& ha = first ? none : bytes;
  const testing::MergeResult tool = testing::in_memory_merge(cn, ha);
  const testing::MergeResult model = testing::reference_merge(cn, ha);
  EXPECT_EQ(tool.refused, 0) << "at line " << tool.line << ":\n" << bytes.substr(0, 400);
  EXPECT_EQ(model.refused, 0) << "at line " << model.line << ":\n" << bytes.substr(0, 400);
  EXPECT_TRUE(tool.merged == model.merged)
      << "the merged bytes differ from the model's at byte "
      << std::mismatch(tool.merged.begin(), tool.merged.end(), model.merged.begin(),
                       model.merged.end())
                 .first -
             tool.merged.begin();
  EXPECT_EQ(polylines_in(tool.merged), polylines_in(bytes, first ? nullptr : CURVE));
}

// The drawing in binary DXF, as ezdxf saves it: a code of one byte (255,
// then two, beyond 254) where $ACADVER is AC1009 or before or missing, of two
// after; each value stored as its code's range says. Empty when a code or a
// value does not fit.
std::string binary_of(const std::string& text) {
  auto in = [](int code, std::initializer_list<std::pair<int, int>> ranges) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [code](auto r) { return code >= r.first && code <= r.second; });
  };
  auto bytes_of = [](auto value, std::size_t size) {
    std::string out;
    std::uint64_t raw = 0;
    std::memcpy(&raw, &value, sizeof value);
    for (std::size_t i = 0; i < size; ++i) out += static_cast<char>(raw >> (8 * i));
    return out;
  };
  std::istringstream lines(text);
  std::vector<std::pair<int, std::string>> groups;
  bool short_codes = true;
  for (std::string code, value; std::getline(lines, code) && std::getline(lines, value);) {
    for (std::string* line : {&code, &value}) {
      while (!line->empty() && line->back() == '\r') line->pop_back();
    }
    const std::string_view number = trimmed(code);
    int group = -1;
    if (std::from_chars(number.data(), number.data() + number.size(), group).ec != std::errc{} ||
        group < 0 || group > 32767) {
      return "";
    }
    if (!groups.empty() && groups.back().second == "$ACADVER" && group == 1) {
      short_codes = trimmed(value) <= "AC1009";
    }
    groups.emplace_back(group, value);
  }
  std::string out(kBinaryDxf);
  for (const auto& [code, value] : groups) {
    if (!short_codes) {
      out += bytes_of(static_cast<std::uint16_t>(code), 2);
    } else if (code < 255) {
      out += static_cast<char>(code);
    } else {
      out += '\xff' + bytes_of(static_cast<std::uint16_t>(code), 2);
    }
    const std::string_view v = trimmed(value);
    const char* first = v.data() + (v.starts_with('+') ? 1 : 0);
    long long integer = 0;
    double real = 0;
    const bool is_integer =
        std::from_chars(first, v.data() + v.size(), integer).ec == std::errc{};
    if (in(code, {{60, 79}, {170, 179}, {270, 289}, {370, 389}, {400, 409}, {1060, 1070}})) {
      if (!is_integer) return "";
      out += bytes_of(static_cast<std::int16_t>(integer), 2);
    } else if (in(code, {{90, 99}, {420, 429}, {440, 459}, {1071, 1071}})) {
      if (!is_integer) return "";
      out += bytes_of(static_cast<std::int32_t>(integer), 4);
    } else if (in(code, {{160, 169}})) {
      if (!is_integer) return "";
      out += bytes_of(static_cast<std::int64_t>(integer), 8);
    } else if (in(code, {{290, 299}})) {
      if (!is_integer) return "";
      out += static_cast<char>(integer);
    } else if (in(code, {{10, 59}, {110, 149}, {210, 239}, {460, 469}, {1010, 1059}})) {
      if (std::from_chars(first, v.data() + v.size(), real).ec != std::errc{}) return "";
      out += bytes_of(real, 8);
    } else if (in(code, {{310, 319}, {1004, 1004}})) {
      if (v.size() % 2 != 0 || v.size() > 510) return "";
      out += static_cast<char>(v.size() / 2);
      for (std::size_t i = 0; i < v.size(); i += 2) {
        out += static_cast<char>(std::stoi(std::string(v.substr(i, 2)), nullptr, 16));
      }
    } else {
      if (value.find('\0') != std::string::npos) return "";
      out += value + '\0';
    }
  }
  return out;
}

// What a converted drawing holds, in short: "ext <min> <max>", then per
// polyline "<layer> <flags>:" and its vertices "x,y[,z]"; or the fault.
// With `held`, the vertices of an entity held in memory before the rest go
// to a temporary file (that of `temporary`, when given).
std::string converted(const std::string& drawing, DrawingKind kind,
                      std::optional<std::string> layer = std::nullopt,
                      ConvertReport* report = nullptr, std::size_t held = 0,
                      std::FILE* (*temporary)() = nullptr) {
  MemorySource source(drawing);
  GroupReader reader(source);
  ConvertOptions options;
  options.kind = kind;
  options.layer = std::move(layer);
  if (held != 0) options.held_in_memory = held;
  options.temporary = temporary;
  Converter converter(reader, options);
  std::string bytes;
  {
    LineWriter out(std::make_unique<StringSink>(bytes), 64);
    if (!converter.run(out)) {
      return "line " + std::to_string(converter.fault().line) + ": " + converter.fault().what;
    }
    out.close();
  }
  expect_merged_whole(bytes, kind);
  // Saved as binary DXF, the drawing converts into the same bytes.
  if (const std::string binary = binary_of(drawing); !binary.empty()) {
    MemorySource bytes_of_binary(binary);
    BinaryGroupReader binary_reader(bytes_of_binary);
    Converter again(binary_reader, options);
    std::string from_binary;
    {
      LineWriter out(std::make_unique<StringSink>(from_binary), 64);
      EXPECT_TRUE(again.run(out)) << again.fault().line << ": " << again.fault().what;
      out.close();
    }
    EXPECT_TRUE(from_binary == bytes) << "saved as binary DXF, the drawing converts otherwise";
  }
  if (report != nullptr) *report = converter.report();
  std::istringstream lines(bytes);
  std::string code, value, shown, variable;
  while (std::getline(lines, code) && std::getline(lines, value)) {
    code.pop_back();  // the CR of CR LF
    value.pop_back();
    const int number = std::stoi(code);
    if (number == 9) {
      shown += value == "$EXTMIN" ? "ext " : value == "$EXTMAX" ? " " : "";
      variable = value;
    } else if (number == 0 && value == "POLYLINE") {
      shown += "\n";
      variable = value;
    } else if (number == 0 && value == "VERTEX") {
      variable = value;
    } else if (number == 8 && variable == "POLYLINE") {
      shown += value + " ";
    } else if (number == 70 && variable == "POLYLINE") {
      shown += value.substr(value.find_first_not_of(' ')) + ":";
    } else if (number == 10 && variable != "$ACADVER") {
      shown += (variable == "VERTEX" ? " " : "") + value.substr(value.find_first_not_of(' '));
    } else if ((number == 20 || number == 30) && variable != "$ACADVER") {
      shown += "," + value.substr(value.find_first_not_of(' '));
    }
  }
  return shown;
}

const std::string kEntities = "0|SECTION|2|ENTITIES|";
const std::string kEnd = "0|ENDSEC|0|EOF";

TEST(Converter, WritesEachPolylineOfModelSpaceAtItsWorldCoordinates) {
  const struct {
    const char* what;
    std::string drawing;
    DrawingKind kind;
    std::string expected;
  } cases[] = {
      {"a closed LWPOLYLINE at its elevation, bulges dropped",
       kEntities +
           "0|LWPOLYLINE|5|2A|100|AcDbEntity|8|Plot lines|100|AcDbPolyline|90|3|70|129|38|"
           "12.5|10|1.25|20|-2|42|0.5|10|3|20|4|10|1e3|20|0.1|" +
           kEnd,
       DrawingKind::kContours,
       "ext 1.25,-2,12.5 1000,4,12.5\nPlot_lines 9: 1.25,-2,12.5 3,4,12.5 1000,0.1,12.5"},
      {"a value of every type before a polyline, also in binary DXF",
       "0|SECTION|2|HEADER|9|$ACADVER|1|AC1032|0|ENDSEC|" + kEntities +
           "0|MTEXT|1|a|10|1.5|40|2|62|7|90|65536|100|AcDbMText|160|1099511627776|170|1|210|0|"
           "270|2|280|3|289|4|290|1|299|0|310|0A1B|330|2C|370|-3|390|2D|400|5|410|L|420|-7|429|8|"
           "440|9|459|10|460|0.5|470|f|999|g|1000|h|1004|FF|1010|2.5|1060|11|1070|12|1071|13|"
           "431|dd|439|e|430|c|0|LWPOLYLINE|8|A|10|1|20|2|" +
           kEnd,
       DrawingKind::kContours, "ext 1,2,0 1,2,0\nA 8: 1,2,0"},
      {"the extrusion (0, 0, -1) mirrors x and z",
       kEntities + "0|LWPOLYLINE|8|A|38|2|10|1|20|2|10|-3|20|4|210|0|220|0|230|-1|" + kEnd,
       DrawingKind::kContours, "ext -1,2,-2 3,4,-2\nA 8: -1,2,-2 3,4,-2"},
      {"an arbitrary extrusion, by the arbitrary axis algorithm",
       kEntities + "0|LWPOLYLINE|8|A|10|1|20|0|210|1|220|0|230|0|" + kEnd, DrawingKind::kContours,
       "ext 0,1,0 0,1,0\nA 8: 0,1,0"},
      {"an extrusion of any length gives the same axes",
       kEntities +
           "0|LWPOLYLINE|8|A|10|1|20|0|210|1e-320|220|0|230|0|0|LWPOLYLINE|8|B|10|1|20|0|"
           "210|0|220|0|230|-1e-200|0|LWPOLYLINE|8|C|10|1|20|0|210|1e308|220|0|230|0|" +
           kEnd,
       DrawingKind::kContours, "ext -1,0,0 0,1,0\nA 8: 0,1,0\nB 8: -1,0,0\nC 8: 0,1,0"},
      {"a 2D POLYLINE: its vertices at its elevation, whatever their own z",
       kEntities +
           "0|POLYLINE|8|B|66|1|10|0|20|0|30|7.25|70|1|0|VERTEX|8|B|10|1|20|2|30|99|0|"
           "VERTEX|8|B|10|-1.5|20|2.5|0|SEQEND|8|B|" +
           kEnd,
       DrawingKind::kContours, "ext -1.5,2,7.25 1,2.5,7.25\nB 9: 1,2,7.25 -1.5,2.5,7.25"},
      {"a 3D POLYLINE is in world coordinates, whatever its extrusion",
       kEntities + "0|POLYLINE|8|C|66|1|70|8|230|-1|0|VERTEX|8|C|70|32|10|1|20|2|30|3|0|SEQEND|" +
           kEnd,
       DrawingKind::kContours, "ext 1,2,3 1,2,3\nC 8: 1,2,3"},
      {"the frame control points of a spline-fit polyline are left out",
       kEntities +
           "0|POLYLINE|8|S|70|4|0|VERTEX|70|16|10|5|20|5|0|VERTEX|70|8|10|1|20|1|0|"
           "VERTEX|70|16|10|6|20|6|0|VERTEX|70|8|10|2|20|2|0|SEQEND|" +
           kEnd,
       DrawingKind::kContours, "ext 1,1,0 2,2,0\nS 8: 1,1,0 2,2,0"},
      {"meshes, paper space, blocks, INSERTs with attributes and other entities are left out",
       "0|SECTION|2|BLOCKS|0|BLOCK|2|B1|0|LWPOLYLINE|8|IN|10|9|20|9|0|ENDBLK|0|ENDSEC|" +
           kEntities +
           "0|POLYLINE|70|64|0|VERTEX|70|192|10|1|20|1|0|VERTEX|70|128|71|1|0|SEQEND|"
           "0|POLYLINE|70|16|71|2|72|1|0|VERTEX|70|64|10|1|20|1|0|VERTEX|70|64|10|2|20|2|0|SEQEND|"
           "0|LWPOLYLINE|67|1|10|8|20|8|0|POLYLINE|67|1|0|VERTEX|10|7|20|7|0|SEQEND|"
           "0|INSERT|66|1|2|B1|0|ATTRIB|1|V|0|SEQEND|0|LINE|10|0|20|0|11|1|21|1|"
           "0|LWPOLYLINE|8|KEPT|10|1|20|2|" +
           kEnd,
       DrawingKind::kContours, "ext 1,2,0 1,2,0\nKEPT 8: 1,2,0"},
      {"a polyline without vertices is left out",
       kEntities + "0|LWPOLYLINE|8|E|0|POLYLINE|8|F|0|SEQEND|0|LWPOLYLINE|8|G|10|1|20|2|" + kEnd,
       DrawingKind::kContours, "ext 1,2,0 1,2,0\nG 8: 1,2,0"},
      {"a POLYLINE without SEQEND ends at the next entity",
       kEntities + "0|POLYLINE|8|A|0|VERTEX|10|1|20|1|0|LINE|0|LWPOLYLINE|8|B|10|2|20|2|" + kEnd,
       DrawingKind::kContours, "ext 1,1,0 2,2,0\nA 8: 1,1,0\nB 8: 2,2,0"},
      {"a HATCH's polyline paths at its elevation, in the system of its extrusion; not its seeds",
       kEntities +
           "0|HATCH|8|P|100|AcDbHatch|10|0|20|0|30|5|210|0|220|0|230|-1|2|SOLID|70|1|71|0|91|2|"
           "92|2|72|1|73|1|93|3|10|1|20|2|42|0.5|10|3|20|4|42|0|10|5|20|6|42|0|97|0|"
           "92|3|72|0|73|0|93|2|10|7|20|8|10|9|20|10|97|0|75|0|76|1|98|1|10|99|20|99|" +
           kEnd,
       DrawingKind::kContours,
       "ext -9,2,-5 -1,10,-5\nP 9: -1,2,-5 -3,4,-5 -5,6,-5\nP 8: -7,8,-5 -9,10,-5"},
      {"a HATCH's edge path: each vertex once, as the drawing gives it where it does",
       kEntities +
           "0|HATCH|8|E|91|1|92|1|93|4|72|1|10|0|20|0|11|5|21|0|72|2|10|5|20|2|40|2|50|-90|51|"
           "90|73|1|72|1|10|5|20|4|11|0|21|4|72|1|10|0|20|4|11|0|21|0|97|0|75|1|" +
           kEnd,
       DrawingKind::kContours, "ext 0,0,0 5,4,0\nE 9: 0,0,0 5,0,0 5,4,0 0,4,0"},
      {"HATCH edges: a clockwise arc, a gap, a whole circle, an arc at an angle",
       kEntities +
           "0|HATCH|8|E|91|4|92|0|93|1|72|2|10|0|20|0|40|1|50|0|51|90|73|0|97|0|"
           "92|0|93|2|72|1|10|0|20|0|11|1|21|0|72|1|10|2|20|0|11|2|21|1|97|0|"
           "92|0|93|1|72|2|10|3|20|3|40|1|50|0|51|360|73|1|97|0|"
           "92|0|93|1|72|2|10|0|20|0|40|2|50|60|51|120|73|1|97|0|" +
           kEnd,
       DrawingKind::kPlots,
       "ext -0.9999999999999996,-1,0 4,3,0\nE 1: 1,0 0,-1\nE 1: 0,0 1,0 2,0 2,1\nE 1: 4,3\n"
       "E 1: 1.0000000000000002,1.7320508075688772 -0.9999999999999996,1.7320508075688774"},
      {"HATCH edges written the other way round, as ezdxf joins them: the first, a later one, an "
       "arc",
       kEntities +
           "0|HATCH|8|R|91|3|92|0|72|1|10|1|20|0|11|0|21|0|72|1|10|1|20|0|11|1|21|1|72|1|10|1|20|"
           "1|11|0|21|0|92|0|72|1|10|0|20|0|11|1|21|0|72|1|10|1|20|1|11|1|21|0|72|1|10|1|20|1|11|0|"
           "21|0|92|0|72|1|10|-1|20|0|11|1|21|0|72|2|10|0|20|0|40|1|50|180|51|360|73|1|" +
           kEnd,
       DrawingKind::kPlots, "ext -1,0,0 1,1,0\nR 1: 0,0 1,0 1,1\nR 1: 0,0 1,0 1,1\nR 1: -1,0 1,0"},
      {"HATCH paths left out: associative, with an ellipse or a spline edge, in paper space, "
       "or none at all",
       kEntities +
           "0|HATCH|8|A|91|4|92|3|72|0|73|1|93|2|10|0|20|0|10|1|20|1|97|1|330|2F|"
           "92|1|93|2|72|1|10|0|20|0|11|1|21|0|72|3|10|0|20|0|11|1|21|0|40|0.5|50|0|51|360|73|1|"
           "97|0|92|1|93|1|72|4|94|3|73|0|74|0|95|8|96|4|40|0|40|0|40|0|40|0|40|1|40|1|40|1|40|1|"
           "10|0|20|0|10|1|20|1|10|2|20|0|10|3|20|3|97|2|11|0|21|0|11|3|21|3|12|1|22|0|13|1|23|0|"
           "97|0|92|2|72|0|73|1|93|1|10|7|20|7|97|0|75|1|"
           "0|HATCH|8|A|67|1|91|1|92|2|10|9|20|9|97|0|0|HATCH|8|A|0|HATCH|8|A|91|0|" +
           kEnd,
       DrawingKind::kContours, "ext 7,7,0 7,7,0\nA 9: 7,7,0"},
      {"the second drawing: x and y only, closed or not",
       kEntities +
           "0|LWPOLYLINE|8|HA_6292|70|1|38|5|10|1.5|20|2|10|3|20|4|0|POLYLINE|8|W|"
           "0|VERTEX|10|7|20|8|0|SEQEND|" +
           kEnd,
       DrawingKind::kPlots, "ext 1.5,2,0 7,8,0\nHA_6292 1: 1.5,2 3,4\nW 0: 7,8"},
      {"the drawing's own extents, when usable",
       "0|SECTION|2|HEADER|9|$EXTMIN|10|-5|20|-6|30|-7|9|$EXTMAX|10|50|20|60|30|70|0|ENDSEC|" +
           kEntities + "0|LWPOLYLINE|8|A|10|1|20|2|" + kEnd,
       DrawingKind::kContours, "ext -5,-6,-7 50,60,70\nA 8: 1,2,0"},
      {"the drawing's own extents enclose a vertex on their edge",
       "0|SECTION|2|HEADER|9|$EXTMIN|10|-5|20|-6|30|-7|9|$EXTMAX|10|50|20|60|30|70|0|ENDSEC|" +
           kEntities + "0|LWPOLYLINE|8|A|38|70|10|50|20|-6|" + kEnd,
       DrawingKind::kContours, "ext -5,-6,-7 50,60,70\nA 8: 50,-6,70"},
      {"LibreCAD's 0,0,0 to 0,0,0 enclose nothing: those of the vertices",
       "0|SECTION|2|HEADER|9|$EXTMIN|10|0|20|0|30|0|9|$EXTMAX|10|0|20|0|30|0|0|ENDSEC|" +
           kEntities + "0|LWPOLYLINE|8|A|10|1|20|2|10|0|20|0|" + kEnd,
       DrawingKind::kContours, "ext 0,0,0 1,2,0\nA 8: 1,2,0 0,0,0"},
      {"GDAL's z of 0 to 0 misses contours at 100 and 180: those of the vertices",
       "0|SECTION|2|HEADER|9|$EXTMIN|10|0|20|0|30|0|9|$EXTMAX|10|10|20|10|30|0|0|ENDSEC|" +
           kEntities + "0|LWPOLYLINE|8|A|38|100|10|1|20|2|0|LWPOLYLINE|8|A|38|180|10|3|20|4|" +
           kEnd,
       DrawingKind::kContours, "ext 1,2,100 3,4,180\nA 8: 1,2,100\nA 8: 3,4,180"},
      {"a vertex beyond them by the least double: those of the vertices",
       "0|SECTION|2|HEADER|9|$EXTMIN|10|0|20|0|9|$EXTMAX|10|1|20|1|0|ENDSEC|" + kEntities +
           "0|LWPOLYLINE|8|A|10|1.0000000000000002|20|1|" + kEnd,
       DrawingKind::kContours,
       "ext 1.0000000000000002,1,0 1.0000000000000002,1,0\nA 8: 1.0000000000000002,1,0"},
      {"the second drawing: the drawing's own x and y, whatever their z",
       "0|SECTION|2|HEADER|9|$EXTMIN|10|-5|20|-6|30|7|9|$EXTMAX|10|50|20|60|30|3|0|ENDSEC|" +
           kEntities + "0|LWPOLYLINE|8|A|38|99|10|1|20|2|" + kEnd,
       DrawingKind::kPlots, "ext -5,-6,0 50,60,0\nA 0: 1,2"},
      {"an empty drawing's markers are not extents",
       "0|SECTION|2|HEADER|9|$EXTMIN|10|1e+20|20|1e+20|30|1e+20|9|$EXTMAX|10|-1e+20|20|-1e+20|30|"
       "-1e+20|0|ENDSEC|" +
           kEntities + "0|LWPOLYLINE|8|A|10|1|20|2|" + kEnd,
       DrawingKind::kContours, "ext 1,2,0 1,2,0\nA 8: 1,2,0"},
      {"numbers below the range of a double read as 0, as strtod and ezdxf read them",
       kEntities + "0|LWPOLYLINE|8|A|10|1e-400|20|-0.00e-999|10|2.5e-320|20|-1E-400|" + kEnd,
       DrawingKind::kContours, "ext 0,0,0 2.5e-320,0,0\nA 8: 0,0,0 2.5e-320,0,0"},
      {"the second drawing: a z beyond the range of a double is not written",
       kEntities + "0|LWPOLYLINE|8|A|38|1.7e308|10|0|20|1.7e308|210|1|220|0|230|1|" + kEnd,
       DrawingKind::kPlots, "ext 0,0,0 0,0,0\nA 0: 0,0"},
      {"no entities at all", "0|SECTION|2|HEADER|0|ENDSEC|0|EOF", DrawingKind::kContours,
       "ext 0,0,0 0,0,0"},
      {"CR LF, a byte order mark, padded codes and comments",
       "\xEF\xBB\xBF" + pairs("999|made by hand|  0|SECTION|  2|ENTITIES|  0|LWPOLYLINE|  8|A|"
                              " 10|+1.0|20|  2.50  |  0|ENDSEC|  0|EOF",
                              "\r\n"),
       DrawingKind::kContours, "ext 1,2.5,0 1,2.5,0\nA 8: 1,2.5,0"},
      {"CR CR LF, the line ends of Windows given twice",
       pairs(kEntities + "0|LWPOLYLINE|8|HA_6292|10|1|20|2|" + kEnd, "\r\r\n"), DrawingKind::kPlots,
       "ext 1,2,0 1,2,0\nHA_6292 0: 1,2"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(converted(pairs(c.drawing), c.kind), c.expected) << c.what;
    // The same, each entity's vertices beyond the first in a temporary file.
    EXPECT_EQ(converted(pairs(c.drawing), c.kind, std::nullopt, nullptr, 1), c.expected) << c.what;
  }
  // The header has one size whatever its extents, each right-aligned in 24
  // columns: those known only at the end take the place of the first ones
  // without moving the file.
  const std::size_t size = converted_header(Extents{}).size();
  for (double v : {-2.2250738585072014e-308, -4.9406564584124654e-324, 1e300, -1234.5678}) {
    EXPECT_EQ(converted_header(Extents{v, v, v, v, v, v}).size(), size) << v;
  }
  EXPECT_NE(
      converted_header(Extents{1.5, 0, 0, 0, 0, 0}).find("\r\n 10\r\n                     1.5\r\n"),
      std::string::npos);
}

// An entity's vertices beyond those held in memory go to a temporary file, in
// blocks, and come back in order; a file that cannot be made or written stops
// the conversion at the entity's line.
TEST(Converter, VerticesBeyondThoseHeldInMemoryGoToATemporaryFile) {
  std::string many = kEntities + "0|LWPOLYLINE|8|A|";
  std::string expected = "\nA 8:";
  for (int i = 0; i < 40000; ++i) {  // beyond a block of the file
    const std::string x = std::to_string(i % 977) + "." + std::to_string(i % 7);
    const std::string y = std::to_string(-i);
    many.append("10|").append(x).append("|20|").append(y).append(i % 3 == 0 ? "|42|1|" : "|42|0|");
    char written[32];
    expected += ' ';
    expected.append(written, std::to_chars(written, written + 32, std::stod(x)).ptr);
    expected.append(",").append(y).append(",-2.5");
  }
  many += "38|-2.5|0|LWPOLYLINE|8|A|10|0|20|0|10|1|20|1|" + kEnd;  // and a file used again
  expected += "\nA 8: 0,0,0 1,1,0";
  ConvertReport report;
  const std::string result =
      converted(pairs(many), DrawingKind::kContours, std::nullopt, &report, 1000);
  EXPECT_EQ(result.substr(result.find('\n')), expected);
  EXPECT_EQ(report.bulged_segments, 13333u);
  const struct {
    std::FILE* (*temporary)();
    std::string expected;
  } cases[] = {
      {[]() -> std::FILE* {
         errno = ENOSPC;
         return nullptr;
       },
       "line 5: cannot hold the vertices of this LWPOLYLINE in a temporary file: " +
           std::string(std::strerror(ENOSPC))},
      {[]() { return std::fopen("/dev/null", "rb"); },  // takes no write
       "line 5: cannot hold the vertices of this LWPOLYLINE in a temporary file: " +
           std::string(std::strerror(EBADF))},
      {[]() { return std::fopen("/dev/null", "wb"); },  // gives nothing back
       "line 5: cannot read back the vertices of this LWPOLYLINE from a temporary file: " +
           std::string(std::strerror(EBADF))},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(converted(pairs(kEntities + "0|LWPOLYLINE|8|A|10|0|20|0|10|1|20|1|10|2|20|2|" + kEnd),
                        DrawingKind::kContours, std::nullopt, nullptr, 1, c.temporary),
              c.expected);
  }
}

// Each coordinate is written as std::to_chars writes its value, whatever the
// form it was read in: the text itself where that is the shortest.
TEST(Converter, CoordinatesAreWrittenInTheirShortestForm) {
  std::vector<std::string> texts = {"0",
                                    "-0",
                                    "0.0",
                                    "-0.0",
                                    "+5",
                                    "007",
                                    "0.5",
                                    ".5",
                                    "5.",
                                    "100000",
                                    "123000",
                                    "1230",
                                    "1e5",
                                    "1E+05",
                                    "0.0001",
                                    "0.00001",
                                    "0.000012",
                                    "-0.00012",
                                    "123456789012345",
                                    "1234567890123456",
                                    "0.1000",
                                    "3.14159265358979",
                                    "2.718281828459045",
                                    "1e-7",
                                    "-1200.46",
                                    "99999.5"};
  std::mt19937_64 random(7);
  for (int i = 0; i < 3000; ++i) {
    std::uniform_int_distribution<int> digits(1, 17), point(0, 17), sign(0, 3);
    std::string text = sign(random) == 0 ? "-" : "";
    const int n = digits(random), at = point(random);
    for (int k = 0; k < n; ++k) {
      if (k == at && k > 0) text += '.';
      text += static_cast<char>('0' + random() % 10);
    }
    texts.push_back(text);
  }
  std::string drawing = kEntities + "0|LWPOLYLINE|8|A|";
  std::string expected = "\nA 8:";
  for (const std::string& text : texts) {
    drawing += "10|" + text + "|20|0|";
    double value = std::strtod(text.c_str(), nullptr);
    char written[32];
    expected += ' ';
    expected.append(written, std::to_chars(written, written + 32, value + 0.0).ptr);
    expected += ",0,0";
  }
  const std::string result = converted(pairs(drawing + kEnd), DrawingKind::kContours);
  EXPECT_EQ(result.substr(result.find('\n')), expected);
}

// Read on a thread of their own, buffer after buffer, the pairs are those
// read in place, and so are the end and the fault; stopping early is safe.
TEST(Converter, PairsReadAheadAreThoseReadInPlace) {
  std::string many;
  for (int i = 0; many.size() < (std::size_t{3} << 20); ++i) {
    many += " 10\r\n" + std::to_string(i * 0.25) + "\r\n999\r\nvalue with spaces\r\n";
  }
  const std::string cases[] = {
      "",
      many,
      many + "  0\nEOF",
      "  0\n" + std::string(std::size_t{3} << 20, 'x') + "\n  8\nA\n",
      many + "oops\nmore\n",
      many + "  8",
  };
  for (const std::string& drawing : cases) {
    auto all = [](GroupSource& source) {
      std::string seen;
      Group group;
      while (source.next(group)) {
        seen += std::to_string(group.code) + "@" + std::to_string(group.line) + ":" +
                std::string(group.value) + "|";
      }
      return seen + "end " + std::to_string(source.line()) + " " + source.fault().what;
    };
    MemorySource in_place(drawing), ahead(drawing);
    GroupReader reader(in_place);
    GroupsAhead reading_ahead(ahead);
    EXPECT_EQ(all(reading_ahead), all(reader)) << drawing.size();
  }
  for (int taken = 0; taken < 3; ++taken) {  // stopped while it reads on
    MemorySource source(many);
    GroupsAhead reading_ahead(source);
    Group group;
    for (int i = 0; i < taken * 1000; ++i) reading_ahead.next(group);
  }
}

TEST(Converter, DrawingsThatCannotBeReadAreRefusedAtTheirLine) {
  std::string carriage_returns_alone;
  while (carriage_returns_alone.size() <= (std::size_t{64} << 20)) {
    carriage_returns_alone += "  0\rLWPOLYLINE\r  8\rA\r 10\r1\r 20\r2\r";
  }
  const struct {
    std::string drawing;
    std::string expected;
  } cases[] = {
      {std::string("AutoCAD Binary DXF\r\n\x1a\0", 22) + "\x00\x00SECTION",
       "line 1: this is a binary DXF drawing: save it as ASCII DXF, then convert that"},
      {"%PDF-1.4\n%\xE2\xE3\n",
       "line 1: this is not a DXF drawing: its first line is not a group code, found "
       "\"%PDF-1.4\""},
      {pairs(kEntities + "0|LWPOLYLINE|8|A|10|1,5|20|2|" + kEnd),
       "line 10: expected a number for the group code 10, found \"1,5\""},
      {pairs(kEntities + "0|LWPOLYLINE|8|A|10|inf|20|2|" + kEnd),
       "line 10: the group code 10 holds \"inf\", which is not a finite number"},
      {pairs(kEntities + "0|LWPOLYLINE|8|A|10|1e400|20|2|" + kEnd),
       "line 10: the group code 10 holds \"1e400\", which lies beyond the range of a double"},
      {pairs(kEntities + "0|LWPOLYLINE|8|A|10|1|20|-0.18e+310|" + kEnd),
       "line 12: the group code 20 holds \"-0.18e+310\", which lies beyond the range of a double"},
      {pairs(kEntities + "0|LWPOLYLINE|8|A|10|1|20|-nan|" + kEnd),
       "line 12: the group code 20 holds \"-nan\", which is not a finite number"},
      {pairs(kEntities + "0|LWPOLYLINE|8|A|38|1.7e308|10|0|20|1.7e308|210|1|220|0|230|1|" + kEnd),
       "line 5: the world coordinates of a vertex of this LWPOLYLINE lie beyond the range of a "
       "double"},
      {pairs(kEntities +
             "0|POLYLINE|8|A|30|1.7e308|210|1|220|0|230|1|0|VERTEX|10|0|20|1|0|VERTEX|10|0|20|"
             "1.7e308|0|SEQEND|" +
             kEnd),
       "line 23: the world coordinates of this VERTEX lie beyond the range of a double"},
      {pairs(kEntities + "0|HATCH|8|A|91|1|92|0|93|1|72|5|" + kEnd),
       "line 16: a HATCH edge of type 5: expected 1 (line), 2 (circular arc), 3 (elliptic arc) or "
       "4 (spline)"},
      {pairs(kEntities + "0|HATCH|8|A|91|1|10|0|20|0|" + kEnd),
       "line 11: expected a boundary path (group code 92) after the group code 91 of this HATCH, "
       "found the group code 10"},
      {pairs(kEntities + "0|HATCH|8|A|91|1|92|1|93|1|10|0|20|0|" + kEnd),
       "line 15: expected an edge (group code 72) in this HATCH's boundary path, found the group "
       "code 10"},
      {pairs(kEntities + "0|HATCH|91|1|92|2|10|0|20|0|97|0|75|1|8|A|" + kEnd),
       "line 19: the group code 8 of this HATCH comes after its boundary paths (group code 91 at "
       "line 7): it belongs before them"},
      {pairs(kEntities + "0|HATCH|8|A|30|1.7e308|210|1|220|0|230|1|91|1|92|2|10|0|20|1.7e308|" +
             kEnd),
       "line 5: the world coordinates of a vertex of this HATCH lie beyond the range of a double"},
      {pairs(kEntities + "0|HATCH|8|A|91|1|92|0|72|2|10|1e308|20|0|40|1e308|50|0|51|90|" + kEnd),
       "line 5: the world coordinates of a vertex of this HATCH lie beyond the range of a double"},
      {pairs(kEntities + "0|HATCH|8|A|91|1|92|1|93|2|72|2|10|1e308|20|0|40|1e308|50|0|51|90|73|1|"
             "72|1|10|0|20|0|11|1|21|1|" + kEnd),
       "line 5: the world coordinates of a vertex of this HATCH lie beyond the range of a double"},
      {pairs(kEntities + "0|LWPOLYLINE|70|one|" + kEnd),
       "line 8: expected an integer for the group code 70, found \"one\""},
      {pairs(kEntities + "0|LWPOLYLINE|70|one |" + kEnd),
       "line 8: expected an integer for the group code 70, found \"one \""},
      {pairs(kEntities + "0|LWPOLYLINE|70|\"one\"\\two\x7F\x1A|" + kEnd),
       "line 8: expected an integer for the group code 70, found \"\\\"one\\\"\\\\two\\x7F\\x1A\""},
      {pairs(kEntities + "0|LWPOLYLINE|70|for\xC3\xAAt\xC2\x85|" + kEnd),
       "line 8: expected an integer for the group code 70, found \"for\xC3\xAAt\\u0085\""},
      {pairs(kEntities + "0|LWPOLYLINE|70|" + std::string(50, 'x') + "|" + kEnd),
       "line 8: expected an integer for the group code 70, found \"" + std::string(40, 'x') +
           "\"..."},
      {pairs(kEntities + "0|LWPOLYLINE|70||" + kEnd),
       "line 8: expected an integer for the group code 70, found an empty line"},
      {pairs(kEntities + "0|LWPOLYLINE|8|A|10|1|20|2|0|LWPOLY"),
       "line 15: the drawing ends inside its ENTITIES section, without ENDSEC and EOF: it may have "
       "been cut short"},
      {pairs(kEntities + "0|LWPOLYLINE|8"),
       "line 8: the drawing ends after the group code 8, without its value"},
      {pairs("0|SECTION|0|ENDSEC"),
       "line 3: expected the name of the section (group code 2) after SECTION, found "
       "\"ENDSEC\""},
      {pairs("0|SECTION|2|ENTITIES|0|SECTION|2|HEADER"),
       "line 6: the ENTITIES section has no ENDSEC before this SECTION"},
      {pairs("0|SECTION|2|My section\x01|0|SECTION|2|HEADER"),
       "line 6: the \"My section\\x01\" section has no ENDSEC before this SECTION"},
      {pairs("0|LINE|0|EOF"), "line 2: expected SECTION or EOF, found \"LINE\""},
      {pairs("0|SECTION|2|ENTITIES|0|ENDSEC|oops|EOF"),
       "line 7: expected a group code, found \"oops\""},
      {pairs("0|SECTION|2|ENTITIES|0|ENDSEC") + "\n\n", "ext 0,0,0 0,0,0"},
      {"", "line 1: the file is empty"},
      {pairs("0|SECTION|2|HEADER|0|ENDSEC"),
       "line 7: the drawing ends before its ENTITIES section, without EOF: it may have been cut "
       "short"},
      {"  0\rSECTION\r  2\rENTITIES\r",
       "line 1: the lines of this drawing end with a carriage return alone: save it with the line "
       "ends of Windows (CR LF) or of Linux (LF), then convert that"},
      {pairs(kEntities + "0|LWPOLYLINE|8|" + std::string(5000, 'L') + "|" + kEnd),
       "line 8: a layer name of 5000 bytes: no CAD program writes one longer than 4096"},
      {pairs("0|SECTION|2|ENTITIES|0|ENDSEC|\xff\xfe"
             "0\x01|EOF"),
       "line 7: expected a group code, found \"\\xFF\\xFE0\\x01\""},
      // UTF-16, with its byte order mark or without, either way round.
      {std::string("\xFF\xFE \0 \0"
                   "0\0\r\0\n\0S\0",
                   14),
       "line 1: this drawing is saved as UTF-16 text (\"Unicode\"): save it again as DXF from the "
       "CAD program, or as ANSI or UTF-8 in a text editor (Save As, Encoding), then convert that"},
      {std::string("\0 \0 \0"
                   "0\0\r\0\n\0S",
                   12),
       "line 1: this drawing is saved as UTF-16 text (\"Unicode\"): save it again as DXF from the "
       "CAD program, or as ANSI or UTF-8 in a text editor (Save As, Encoding), then convert that"},
      {std::string("0\0\n\0", 4),
       "line 1: this drawing is saved as UTF-16 text (\"Unicode\"): save it again as DXF from the "
       "CAD program, or as ANSI or UTF-8 in a text editor (Save As, Encoding), then convert that"},
      // Lines ended by CR alone, beyond the longest line read.
      {carriage_returns_alone,
       "line 1: the lines of this drawing end with a carriage return alone: save it with the line "
       "ends of Windows (CR LF) or of Linux (LF), then convert that"},
      {std::string(std::size_t{65} << 20, ' ') + "\n",
       "line 1: a line longer than 64 MiB: this is not a DXF drawing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(in_quotes(c.drawing.substr(0, 60)));
    EXPECT_EQ(converted(c.drawing, DrawingKind::kContours), c.expected);
  }
}

TEST(Converter, LayerNamesAreKeptUnlessTheMergeWouldMisreadThem) {
  const struct {
    std::string version, codepage, stored;
    std::string written;  // as the converted file holds it, in Windows-1252
    bool renamed;
  } cases[] = {
      {"AC1015", "ANSI_1252", "CN1", "CN1", false},
      {"AC1015", "ANSI_1252", "Plot lines", "Plot_lines", true},
      {"AC1015", "ANSI_1252", "for\xEAt", "for\xEAt", false},
      {"AC1032", "ANSI_1252", "for\xC3\xAAt", "for\xEAt", false},
      {"AC1009", "ANSI_1252", "for\\U+00EAt", "for\xEAt", false},
      {"AC1015", "ANSI_1252", "\x80uro\x9C", "\x80uro\x9C", false},
      {"AC1032", "ANSI_1252", "\xCE\xB1lpha", "_lpha", true},
      {"AC1032", "ANSI_1252", "\\U+D83D\\U+DE00", "_", true},
      {"AC1015", "ANSI_1251", "\xC4\xE0", "__", true},
      {"AC1032", "ANSI_1252", "bad\xFFutf8", "bad_utf8", true},
      {"AC1015", "ANSI_1252", "tab\there\x1A", "tab_here_", true},
      {"AC1015", "ANSI_1252",
       "non\xA0"
       "break",
       "non_break", true},
      {"AC1015", "ANSI_1252", "SEQEND", "SEQEND_", true},
      {"AC1015", "ANSI_1252", "$EXTMAX", "$EXTMAX_", true},
      {"AC1015", "ANSI_1252", "LWPOLYLINE", "LWPOLYLINE_", true},
      {"AC1015", "ANSI_1252", "seqend", "seqend", false},
      {"AC1015", "ANSI_1252", "", "0", true},
      // The code pages that DXF names, letters without case and '-' as '_'.
      {"AC1015", "DOS850", "caf\x82", "caf\xE9", false},
      {"AC1015", "dos850", "caf\x82", "caf\xE9", false},
      {"AC1015", "ISO8859-2", "\xB9koda", "\x9Akoda", false},
      {"AC1015", "iso8859_2", "\xB9koda", "\x9Akoda", false},
      {"AC1015", "MACINTOSH", "caf\x8E", "caf\xE9", false},
      {"AC1015", "ASCII", "caf\xE9", "caf_", true},
      // Read as Windows reads them where glibc reads otherwise: no euro sign
      // in ISO8859-7, an overline in ISO8859-8, no accent joined to its letter
      // in ANSI_1258, a backslash in JOHAB.
      {"AC1015", "ISO8859-7", "\xA4", "_", true},
      {"AC1015", "ISO8859-8", "\xAF", "_", true},
      {"AC1015", "ANSI_1258", "a\xEC", "a_", true},
      {"AC1015", "JOHAB", "\\\x88\x61", "\\_", true},
      // Double-byte code pages, a character at a time: a lead byte without
      // its trail is one character the name cannot hold.
      {"AC1015", "ANSI_932", "\x81\x8B", "\xB0", false},
      {"AC1015", "DOS932", "\x82\xA0\x81\x91", "__", true},
      {"AC1015", "ANSI_932", "\x81 A\xB1", "__A_", true},
      {"AC1015", "GB2312", "\xA8\xA4", "\xE0", false},
      {"AC1015", "ANSI_936", "\x80", "\x80", false},
      {"AC1015", "BIG5", "\xA4\x40", "_", true},
      {"AC1015", "KSC5601", "\xB0\xA1", "_", true},
      {"AC1015", "ANSI_1361", "\x84\x44", "_", true},
      // Any other value: Windows-1252, whatever the system would make of it.
      {"AC1015", "ANSI_1", "for\xEAt", "for\xEAt", false},
      {"AC1015", "ANSI_4294967297", "for\xEAt", "for\xEAt", false},
      {"AC1015", "ANSI_20127", "for\xEAt", "for\xEAt", false},
      {"AC1015", "ANSI_1200", "for\xEAt", "for\xEAt", false},
      {"AC1015", "ANSI_", "for\xEAt", "for\xEAt", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codepage + " " + in_quotes(c.stored));
    bool renamed = false;
    const std::string name = decode_name(c.stored, text_encoding(c.version, c.codepage));
    EXPECT_EQ(windows_1252(written_name(name, renamed)), c.written);
    EXPECT_EQ(renamed, c.renamed);
  }
  for (const char* page : {"ANSI_1", "ANSI_4294967297", "ANSI_20127", "ANSI_1200", "UTF-8"}) {
    EXPECT_FALSE(text_encoding("AC1015", page).known_code_page()) << page;
  }
  for (const std::string_view page : code_page_names()) {
    EXPECT_TRUE(text_encoding("AC1015", page).known_code_page()) << page;
  }
  EXPECT_EQ(code_page_names().size(), 43u);
}

// Each byte beyond ASCII of each code page that DXF names is read as glibc's
// iconv reads it alone, but where Windows reads it otherwise (the tables
// follow Windows) and where no name could be written with what either gives.
TEST(Converter, CodePagesAreReadAsTheSystemsReadThem) {
  const std::map<std::string, std::map<unsigned, char32_t>> windows = {
      {"ISO8859-7",
       {{0xA1, 0x02BD}, {0xA2, 0x02BC}, {0xA4, 0xFFFD}, {0xA5, 0xFFFD}, {0xAA, 0xFFFD}}},
      {"ISO8859-8", {{0xAF, 0x203E}, {0xFD, 0xFFFD}, {0xFE, 0xFFFD}}},
      {"MACINTOSH", {{0xBD, 0x2126}, {0xC6, 0x2206}}},
      {"ANSI_1255", {{0xCA, 0x05BA}}},
  };
  for (const std::string_view name : code_page_names()) {
    std::string glibc(name);
    if (glibc.starts_with("ISO8859-")) glibc.insert(3, "-");
    if (glibc.starts_with("DOS") || glibc.starts_with("ANSI_")) {
      glibc = "CP" + glibc.substr(glibc.find_first_of("0123456789"));
    }
    const std::map<std::string, std::string> other = {
        {"BIG5", "CP950"}, {"KSC5601", "CP949"}, {"GB2312", "CP936"}, {"CP1361", "JOHAB"}};
    if (other.count(glibc) != 0) glibc = other.at(glibc);
    iconv_t convert = iconv_open("UTF-32LE", glibc.c_str());
    ASSERT_NE(convert, reinterpret_cast<iconv_t>(-1)) << glibc;
    for (unsigned byte = 0x80; byte < 0x100; ++byte) {
      char in = static_cast<char>(byte);
      char32_t out[4] = {};
      char* from = &in;
      char* to = reinterpret_cast<char*>(out);
      std::size_t left = 1, room = sizeof out;
      iconv(convert, nullptr, nullptr, nullptr, nullptr);
      const bool read =
          iconv(convert, &from, &left, &to, &room) != static_cast<std::size_t>(-1) &&
          iconv(convert, nullptr, nullptr, &to, &room) != static_cast<std::size_t>(-1) &&
          room == sizeof out - 4;
      char32_t expected = read ? out[0] : 0xFFFD;
      if ((expected >= 0x80 && expected < 0xA0) || (expected >= 0xE000 && expected < 0xF900)) {
        expected = 0xFFFD;
      }
      const auto page = windows.find(std::string(name));
      if (page != windows.end() && page->second.count(byte) != 0) expected = page->second.at(byte);
      EXPECT_EQ(decode(std::string(1, in), *find_code_page(name)), std::u32string(1, expected))
          << name << " " << std::hex << byte;
    }
    iconv_close(convert);
  }
}

// The layers of model space, each as a polyline of one vertex, at x = 1, 2...
std::string on_layers(std::initializer_list<std::string> layers) {
  std::string text;
  int x = 0;
  for (const std::string& layer : layers) {
    text += "0|LWPOLYLINE|8|" + layer + "|10|" + std::to_string(++x) + "|20|0|";
  }
  return text;
}

// A TABLES section whose LAYER table names these layers.
std::string layer_table(const std::vector<std::string>& layers) {
  std::string text =
      "0|SECTION|2|TABLES|0|TABLE|2|LTYPE|0|LTYPE|2|DASHED|0|ENDTAB|0|TABLE|2|LAYER|";
  for (const std::string& layer : layers)
    text += "0|LAYER|5|1A|100|AcDbLayerTableRecord|2|" + layer + "|70|0|";
  return text + "0|ENDTAB|0|ENDSEC|";
}

// No renaming lands on a name in use: another layer's, of the LAYER table or
// given before (compared without case), or HA_6292 but for the layer kept.
TEST(Converter, TheLayerNamedGoesOnTheLayerTheMergeKeeps) {
  std::vector<std::string> full_table(1024, std::string(4096, 'X'));  // 4 MiB of names
  full_table.push_back("A_B");
  const struct {
    const char* what;
    std::string drawing;
    std::optional<std::string> layer;
    std::string written;  // each polyline's layer, in order
    std::string renamed;  // the summary's line, if any
  } cases[] = {
      {"--layer: its layer, in any case, and no other on HA_6292",
       kEntities + on_layers({"Plots", "HA_6292", "PLOTS", "W"}), "plots",
       "HA_6292 HA_6292_1 HA_6292 W",
       "\"HA_6292\" as \"HA_6292_1\" (HA_6292 holds layer \"plots\" alone)"},
      {"--layer HA_6292", kEntities + on_layers({"Plots", "HA_6292", "PLOTS", "W"}), "HA_6292",
       "Plots HA_6292 PLOTS W", ""},
      {"a name mended into HA_6292, with --layer", kEntities + on_layers({"HA 6292", "plots"}),
       "plots", "HA_6292_1 HA_6292",
       "\"HA 6292\" as \"HA_6292_1\" (HA_6292 holds layer \"plots\" alone)"},
      {"a name mended into HA_6292, without --layer",
       kEntities + on_layers({"HA 6292", "HA_6292", "ha_6292"}), std::nullopt,
       "HA_6292_1 HA_6292 ha_6292",
       "\"HA 6292\" as \"HA_6292_1\" (HA_6292 holds layer \"HA_6292\" alone)"},
      {"a name of the LAYER table is not given to another layer",
       layer_table({"0", "A_B"}) + kEntities + on_layers({"A B", "A_B", "A B"}), std::nullopt,
       "A_B_1 A_B A_B_1", "\"A B\" as \"A_B_1\" (\"A_B\" is another layer's name)"},
      {"nor one without case",
       layer_table({"a_b", "A_B_1"}) + kEntities + on_layers({"A B", "a_b"}), std::nullopt,
       "A_B_2 a_b", "\"A B\" as \"A_B_2\" (\"A_B\" is another layer's name)"},
      {"a layer met after its name was given is numbered itself",
       kEntities + on_layers({"A B", "a_b", "A\tB", "A_B_1"}), std::nullopt,
       "A_B a_b_1 A_B_2 A_B_1_1",
       "\"A B\" as \"A_B\", \"a_b\" as \"a_b_1\" (\"a_b\" is another layer's name), \"A\\tB\" as "
       "\"A_B_2\" (\"A_B\" is another layer's name), \"A_B_1\" as \"A_B_1_1\" (\"A_B_1\" is "
       "another layer's name)"},
      {"one layer in two cases is one layer", kEntities + on_layers({"Plot", "PLOT"}), std::nullopt,
       "Plot PLOT", ""},
      {"a keyword mended into a name of the table",
       layer_table({"SEQEND_"}) + kEntities + on_layers({"SEQEND", "SEQEND_"}), std::nullopt,
       "SEQEND__1 SEQEND_", "\"SEQEND\" as \"SEQEND__1\" (\"SEQEND_\" is another layer's name)"},
      {"the names of a table are kept in mind up to 4 MiB",
       layer_table(full_table) + kEntities + on_layers({"A B", "A_B"}), std::nullopt, "A_B A_B_1",
       "\"A B\" as \"A_B\", \"A_B\" as \"A_B_1\" (\"A_B\" is another layer's name)"},
      {"names of other tables, and of the tables themselves, are no layers",
       layer_table({"X"}) + kEntities + on_layers({"DASHED", "LAYER"}), std::nullopt,
       "DASHED LAYER", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ConvertReport report;
    const std::string result =
        converted(pairs(c.drawing + kEnd), DrawingKind::kPlots, c.layer, &report);
    std::string written;
    std::istringstream polylines(result.substr(result.find('\n') + 1));
    for (std::string line; std::getline(polylines, line);) {
      if (!written.empty()) written += ' ';
      written.append(line, 0, line.find(' '));
    }
    EXPECT_EQ(written, c.written);
    const std::string text = summary(report, {DrawingKind::kPlots, c.layer}, "in.dxf", "out.dxf");
    const std::size_t at = text.find("  layers renamed: ");
    EXPECT_EQ(at == std::string::npos ? "" : text.substr(at + 18, text.find('\n', at) - at - 18),
              c.renamed);
  }
  // The counts: --layer keeps the polylines of its layer alone.
  ConvertReport report;
  const std::string drawing =
      pairs(kEntities + on_layers({"Plots", "HA_6292", "PLOTS", "W"}) + kEnd);
  converted(drawing, DrawingKind::kPlots, "plots", &report);
  EXPECT_EQ(report.kept, 2u);
  EXPECT_EQ(report.from_layer, 2u);
  converted(drawing, DrawingKind::kPlots, "HA_6292", &report);
  EXPECT_EQ(report.from_layer, 1u);
  EXPECT_EQ(report.layers, (std::vector<ConvertReport::Layer>{
                               {"Plots", 1}, {"HA_6292", 1}, {"PLOTS", 1}, {"W", 1}}));
  EXPECT_EQ(summary(report, {DrawingKind::kPlots, "HA_6292"}, "in.dxf", "outha.dxf")
                .substr(summary(report, {DrawingKind::kPlots, "HA_6292"}, "in.dxf", "outha.dxf")
                            .find("  on layer")),
            "  on layer HA_6292, the only layer the merge keeps: the 1 polyline of layer "
            "\"HA_6292\"\n");
  // A layer that holds no polyline, and the names of those that do, quoted.
  converted(pairs("0|SECTION|2|HEADER|9|$ACADVER|1|AC1032|0|ENDSEC|" + kEntities +
                  on_layers({"Plot lines ", "for\xC3\xAAt\rX"}) + kEnd),
            DrawingKind::kPlots, std::nullopt, &report);
  EXPECT_EQ(gives_the_merge_nothing(report, "PLOTS\t"),
            "no polyline of its model space is on layer \"PLOTS\\t\"; its polylines are on "
            "\"Plot lines \" (1), \"for\xC3\xAAt\\rX\" (1)");
  // Without --layer, a second drawing without HA_6292 gives the merge nothing.
  EXPECT_EQ(gives_the_merge_nothing(report, std::nullopt),
            "none of its polylines is on layer HA_6292, the only layer the merge keeps; they are "
            "on \"Plot lines \" (1), \"for\xC3\xAAt\\rX\" (1): name the layer to keep with "
            "--layer NAME");
  // A polyline without vertices is none: nothing of it is written.
  converted(pairs(kEntities + "0|POLYLINE|8|E|66|1|0|SEQEND|" + kEnd), DrawingKind::kPlots,
            std::nullopt, &report);
  EXPECT_EQ(gives_the_merge_nothing(report, "PLOTS"),
            "no polyline of its model space is on layer \"PLOTS\": it has none");
  EXPECT_EQ(gives_the_merge_nothing(report, std::nullopt),
            "none of its polylines is on layer HA_6292, the only layer the merge keeps: it has none");
}

// Whatever the names, with or without --layer: no two layers end on one
// name, none but the one kept on HA_6292, and each renaming is said.
TEST(Converter, NoTwoLayersEndOnOneName) {
  // Bytes that Windows-1252 lacks decode alike, to U+FFFD: their layers are two all the same.
  const std::vector<std::string> pieces = {"A",       "a",       "_",       " ",      "1",
                                           "_1",      "HA_6292", "HA 6292", "ha_6292", "SEQEND",
                                           "\t",      "B",       "\x81",    "\x8d"};
  std::mt19937 random(11);
  auto any_name = [&] {
    std::string name;
    for (int k = 1 + static_cast<int>(random() % 3); k > 0; --k)
      name += pieces[random() % pieces.size()];
    return name;
  };
  auto without_case = [](std::string name) {
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> table, layers;
    for (int i = static_cast<int>(random() % 4); i > 0; --i) table.push_back(any_name());
    for (int i = 1 + static_cast<int>(random() % 12); i > 0; --i) layers.push_back(any_name());
    std::optional<std::string> kept;
    if (random() % 2 == 0) kept = layers[random() % layers.size()];
    if (kept && kept->find_first_of("\x81\x8d") != std::string::npos) kept.reset();  // no UTF-8
    std::string drawing = "0|SECTION|2|TABLES|0|TABLE|2|LAYER|";
    for (const std::string& layer : table) drawing += "0|LAYER|2|" + layer + "|";
    drawing += "0|ENDTAB|0|ENDSEC|" + kEntities;
    for (std::size_t i = 0; i < layers.size(); ++i) {
      drawing += "0|LWPOLYLINE|8|" + layers[i] + "|10|" + std::to_string(i + 1) + "|20|0|";
    }
    ConvertReport report;
    const std::string result = converted(pairs(drawing + kEnd), DrawingKind::kPlots, kept, &report);
    SCOPED_TRACE(in_quotes(drawing) + " --layer " + kept.value_or("(none)"));
    std::istringstream polylines(result.substr(result.find('\n') + 1));
    std::map<std::string, std::string> written_of,
        layer_of;  // by layer, by name written, without case
    std::size_t i = 0;
    for (std::string line; std::getline(polylines, line); ++i) {
      const std::string& layer = layers.at(i);
      const std::string written = line.substr(0, line.find(' '));
      const bool is_kept = kept && without_case(layer) == without_case(*kept);
      EXPECT_EQ(written == "HA_6292", is_kept || (!kept && layer == "HA_6292")) << layer;
      if (is_kept) continue;
      // One name a layer, one layer a name.
      const auto [given, first] = written_of.emplace(layer, written);
      EXPECT_EQ(given->second, written) << layer;
      const auto [owner, fresh] = layer_of.emplace(without_case(written), without_case(layer));
      EXPECT_EQ(owner->second, without_case(layer)) << layer << " as " << written;
      // Said, unless kept as it is.
      if (first && written != layer) {
        std::string decoded;  // as the summary names it
        for (char c : layer) decoded += c == '\x81' || c == '\x8d' ? "\xEF\xBF\xBD" : std::string(1, c);
        EXPECT_TRUE(std::any_of(report.renamed.begin(), report.renamed.end(),
                                [&](const ConvertReport::Renaming& r) {
                                  return r.layer == decoded && r.written == written;
                                }))
            << layer << " as " << written;
      }
    }
    EXPECT_EQ(i, layers.size());
  }
}

TEST(Converter, TheSummarySaysWhatWasWrittenAndWhatNot) {
  ConvertReport report;
  converted(pairs(kEntities +
                  "0|LWPOLYLINE|8|Plot lines|70|1|10|0|20|0|42|1|10|1|20|0|42|-1|0|INSERT|0|INSERT|"
                  "0|CIRCLE|0|Odd\tthing|0|POLYLINE|70|4|0|VERTEX|70|16|0|VERTEX|70|8|10|5|20|5|0|"
                  "SEQEND|" +
                  kEnd),
            DrawingKind::kPlots, std::nullopt, &report);
  EXPECT_EQ(summary(report, {DrawingKind::kPlots, std::nullopt}, "in.dxf", "outha.dxf"),
            "in.dxf converted into outha.dxf, the second drawing (ha) of a merge\n"
            "  written: 2 polylines, 3 vertices\n"
            "  left out: 1 \"Odd\\tthing\", 1 CIRCLE, 2 INSERT (blocks are not expanded), 1 frame "
            "control point\n"
            "  arcs: 2 bulged segments written as straight\n"
            "  layers renamed: \"Plot lines\" as \"Plot_lines\"\n"
            "  extents: of the vertices written: the drawing has none of its own\n");
  // A HATCH's paths: those left out, by why; arcs and bulges written as chords, a
  // whole circle's too, as its one vertex.
  converted(pairs(kEntities +
                  "0|HATCH|8|A|91|5|92|3|72|0|73|1|93|2|10|0|20|0|10|1|20|1|97|1|330|2F|"
                  "92|1|93|1|72|3|10|0|20|0|11|1|21|0|40|0.5|50|0|51|360|73|1|97|0|"
                  "92|1|93|1|72|4|94|3|73|0|74|0|95|0|96|0|97|0|97|0|"
                  "92|1|93|2|72|2|10|0|20|0|40|1|50|0|51|180|73|1|72|1|10|-1|20|0|11|1|21|0|97|0|"
                  "92|2|72|1|73|1|93|2|10|0|20|0|42|1|10|1|20|1|42|0|97|0|"
                  "92|1|93|1|72|2|10|5|20|5|40|1|50|0|51|360|73|1|97|0|"
                  "0|HATCH|67|1|91|1|92|2|10|9|20|9|97|0|0|HATCH|8|A|" +
                  kEnd),
            DrawingKind::kContours, std::nullopt, &report);
  EXPECT_EQ(summary(report, {DrawingKind::kContours, std::nullopt}, "in.dxf", "out.dxf"),
            "in.dxf converted into out.dxf, the first drawing (cn) of a merge\n"
            "  written: 3 polylines, 5 vertices\n"
            "  left out: 1 HATCH in paper space, 1 HATCH path with a spline edge, 1 HATCH path "
            "with an ellipse edge, 1 HATCH without boundary paths, 1 associative HATCH path\n"
            "  arcs: 3 bulged segments written as straight\n"
            "  extents: of the vertices written: the drawing has none of its own\n");
  // Whose the extents are, and why.
  const std::string point = kEntities + "0|LWPOLYLINE|8|A|38|5|10|1|20|2|" + kEnd;
  const struct {
    std::string header;
    DrawingKind kind;
    std::string said;
  } extents[] = {
      {"9|$EXTMIN|10|0|20|0|30|0|9|$EXTMAX|10|9|20|9|30|9|", DrawingKind::kContours,
       "the drawing's own"},
      {"9|$EXTMIN|10|0|20|0|30|0|9|$EXTMAX|10|0|20|0|30|0|", DrawingKind::kContours,
       "of the vertices written: the drawing's own (x 0 to 0, y 0 to 0, z 0 to 0) do not enclose "
       "them"},
      {"9|$EXTMIN|10|0|20|0|30|5|9|$EXTMAX|10|1|20|1.5|30|5|", DrawingKind::kPlots,
       "of the vertices written: the drawing's own (x 0 to 1, y 0 to 1.5) do not enclose them"},
      {"9|$ACADVER|1|AC1015|", DrawingKind::kContours,
       "of the vertices written: the drawing has none of its own"},
      {"9|$EXTMIN|10|0|20|0|30|0|", DrawingKind::kContours,
       "of the vertices written: the drawing's own are incomplete or not numbers"},
      {"9|$EXTMIN|10|0|20|0,5|9|$EXTMAX|10|9|20|9|", DrawingKind::kContours,
       "of the vertices written: the drawing's own are incomplete or not numbers"},
      {"9|$EXTMIN|10|1e+20|20|1e+20|30|1e+20|9|$EXTMAX|10|-1e+20|20|-1e+20|30|-1e+20|",
       DrawingKind::kContours,
       "of the vertices written: the drawing's own have a minimum above their maximum"},
      {"9|$EXTMIN|10|0|20|0|30|9|9|$EXTMAX|10|9|20|9|30|0|", DrawingKind::kPlots,
       "the drawing's own"},
      {"9|$EXTMIN|10|0|20|-1e20|9|$EXTMAX|10|9|20|9|", DrawingKind::kContours,
       "of the vertices written: the drawing's own lie beyond 1e20"},
  };
  for (const auto& c : extents) {
    converted(pairs("0|SECTION|2|HEADER|" + c.header + "0|ENDSEC|" + point), c.kind, std::nullopt,
              &report);
    const std::string text = summary(report, {c.kind, std::nullopt}, "in.dxf", "out.dxf");
    const std::size_t at = text.find("  extents: ");
    EXPECT_EQ(text.substr(at + 11, text.find('\n', at) - at - 11), c.said) << c.header;
  }
  // A code page that DXF does not name: said, where the names are in it.
  const std::string header = "0|SECTION|2|HEADER|9|$ACADVER|1|";
  const std::string codepage = "|9|$DWGCODEPAGE|3|ANSI_4294967297|0|ENDSEC|";
  converted(
      pairs(header + "AC1015" + codepage + kEntities + "0|LWPOLYLINE|8|for\xEAt|10|1|20|1|" + kEnd),
      DrawingKind::kContours, std::nullopt, &report);
  EXPECT_EQ(summary(report, {}, "in.dxf", "outcn.dxf"),
            "in.dxf converted into outcn.dxf, the first drawing (cn) of a merge\n"
            "  written: 1 polyline, 1 vertex\n"
            "  code page: \"ANSI_4294967297\" is none that DXF names: names read as Windows-1252\n"
            "  extents: of the vertices written: the drawing has none of its own\n");
  converted(pairs(header + "AC1021" + codepage + kEntities +
                  "0|LWPOLYLINE|8|for\xC3\xAAt|10|1|20|1|" + kEnd),
            DrawingKind::kContours, std::nullopt, &report);
  EXPECT_EQ(report.unknown_code_page, "");
  // More layers renamed than are listed: the first ones said, then how many more.
  std::string many = kEntities;
  for (int i = 0; i < 5000; ++i) {
    many += "0|LWPOLYLINE|8|L " + std::to_string(i) + "|10|1|20|1|0|LWPOLYLINE|8|L " +
            std::to_string(i) + "|10|1|20|1|";
  }
  converted(pairs(many + kEnd), DrawingKind::kContours, std::nullopt, &report);
  EXPECT_EQ(report.renamed.size(), 20u);
  EXPECT_EQ(report.renamed.size() + report.more_renamed, 5000u);
  EXPECT_EQ(report.polylines, 10000u);
}

}  // namespace
}  // namespace quorvane
