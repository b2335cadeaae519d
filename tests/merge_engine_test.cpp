#include "merge_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "drawings.h"
#include "in_memory_merge.h"
#include "reference_model.h"
#include "samples.h"

namespace quorvane {
namespace {

using namespace std::string_literals;
using testing::crlf;
using testing::MergeResult;

// The ways a run merges: the passes in turn; side by side, the second input
// copied after the first, into a part file on a thread of its own, or into a
// part that takes no byte, when it is copied again after the first.
enum class Way { kInTurn, kSideBySide, kWithPart, kPartUnwritable };
constexpr Way kEveryWay[] = {Way::kInTurn, Way::kSideBySide, Way::kWithPart, Way::kPartUnwritable};

MergeResult merge(const std::string& first, const std::string& second,
                  std::size_t block = TokenStream::kDefaultBlock, Way way = Way::kInTurn) {
  int error = -1;
  std::FILE* part = way == Way::kWithPart         ? std::tmpfile()
                    : way == Way::kPartUnwritable ? std::fopen("/dev/null", "rb")
                                                  : nullptr;
  MergeResult result = testing::in_memory_merge(first, second, block, nullptr, &error,
                                                way != Way::kInTurn, part);
  EXPECT_EQ(error, 0);
  return result;
}

TEST(Merge, SampleDrawings) {
  MergeResult r = merge(testing::kContour, testing::kHa);
  EXPECT_EQ(r.merged, testing::kMerged);
  EXPECT_EQ(r.console, testing::kMergeConsole);
}

TEST(Merge, CrLfLineEndsAndTinyBlocksChangeNothing) {
  MergeResult r = merge(crlf(testing::kContour), crlf(testing::kHa), 3);
  EXPECT_EQ(r.merged, testing::kMerged);
  EXPECT_EQ(r.console, testing::kMergeConsole);
}

const std::string kEnd = crlf("ENDSEC\n0\nEOF\n");

// "" when the tool and the model agree: on the drawing refused and its line,
// or on the whole merged file and console.
std::string same(const MergeResult& got, const MergeResult& expected) {
  if (got.refused != expected.refused || got.line != expected.line) {
    return "refused " + std::to_string(got.refused) + " at line " + std::to_string(got.line) +
           ", the model " + std::to_string(expected.refused) + " at line " +
           std::to_string(expected.line);
  }
  if (expected.refused != 0) return "";
  if (got.merged != expected.merged) return "the merged files differ";
  if (got.console != expected.console) return "the consoles differ";
  return "";
}

// The merged file without its header and its end.
std::string entities(const MergeResult& r) {
  std::size_t start = r.merged.find("ENTITIES\r\n  0\r\n") + 15;
  return r.merged.substr(start, r.merged.size() - start - kEnd.size());
}

TEST(Merge, ExtentsComeFromTheFirstHeaderOnly) {
  // Only codes 10 and 20 for $EXTMIN; a second $EXTMAX wins; the code after them ends each list.
  std::string first =
      "$EXTMIN 10 1.5 20 -2.5 9 $EXTMAX 10 7 20 8 30 9.99 9 $EXTMAX 30 -4.5 10 -7.7 9";
  std::string second = "$EXTMIN 10 100 20 100 30 100 9";
  MergeResult r = merge(first, second);
  EXPECT_EQ(r.console.substr(r.console.find("First")),
            "First File Data"
            "\n\n\t\tmin x = 1.500000 min y = -2.500000 "
            "\n\t\tmax x = -7.700000 max y = 8.000000 "
            "\n\t\tmin z = 0.000000 max z = -4.500000 "
            "\n\n\tNew Lecture\n\n"
            "\n\n\tReading the second file \n\n"
            "\n\n\tResulting data"
            "\n\n\t\tmin x = 1.500000 min y = -2.500000 "
            "\n\t\tmax x = -7.700000 max y = 8.000000 "
            "\n\t\tmin z = 0.000000 max z = -4.500000 ");
  EXPECT_EQ(r.merged, crlf("  0\nSECTION\n  2\nHEADER\n  9\n$EXTMIN\n 10\n1\n 20\n-2\n 30\n0\n"
                           "  9\n$EXTMAX\n 10\n-7\n 20\n8\n 30\n-4\n  0\nENDSEC\n"
                           "  0\nSECTION\n  2\nENTITIES\n  0\n") +
                          kEnd);
}

TEST(Merge, ExtentListsEndWhenACodeCannotBeRead) {
  MergeResult r = merge("$EXTMIN 10 5.5 20", "");
  EXPECT_NE(r.console.find("min x = 5.500000 min y = 0.000000 "), std::string::npos);
  r = merge("$EXTMAX 10 3 20 4 SECTION 30 99", "");
  EXPECT_NE(r.console.find("max x = 3.000000 max y = 4.000000 \n\t\tmin z = 0.000000 max z = "
                           "0.000000 "),
            std::string::npos);
}

TEST(Merge, ALastKeywordBeforeTheEndIsCopiedOnce) {
  MergeResult r = merge("SEQEND\n", "SEQEND\r\n");
  EXPECT_EQ(entities(r), crlf("SEQEND\n0\nSEQEND\n0\n"));
  r = merge("POLYLINE\n", "");
  EXPECT_EQ(r.console.substr(0, r.console.find("\n\n\tFirst")),
            "\n\tTreatment\n\n\tReading the first file \n\n\tCN record 1            \r        ");
}

// Inside the entities a copy pass writes, every step reads what the layout
// puts there, or the drawing is refused at the line of the token that does
// not fit (of the keyword, for a POLYLINE or VERTEX where it cannot come; of
// the line after the last line feed, for a drawing that ends too soon). Each
// case holds the tool and the model alike.
TEST(Merge, DrawingsNotLaidOutAsTheMergeReadsAreRefusedAtTheirLine) {
  const std::string poly = "POLYLINE\n8\nL\n66\n1\n10\n0\n20\n0\n30\n5\n0\n";    // lines 1-12
  const std::string vertex = "VERTEX\n8\nL\n70\n32\n10\n1\n20\n2\n30\n3\n0\n";   // 12 lines
  const std::string ha = "POLYLINE\n8\nHA_6292\n66\n1\n70\n0\n40\n0\n0\n";       // lines 1-10
  const std::string ha_vertex = "VERTEX\n8\nHA_6292\n70\n0\n10\n1\n20\n2\n0\n";  // 10 lines
  auto with_x = [&](const std::string& x) {
    return poly + "VERTEX\n8\nL\n70\n32\n10\n" + x + "\n20\n2\n30\n3\n0\nSEQEND\n";
  };
  const struct {
    const char* name;
    std::string first, second;
    int refused;
    unsigned long long line;
  } cases[] = {
      {"laid out", poly + vertex + "SEQEND\n", ha + ha_vertex + "SEQEND\n", 0, 0},
      {"a vertex outside any polyline", "\n" + vertex, "", 1, 2},
      {"a polyline inside a polyline", poly + poly, "", 1, 13},
      {"the last polyline without SEQEND", poly + vertex, "", 1, 25},
      {"without SEQEND nor a last line feed", poly + "VERTEX 8 L 70 32 10 1 20 2 30 3 0", "", 1,
       13},
      {"the drawing ends inside a vertex", poly + "VERTEX\n8\nL\n70\n32\n10\n1\n", "", 1, 20},
      {"a layer code that is not 8", "POLYLINE\n5\n1A\n", "", 1, 2},
      {"x under code 11", poly + "VERTEX\n8\nL\n70\n32\n11\n1\n20\n2\n30\n3\n0\nSEQEND\n", "", 1,
       18},
      {"a polyline's point as 0.0", "POLYLINE\n8\nL\n66\n1\n10\n0.0\n", "", 1, 7},
      {"an integer code then text", "POLYLINE\n8\nL\n73\nCONTINUOUS\n", "", 1, 5},
      {"a real code then a number", "POLYLINE\n8\nL\n40\n1.5\n10\n0\n20\n0\n30\n5\n0\nSEQEND\n", "",
       0, 0},
      {"a code of no type", "POLYLINE\n8\nL\n66\n1\n1072\n0\n", "", 1, 6},
      {"the code 0 inside the entity", "POLYLINE\n8\nL\n66\n1\n0\n0\n", "", 1, 6},
      {"an entity that runs on", "POLYLINE\n8\nL\n66\n1\n10\n0\n20\n0\n30\n5\n70\n", "", 1, 12},
      {"an integer beyond 32 bits", "POLYLINE\n8\nL\n66\n1\n10\n2147483648\n", "", 1, 7},
      {"the least integer",
       "POLYLINE\n8\nL\n66\n-2147483648\n10\n-2147483648\n20\n0\n30\n5\n0\nSEQEND\n", "", 0, 0},
      {"an exponent without digits", with_x("1e"), "", 1, 19},
      {"an infinity", with_x("inf"), "", 1, 19},
      {"a NaN", with_x("-nan"), "", 1, 19},
      {"a hexadecimal real", with_x("0x1p3"), "", 1, 19},
      {"a lone point", with_x("."), "", 1, 19},
      {"a number and more", with_x("1.5x"), "", 1, 19},
      {"numbers of every decimal form",
       with_x(".5") + with_x("5.") + with_x("1E+03") + with_x("1e999"), "", 0, 0},
      {"CR LF, a Ctrl-Z, no SEQEND", poly + "\r\n\r\n\x1a\n\n\n", "", 1, 15},
      {"a layer code 8.0", "", "POLYLINE\n8.0\nHA_6292\n", 2, 2},
      {"layer codes +8 and 008", "",
       "POLYLINE\n+8\nHA_6292\n66\n1\n70\n0\n40\n0\n0\nVERTEX\n008\n"
       "HA_6292\n70\n0\n10\n1\n20\n2\n0\nSEQEND\n",
       0, 0},
      {"a layer code -8", "", "\n\nPOLYLINE\n-8\nHA_6292\n", 2, 4},
      {"a lone HA_6292 vertex", "", ha_vertex + "SEQEND\n" + ha_vertex, 0, 0},
      {"a layer code 8x after a lone vertex", "", ha_vertex + "VERTEX\n8x\nHA_6292\n", 2, 12},
      {"an HA_6292 polyline inside another", "", ha + ha, 2, 11},
      {"an HA_6292 polyline without SEQEND", "", ha + ha_vertex, 2, 21},
      {"a vertex whose y is under 30", "", ha + "VERTEX\n8\nHA_6292\n70\n0\n10\n1\n30\n2\n0\n", 2,
       18},
      {"the first fault is the first drawing's", poly, ha, 1, 13},
      // Entities the merge cannot read, and bytes that are no DXF text.
      {"an LWPOLYLINE in the first drawing", poly + vertex + "SEQEND\n8\nL\n0\nLWPOLYLINE\n8\nL\n",
       "", 1, 29},
      {"an LWPOLYLINE as the layer of a SEQEND", poly + vertex + "SEQEND\n8\nLWPOLYLINE\n", "", 1,
       27},
      {"an LWPOLYLINE as a layer copied", "POLYLINE\n8\nLWPOLYLINE\n66\n1\n10\n0\n20\n0\n30\n5\n0\n"
       "SEQEND\n", "", 0, 0},
      {"a handle before the layer of a polyline", "", "POLYLINE\n5\n1A\n8\nHA_6292\n", 2, 2},
      {"a handle before the layer of another layer's vertex", "",
       "POLYLINE\n8\nWALLS\n66\n1\n70\n0\n40\n0\n0\nVERTEX\n5\n2B\n8\nWALLS\n", 2, 12},
      {"the drawing ends after a POLYLINE", "", ha + ha_vertex + "SEQEND\n0\nPOLYLINE\n", 2, 24},
      {"the drawing ends before a layer", "", "SEQEND\nVERTEX\n  8\n", 2, 4},
      {"an LWPOLYLINE on HA_6292", "", ha + ha_vertex + "SEQEND\n0\nLWPOLYLINE\n5\n2C\n100\n"
       "AcDbEntity\n8\nHA_6292\n100\nAcDbPolyline\n90\n1\n10\n1\n20\n2\n0\nENDSEC\n", 2, 23},
      {"an LWPOLYLINE on another layer", "",
       "LWPOLYLINE\n5\n2C\n8\nWALLS\n90\n1\n10\n1\n20\n2\n0\n" + ha + ha_vertex + "SEQEND\n",
       0, 0},
      {"HA_6292 only after the LWPOLYLINE's end", "",
       "LWPOLYLINE\n8\nWALLS\n0\n8\nHA_6292\n" + ha + "SEQEND\n", 0, 0},
      {"HA_6292 as a value of another code", "", "LWPOLYLINE\n8\nWALLS\n3\nHA_6292\n+0\nX\n", 0,
       0},
      {"an LWPOLYLINE on HA_6292 that ends the drawing", "", "\nLWPOLYLINE\n 008\nHA_6292\n7", 2,
       2},
      {"the LWPOLYLINE comes before a fault among its pairs", "",
       "LWPOLYLINE\n8\nHA_6292\nVERTEX\n5\n", 2, 1},
      {"a binary first drawing", "AutoCAD Binary DXF\r\n\x1a\0\x01\x02"s, ha, 1, 1},
      {"a binary second drawing", poly + vertex + "SEQEND\n", "AutoCAD Binary DXF\r\n\x1a\0"s, 2,
       1},
      {"a UTF-16 drawing", "\xff\xfe" "0\0\r\0\n\0S\0"s, "", 1, 1},
      {"a NUL byte among the entities", poly + vertex + "\n\0SEQEND\n"s, "", 1, 26},
      {"a NUL byte inside a coordinate", with_x("1.5\0"s), "", 1, 19},
      {"a NUL byte in the second drawing's header", "", "HEADER\n$EXTMIN\n\0"s + ha, 2, 3},
      {"a NUL byte after a Ctrl-Z", poly + vertex + "SEQEND\n\x1a\0"s, "\x1a\0"s, 0, 0},
      {"a Ctrl-Z inside a text value", poly + vertex + "SEQEND\n0\nTEXT\n1\nnote \x1a here\n" + poly +
       vertex + "SEQEND\n", "", 1, 29},
      {"blanks, Ctrl-Z and NUL bytes after a Ctrl-Z", poly + vertex + "SEQEND\n\x1a\r\n \x1a\0"s,
       ha + ha_vertex + "SEQEND\n\x1a", 0, 0},
      {"a second drawing that goes on after a Ctrl-Z", poly + vertex + "SEQEND\n",
       "\n\x1a" + ha + ha_vertex + "SEQEND\n", 2, 2},
      {"a NUL byte in the first drawing before the second's fault", "\0"s, "POLYLINE\n5\n", 1, 1},
  };
  for (const auto& c : cases) {
    for (std::size_t block : {std::size_t{2}, TokenStream::kDefaultBlock}) {
      for (Way way : kEveryWay) {
        MergeResult got = merge(c.first, c.second, block, way);
        MergeResult expected = testing::reference_merge(c.first, c.second);
        EXPECT_EQ(same(got, expected), "") << c.name << ", blocks of " << block << ", way "
                                           << static_cast<int>(way);
        EXPECT_EQ(got.refused, c.refused) << c.name;
        EXPECT_EQ(got.line, c.line) << c.name;
      }
    }
  }
}

TEST(Merge, KeywordsAreMetWhereverTheyStand) {
  // A layer named SEQEND ends the vertex with SEQEND lines; lower case is no keyword.
  MergeResult r = merge(
      "POLYLINE 8 L 66 1 10 0 20 0 30 0 0 VERTEX 8 SEQEND 70 32 10 1 20 2 30 3 0 polyline vertex",
      "");
  EXPECT_EQ(entities(r), crlf("POLYLINE\n  8\nL\n  66\n1\n 10\n     0\n 20\n     0\n 30\n0\n  0\n"
                              "VERTEX\n  8\nSEQEND\n 70\n    32\n 10\n1\n 20\n2\n 30\n3\n  0\n"
                              "SEQEND\n0\n"));
  // The layer read by a skipped POLYLINE is tested as a VERTEX next.
  r = merge(
      "",
      "POLYLINE 8 HA_6292 66 1 70 0 40 0 0 POLYLINE 8 VERTEX 8 HA_6292 70 0 10 1 20 2 0 SEQEND");
  EXPECT_EQ(entities(r), crlf("POLYLINE\n  8\nHA_6292\n  66\n1\n 70\n     0\n 40\n     0\n"
                              "  30\n0\n 0\n"
                              "VERTEX\n  8\nHA_6292\n 70\n    0\n 10\n1\n 20\n2\n  30\n0\n  0\n"
                              "SEQEND\n0\n"));
  // An ENDSEC of either input is not copied: the one section ends once, at the end.
  r = merge("ENDSEC POLYLINE 8 0 66 1 10 0 20 0 30 0 0 SEQEND ENDSEC 0 SECTION ENDSEC", "ENDSEC");
  EXPECT_EQ(r.refused, 0);
  EXPECT_EQ(r.merged.find("ENDSEC"), r.merged.rfind("ENDSEC", r.merged.size() - 20));
  EXPECT_EQ(r.merged.substr(r.merged.size() - kEnd.size()), kEnd);
}

TEST(Merge, SecondInputSkipsOtherLayersButKeepsEverySeqend) {
  MergeResult r = merge("",
                        "POLYLINE 8 WALLS 66 1 70 0 40 0 0 VERTEX 8 WALLS 70 0 10 1 20 2 0 "
                        "SEQEND 8 WALLS 0");
  EXPECT_EQ(entities(r), crlf("SEQEND\n0\n"));
  EXPECT_EQ(r.console.find("HA record"), std::string::npos);
}

// A code whose text is the one "%d" gives is copied as it stands; any other
// form is read as "%d" reads it and written as it writes it.
TEST(Merge, CodesAreWrittenAsTheyReadWhateverTheirForm) {
  const std::string first = crlf(
      "POLYLINE\n8\nCN1\n007\nA\n+70\n0\n071\n123456789\n 072\n-12\n0\n"
      "VERTEX\n  8\nCN1\n 70\n    32\n 10\n1.5\n 20\n-2.5\n 30\n3\n  0\nSEQEND\n");
  const std::string second = crlf(
      "POLYLINE\n08\nHA_6292\n 066\n+1\n 70\n0\n 41\n-0\n 0\n"
      "VERTEX\n  8\nHA_6292\n 70\n    0\n 10\n7\n 20\n8\n  0\nSEQEND\n");
  for (std::size_t block : {std::size_t{3}, TokenStream::kDefaultBlock}) {
    MergeResult r = merge(first, second, block);
    MergeResult expected = testing::reference_merge(first, second);
    EXPECT_EQ(r.refused, 0);
    EXPECT_EQ(same(r, expected), "") << block;
  }
  EXPECT_NE(merge(first, second).merged.find("CN1\r\n  7\r\n"), std::string::npos);  // 007
}

// Coordinates are rounded from their digits where those tell the result, and
// through the double elsewhere: both ways give what the C library's reading
// and floor(v + 0.5) give, ties, nines, signs and long numbers included.
TEST(Merge, CoordinatesRoundAsTheDoubleDoesWhateverTheirText) {
  std::vector<std::string> values = {"0",
                                     "0.4",
                                     "0.5",
                                     "-0.4",
                                     "-0.5",
                                     "-0.6",
                                     "-0.50",
                                     "-0.51",
                                     "1.5",
                                     "2.5",
                                     "-1.5",
                                     "-2.5",
                                     "9.5",
                                     "19.5",
                                     "-9.6",
                                     "99.9",
                                     "-99.4",
                                     "3.",
                                     "-3.",
                                     ".5",
                                     "-.5",
                                     "+3.5",
                                     "+3.4",
                                     "007.5",
                                     "-007.4",
                                     "1e2",
                                     "1.5e0",
                                     "4.49999999999999",
                                     "4.499999999999999",
                                     "4.4999999999999999",
                                     "-4.5000000000000001",
                                     "123456789012345.4",
                                     "123456789012345.5",
                                     "1234567890123456.5",
                                     "-999999999999999.6",
                                     "2147483647.5",
                                     "-2147483648.5",
                                     "99999999999999.9"};
  std::mt19937 rng(15);
  for (int i = 0; i < 3000; ++i) {
    std::string v = rng() % 3 == 0 ? "-" : "";
    v += std::to_string(rng() % (rng() % 2 ? 10 : 100000000));
    if (rng() % 5 != 0) {
      v += ".";
      for (std::uint32_t d = rng() % 12; d > 0; --d) v += static_cast<char>('0' + rng() % 10);
    }
    values.push_back(v);
  }
  std::string first = "POLYLINE\n  8\nCN1\n 66\n1\n 10\n0\n 20\n0\n 30\n0\n  0\n";
  for (std::size_t i = 0; i + 2 < values.size(); i += 3) {
    first += "VERTEX\n  8\nCN1\n 70\n    32\n 10\n" + values[i] + "\n 20\n" + values[i + 1] +
             "\n 30\n" + values[i + 2] + "\n  0\n";
  }
  first += "SEQEND\n";
  std::string second = "POLYLINE\n  8\nHA_6292\n 66\n1\n 70\n     1\n 40\n0\n  0\n";
  for (std::size_t i = 0; i + 1 < values.size(); i += 2) {
    second += "VERTEX\n  8\nHA_6292\n 70\n    0\n 10\n" + values[i] + "\n 20\n" + values[i + 1] +
              "\n  0\n";
  }
  second += "SEQEND\n";
  MergeResult r = merge(first, second);
  MergeResult expected = testing::reference_merge(first, second);
  ASSERT_TRUE(r.merged == expected.merged)
      << "first difference at byte "
      << std::mismatch(r.merged.begin(), r.merged.end(), expected.merged.begin(),
                       expected.merged.end())
                 .first -
             r.merged.begin();
}

// The HA_6292 polylines copied are compared with the first drawing's extents
// widened by a tenth of their size on each side, or with its polylines where
// it has no extents of its own (none, or an empty drawing's 1e20 and -1e20).
TEST(Merge, AWarningWhenTheDrawingsDoNotOverlap) {
  auto box = [](double x0, double y0, double x1, double y1) {
    Box b;
    b.take(x0, y0);
    b.take(x1, y1);
    return b;
  };
  const Extents own{0, 0, 0, 100, 50, 9}, none{}, empty{1e20, 1e20, 1e20, -1e20, -1e20, -1e20};
  const struct {
    const char* what;
    Extents extents;
    Box first, curves;
    bool warned;
  } cases[] = {
      {"inside", own, box(0, 0, 100, 50), box(10, 10, 20, 20), false},
      {"within the tenth around", own, Box{}, box(109, 54, 200, 60), false},
      {"beyond it in x", own, Box{}, box(111, 0, 200, 10), true},
      {"beyond it in y", own, Box{}, box(0, -100, 10, -6), true},
      {"2 500 km away", own, Box{}, box(2500010, 10, 2500020, 20), true},
      {"no HA_6292 polyline", own, Box{}, Box{}, false},
      {"no extents: the first drawing's polylines", none, box(1000, 1000, 2000, 2000),
       box(1500, 1500, 1600, 1600), false},
      {"no extents, far from its polylines", none, box(1000, 1000, 2000, 2000), box(0, 0, 1, 1), true},
      {"an empty drawing's extents", empty, box(1000, 1000, 2000, 2000), box(1500, 1500, 1600, 1600),
       false},
      {"nothing to compare with", none, Box{}, box(0, 0, 1, 1), false},
  };
  for (const auto& c : cases) {
    const std::string warning = overlap_warning(c.extents, c.first, c.curves, "cn", "ha");
    EXPECT_EQ(!warning.empty(), c.warned) << c.what << ": " << warning;
  }
  EXPECT_EQ(overlap_warning(own, Box{}, box(111, 0, 200, 10), "c:\\a\\bcn.dxf", "c:\\a\\bha.dxf"),
            "the HA_6292 polylines of c:\\a\\bha.dxf lie outside the extents of c:\\a\\bcn.dxf "
            "(x 0 to 100, y 0 to 50): are both drawings in the same coordinate system?");
}

TEST(Merge, CoordinatesBeyond32BitsAreWrittenInFull) {
  MergeResult r = merge(
      "POLYLINE 8 L 66 1 10 0 20 0 30 0 0 "
      "VERTEX 8 L 70 32 10 1e20 20 -4294967296.5 30 2147483647.5 0 SEQEND",
      "");
  EXPECT_EQ(entities(r), crlf("POLYLINE\n  8\nL\n  66\n1\n 10\n     0\n 20\n     0\n 30\n0\n  0\n"
                              "VERTEX\n  8\nL\n 70\n    32\n 10\n100000000000000000000\n 20\n"
                              "-4294967296\n 30\n2147483648\n  0\nSEQEND\n0\n"));
}

TEST(Merge, AgreesWithTheReferenceModelOnGeneratedDrawings) {
  std::mt19937 rng(6292);
  for (int round = 0; round < 1500; ++round) {
    std::string first = testing::contour_drawing(rng, static_cast<int>(rng() % 6));
    std::string second = testing::ha_drawing(rng, static_cast<int>(rng() % 6));
    if (round % 2) first = testing::damaged(first, rng);
    if (round % 3) second = testing::damaged(second, rng);
    MergeResult expected = testing::reference_merge(first, second);
    for (std::size_t block : {std::size_t{2}, TokenStream::kDefaultBlock, 1 + rng() % 4096}) {
      MergeResult got = merge(first, second, block);
      ASSERT_EQ(same(got, expected), "")
          << "round " << round << ", blocks of " << block << "\n" << first << "\n--\n" << second;
      // Surveyed by the copy, the console is the survey's to the byte, also
      // where the copy refuses the drawing.
      // So is it with the second input copied beside the first (a part file
      // costs a file and a thread: one round in four).
      for (Way way : {Way::kSideBySide, Way::kWithPart, Way::kPartUnwritable}) {
        if (way != Way::kSideBySide && round % 4 != 0) continue;
        MergeResult beside = merge(first, second, block, way);
        ASSERT_EQ(beside.console, got.console)
            << "round " << round << ", blocks of " << block << ", way " << static_cast<int>(way);
        ASSERT_EQ(same(beside, got), "") << "round " << round << ", blocks of " << block;
      }
    }
  }
}

}  // namespace
}  // namespace quorvane
