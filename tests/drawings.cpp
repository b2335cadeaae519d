#include "drawings.h"

#include "keywords.h"

#include <cstdio>
#include <string>
#include <vector>

namespace quorvane::testing {
namespace {

int pick(std::mt19937& rng, int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }

// Reals as drawings hold them, ties and negative whole numbers included.
std::string real(std::mt19937& rng, bool odd) {
  char text[64];
  switch (pick(rng, 8)) {
    case 0:
      std::snprintf(text, sizeof text, "%d.5", pick(rng, 2000) - 1000);
      return text;
    case 1:
      std::snprintf(text, sizeof text, "%d.0", -pick(rng, 100));
      return text;
    case 2: {
      static const char* const kForms[] = {
          ".5", "5.", "-0.6", "1.2e3", "-1.5E-2", "0.49999999999999994", "+7", "-0", "12.4", "1e"};
      return kForms[pick(rng, odd ? 10 : 9)];  // "1e" last: no number
    }
    default:
      std::snprintf(text, sizeof text, "%.*f", pick(rng, 7),
                    (static_cast<double>(rng()) / 4294967296.0 - 0.5) * 20000.0);
      return text;
  }
}

std::string layer(std::mt19937& rng, bool second, bool odd) {
  constexpr int kKeywordCount = static_cast<int>(std::size(kKeywords));
  if (odd && pick(rng, 25) == 0) return std::string(kKeywords[pick(rng, kKeywordCount)]);
  if (second) {
    static const char* const kLayers[] = {"HA_6292", "HA_6292",  "HA_6292", "0",
                                          "WALLS",   "HA_6292X", "ha_6292"};
    return kLayers[pick(rng, 7)];
  }
  static const char* const kLayers[] = {"CN1", "CN2", "0", "CONTOUR_100"};
  return kLayers[pick(rng, 4)];
}

struct Lines {
  std::vector<std::string> lines;
  void add(std::string line) { lines.push_back(std::move(line)); }
  void add(std::initializer_list<const char*> more) {
    for (const char* l : more) lines.emplace_back(l);
  }
  std::string join(std::mt19937& rng) const {
    const char* end = pick(rng, 2) ? "\r\n" : "\n";
    bool last_ended = pick(rng, 6) != 0;
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      text += lines[i];
      if (i + 1 < lines.size() || last_ended) text += end;
    }
    return text;
  }
};

void extent(Lines& d, std::mt19937& rng, const char* name, bool odd) {
  d.add({"  9", name});
  int codes = pick(rng, 5) == 0 ? 2 : 3;
  for (int c = 0; c < codes; ++c) {
    d.add(c == 0 ? " 10" : c == 1 ? " 20" : " 30");
    d.add(real(rng, odd));
  }
}

void header(Lines& d, std::mt19937& rng, bool odd) {
  d.add({"  0", "SECTION", "  2", "HEADER"});
  if (pick(rng, 8) != 0) extent(d, rng, "$EXTMIN", odd);
  if (pick(rng, 8) != 0) extent(d, rng, "$EXTMAX", odd);
  if (pick(rng, 6) == 0) extent(d, rng, "$EXTMIN", odd);  // a second one wins
  d.add({"  9", "$LIMCHECK", " 70", "     0", "  0", "ENDSEC"});
}

// An LWPOLYLINE as programs of the R2000 era write it: a handle and
// subclass markers or not, its vertices as pairs of 10 and 20.
void lwpolyline(Lines& d, std::mt19937& rng, const std::string& name, bool odd) {
  d.add("LWPOLYLINE");
  if (pick(rng, 2)) d.add({"  5", "2F"});
  if (pick(rng, 2)) d.add({"100", "AcDbEntity"});
  d.add("  8");
  d.add(name);
  if (pick(rng, 2)) d.add({"100", "AcDbPolyline"});
  const int vertices = pick(rng, 4) + 1;
  d.add({" 90"});
  d.add(std::to_string(vertices));
  d.add({" 70", "     0"});
  for (int v = 0; v < vertices; ++v) {
    d.add(" 10");
    d.add(real(rng, odd));
    d.add(" 20");
    d.add(real(rng, odd));
  }
  d.add("  0");
}

// Now and then a handle between an entity's name and its layer, as drawings
// of R12 writers that give every entity one hold it.
void entity_start(Lines& d, std::mt19937& rng, const char* entity, bool odd) {
  d.add(entity);
  if (odd && pick(rng, 40) == 0) d.add({"  5", "1A"});
  d.add("  8");
}

}  // namespace

