// Reads a DXF file with dxflib and prints every polyline it sees, one line a
// polyline ("P <layer> <flags>") followed by one line a vertex ("V x y z").
#include <dxflib/dl_creationadapter.h>
#include <dxflib/dl_dxf.h>

#include <cstdio>

namespace {

class Polylines : public DL_CreationAdapter {
 public:
  void addPolyline(const DL_PolylineData& data) override {
    std::printf("P %s %d\n", getAttributes().getLayer().c_str(), data.flags);
  }
  void addVertex(const DL_VertexData& data) override {
    std::printf("V %.6f %.6f %.6f\n", data.x, data.y, data.z);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dxflib_reader <file.dxf>\n");
    return 2;
  }
  Polylines polylines;
  DL_Dxf dxf;
  if (!dxf.in(argv[1], &polylines)) {
    std::fprintf(stderr, "dxflib cannot read %s\n", argv[1]);
    return 1;
  }
  return 0;
}
