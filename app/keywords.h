// The tokens the merge acts on, in one list: the merge's passes compare
// against them, the conversion renames a layer that would be read as one of
// them, and the tests generate drawings with them.
#ifndef QUORVANE_KEYWORDS_H
#define QUORVANE_KEYWORDS_H

#include <string_view>

namespace quorvane {

inline constexpr char EXTMIN[] = "$EXTMIN";
inline constexpr char EXTMAX[] = "$EXTMAX";
inline constexpr char POLYLINE[] = "POLYLINE";
inline constexpr char VERTEX[] = "VERTEX";
inline constexpr char SEQEND[] = "SEQEND";
inline constexpr char ENDSEC[] = "ENDSEC";
/// Not read by the merge: a drawing that holds one where the merge would
/// read it is refused.
inline constexpr char LWPOLYLINE[] = "LWPOLYLINE";
inline constexpr char CURVE[] = "HA_6292";  ///< the layer kept from the second input

/// Every keyword of the merge. A token equal to one of them is taken for it
/// wherever a pass looks for keywords, so no converted layer may be named so.
inline constexpr std::string_view kKeywords[] = {POLYLINE, VERTEX, SEQEND,    ENDSEC,
                                                 EXTMIN,   EXTMAX, LWPOLYLINE};

}  // namespace quorvane

#endif
