// A deliberately plain model of the merge passes, built on the C library's
// fscanf and printf, to hold the tool against on generated drawings.
#ifndef QUORVANE_REFERENCE_MODEL_H
#define QUORVANE_REFERENCE_MODEL_H

#include <cstdio>
#include <string>

namespace quorvane::testing {

struct MergeResult {
  std::string console;          ///< from "Treatment" to the end of the final report
  std::string merged;           ///< the bytes of the merged file
  int refused = 0;              ///< the drawing (1 or 2) refused for its layout, or 0
  unsigned long long line = 0;  ///< the line it is refused at
};

/// fscanf's "%d" and "%lf", with the tool's two departures: integers beyond
/// 32 bits saturate, and "inf", "nan" and "0x..." are not reals.
int read_int(std::FILE* f, int* target);
int read_real(std::FILE* f, double* target);

/// The console text and merged file the passes give for these two inputs;
/// or, inside an entity a copy pass writes, the first token that does not
/// fit the layout, the drawing ending inside the entity, a POLYLINE inside a
/// polyline, a VERTEX of the first drawing outside one, or a drawing ending
/// with a polyline open: the drawing is then refused at that line.
MergeResult reference_merge(const std::string& first, const std::string& second);

}  // namespace quorvane::testing

#endif