std::string contour_drawing(std::mt19937& rng, int polylines, bool odd) {
  Lines d;
  header(d, rng, odd);
  d.add({"  0", "SECTION", "  2", "ENTITIES", "  0"});
  for (int p = 0; p < polylines; ++p) {
    std::string name = layer(rng, false, odd);
    if (odd && pick(rng, 40) == 0) lwpolyline(d, rng, name, odd);
    d.add({"POLYLINE", "  8"});
    d.add(name);
    d.add({" 66", "1", " 10", "0", " 20", "0", " 30"});
    d.add(std::to_string(pick(rng, 400) - 100));
    if (odd && pick(rng, 10) == 0)
      d.add({" 70", "     8"});  // a layout the pattern does not expect
    d.add("  0");
    for (int v = pick(rng, 6); v > 0; --v) {
      d.add({"VERTEX", "  8"});
      d.add(pick(rng, 10) == 0 ? layer(rng, false, odd) : name);
      d.add({" 70", "    32", " 10"});
      d.add(real(rng, odd));
      d.add(" 20");
      d.add(real(rng, odd));
      d.add(" 30");
      d.add(real(rng, odd));
      d.add("  0");
    }
    d.add({"SEQEND", "  8"});
    d.add(name);
    d.add("  0");
  }
  d.add("ENDSEC");
  if (pick(rng, 5) == 0) d.add({"  0", "SECTION", "  2", "OBJECTS", "  0", "ENDSEC"});
  d.add({"  0", "EOF"});
  return d.join(rng);
}

std::string ha_drawing(std::mt19937& rng, int polylines, bool odd) {
  Lines d;
  header(d, rng, odd);
  d.add({"  0", "SECTION", "  2", "ENTITIES", "  0"});
  for (int p = 0; p < polylines; ++p) {
    std::string name = layer(rng, true, odd);
    if (odd && pick(rng, 8) == 0) lwpolyline(d, rng, layer(rng, true, odd), odd);
    entity_start(d, rng, "POLYLINE", odd);
    d.add(name);
    d.add({" 66", "1", " 70"});
    d.add("     " + std::to_string(pick(rng, 2)));
    d.add({" 40", "     0", "  0"});
    for (int v = pick(rng, 6); v > 0; --v) {
      entity_start(d, rng, "VERTEX", odd);
      d.add(pick(rng, 8) == 0 ? layer(rng, true, odd) : name);
      d.add({" 70", "    0", " 10"});
      d.add(real(rng, odd));
      d.add(" 20");
      d.add(real(rng, odd));
      d.add("  0");
    }
    d.add({"SEQEND", "  8"});
    d.add(name);
    d.add("  0");
  }
  d.add({"ENDSEC", "  0", "EOF"});
  return d.join(rng);
}

std::string damaged(std::string drawing, std::mt19937& rng) {
  auto line_start = [&](std::size_t at) {
    std::size_t nl = drawing.rfind('\n', at);
    return nl == std::string::npos ? 0 : nl + 1;
  };
  // The keywords, or a token a layout holds elsewhere.
  static const char* const kOthers[] = {"HA_6292", "10", "-", "q", "1.5"};
  auto stray = [&] {
    const auto keywords = static_cast<int>(std::size(kKeywords));
    const int k = pick(rng, keywords + 5);
    return k < keywords ? std::string(kKeywords[k]) : std::string(kOthers[k - keywords]);
  };
  for (int faults = pick(rng, 3) + 1; faults > 0 && !drawing.empty(); --faults) {
    std::size_t at = rng() % drawing.size();
    std::size_t start = line_start(at);
    std::size_t end = drawing.find('\n', at);
    end = end == std::string::npos ? drawing.size() : end + 1;
    switch (pick(rng, 8)) {
      case 0:  // a line lost
        drawing.erase(start, end - start);
        break;
      case 1:  // a line doubled
        drawing.insert(start, drawing.substr(start, end - start));
        break;
      case 2:  // two lines joined
        if (end < drawing.size()) drawing.erase(end - 1, 1);
        break;
      case 3:  // a stray token
        drawing.insert(start, stray() + "\n");
        break;
      case 4:  // Ctrl-Z, and whatever follows it
        drawing.insert(at, pick(rng, 2) ? "\x1a"
                                        : "\x1a"
                                          "POLYLINE\n");
        break;
      case 6:  // a NUL byte: no DXF text, or a UTF-16 one
        drawing.insert(at, 1, '\0');
        break;
      case 7:  // the opening of a binary DXF
        if (pick(rng, 3) == 0) drawing.insert(0, std::string("AutoCAD Binary DXF\r\n\x1a\0", 22));
        break;
      default:  // cut off
        drawing.resize(at);
    }
  }
  return drawing;
}

}  // namespace quorvane::testing
