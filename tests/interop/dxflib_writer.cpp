// Writes a drawing with dxflib, as a program built on it would: polylines of
// the contour kind (3D) or of the plots kind (2D, on HA_6292 and WALLS).
//   dxflib_writer <file.dxf> r12|r2000 cn|ha
#include <dxflib/dl_dxf.h>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: dxflib_writer <file.dxf> r12|r2000 cn|ha\n");
    return 2;
  }
  const bool r12 = std::strcmp(argv[2], "r12") == 0;
  const bool contours = std::strcmp(argv[3], "cn") == 0;
  DL_Dxf dxf;
  std::unique_ptr<DL_WriterA> dw(dxf.out(argv[1], r12 ? DL_Codes::AC1009 : DL_Codes::AC1015));
  if (dw == nullptr) {
    std::fprintf(stderr, "dxflib cannot write %s\n", argv[1]);
    return 1;
  }
  dxf.writeHeader(*dw);
  dw->sectionEnd();
  dw->sectionEntities();
  for (int p = 0; p < 4; ++p) {
    const char* layer = contours ? "CN1" : p % 2 == 0 ? "HA_6292" : "WALLS";
    dxf.writePolyline(*dw, DL_PolylineData(5, 0, 0, contours ? 8 : p % 2),
                      DL_Attributes(layer, 256, -1, "BYLAYER", 1.0));
    for (int v = 0; v < 5; ++v) {
      dxf.writeVertex(*dw, DL_VertexData(100.5 * v + p, 20.25 * v - p, contours ? 10.0 * p : 0.0));
    }
    dxf.writePolylineEnd(*dw);
  }
  dw->sectionEnd();
  dw->dxfEOF();
  dw->close();
  return 0;
}
