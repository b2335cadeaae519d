// What the tool shows before its passes: the banner and the four prompts.
#ifndef QUORVANE_DIALOGUE_H
#define QUORVANE_DIALOGUE_H

#include <string>

namespace quorvane::testing {

inline std::string box(const std::string& inside) { return "\n\t*" + inside + "*"; }
inline std::string spaces(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

inline const std::string kStars = "\n\t***********************************************************";
inline const std::string kEmpty = box(spaces(57));
inline const std::string kBanner =
    kStars + kEmpty + kEmpty + box(spaces(24) + "QUORVANE_TOOL" + spaces(20)) + kEmpty + kEmpty +
    kEmpty + kEmpty + kEmpty +
    box(spaces(15) + "Polylines of cn.dxf and ha.dxf, merged" + spaces(4)) +
    box(spaces(30) + "Quorvane tool team, 2026" + spaces(3)) + kEmpty + kStars;
inline const std::string kAskFolder =
    "\n\n\tName of the File Folder located in the Directory C:\\images : ";
inline const std::string kAskFirst = "\n\tName of the File cn.dxf (without extension cn.dxf) ? ";
inline const std::string kAskSecond = "\n\tName of the File ha.dxf (withou extension ha.dxf) ? ";
inline const std::string kAskOutput =
    "\n\tName of the resulting File (without extension cnha.dxf) ? ";
inline const std::string kDialogue = kBanner + kAskFolder + kAskFirst + kAskSecond + kAskOutput;

inline const std::string kFirst = "images/site4/northcn.dxf";
inline const std::string kSecond = "images/site4/northha.dxf";
inline const std::string kOutput = "images/site4/northcnha.dxf";

}  // namespace quorvane::testing

#endif
