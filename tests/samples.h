// Two small drawings, laid out as the tool expects, and what merging them gives.
#ifndef QUORVANE_SAMPLES_H
#define QUORVANE_SAMPLES_H

#include <string>

namespace quorvane::testing {

/// Each "\n" stored as CR LF, as in the merged file.
inline std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

inline const std::string kContour =
    "  0\nSECTION\n  2\nHEADER\n"
    "  9\n$EXTMIN\n 10\n-3.7\n 20\n512.9\n 30\n99.0\n"
    "  9\n$EXTMAX\n 10\n1200.46\n 20\n845.5\n 30\n101.2\n"
    "  9\n$LIMCHECK\n 70\n     0\n  0\nENDSEC\n"
    "  0\nSECTION\n  2\nENTITIES\n"
    "  0\nPOLYLINE\n  8\nCN1\n 66\n1\n 10\n0\n 20\n0\n 30\n100\n"
    "  0\nVERTEX\n  8\nCN1\n 70\n    32\n 10\n1200.46\n 20\n845.5\n 30\n101.2\n"
    "  0\nSEQEND\n  8\nCN1\n"
    "  0\nENDSEC\n  0\nEOF\n";

inline const std::string kHa =
    "  0\nSECTION\n  2\nENTITIES\n"
    "  0\nPOLYLINE\n  8\nHA_6292\n 66\n1\n 70\n     1\n 40\n     0\n"
    "  0\nVERTEX\n  8\nHA_6292\n 70\n    0\n 10\n15.5\n 20\n-15.5\n"
    "  0\nSEQEND\n  8\nHA_6292\n"
    "  0\nPOLYLINE\n  8\nWALLS\n 66\n1\n 70\n     0\n 40\n     0\n"
    "  0\nVERTEX\n  8\nHA_6292\n 70\n    0\n 10\n-3.0\n 20\n-0.6\n"
    "  0\nVERTEX\n  8\nWALLS\n 70\n    0\n 10\n1\n 20\n2\n"
    "  0\nSEQEND\n  8\nWALLS\n"
    "  0\nENDSEC\n  0\nEOF\n";

inline const std::string kHeaderOfContour = crlf(
    "  0\nSECTION\n  2\nHEADER\n  9\n$EXTMIN\n 10\n-3\n 20\n512\n 30\n0\n"
    "  9\n$EXTMAX\n 10\n1200\n 20\n845\n 30\n101\n  0\nENDSEC\n"
    "  0\nSECTION\n  2\nENTITIES\n  0\n");

inline const std::string kMerged =
    kHeaderOfContour +
    crlf(
        "POLYLINE\n  8\nCN1\n  66\n1\n 10\n     0\n 20\n     0\n 30\n100\n  0\n"
        "VERTEX\n  8\nCN1\n 70\n    32\n 10\n1200\n 20\n846\n 30\n101\n  0\n"
        "SEQEND\n0\n"
        "POLYLINE\n  8\nHA_6292\n  66\n1\n 70\n     1\n 40\n     0\n  30\n0\n 0\n"
        "VERTEX\n  8\nHA_6292\n 70\n    0\n 10\n16\n 20\n-15\n  30\n0\n  0\n"
        "SEQEND\n0\n"
        "SEQEND\n0\n"  // the HA_6292 vertex of a WALLS polyline is not copied
        "ENDSEC\n0\nEOF\n");

inline const std::string kMergeConsole =
    "\n\tTreatment\n"
    "\n\tReading the first file \n\n"
    "\tCN record 1            \r        "
    "\n\n\tFirst File Data"
    "\n\n\t\tmin x = -3.700000 min y = 512.900000 "
    "\n\t\tmax x = 1200.460000 max y = 845.500000 "
    "\n\t\tmin z = 99.000000 max z = 101.200000 "
    "\n\n\tNew Lecture\n\n"
    "\t\trecord 1            \r     "
    "\n\n\tReading the second file \n\n"
    "\t\tHA record 1            \r     "
    "\n\n\tResulting data"
    "\n\n\t\tmin x = -3.700000 min y = 512.900000 "
    "\n\t\tmax x = 1200.460000 max y = 845.500000 "
    "\n\t\tmin z = 0.000000 max z = 101.200000 ";

/// The warning these two drawings give: they do not overlap.
inline const std::string kSampleWarning =
    "quorvane_tool: warning: the HA_6292 polylines of c:\\images\\site4\\northha.dxf lie outside "
    "the extents of c:\\images\\site4\\northcn.dxf (x -3.7 to 1200.46, y 512.9 to 845.5): are "
    "both drawings in the same coordinate system?\n";

}  // namespace quorvane::testing

#endif
