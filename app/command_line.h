// What the operator asked for on the command line.
//
//   quorvane_tool                          the dialogue: four answers on standard input
//   quorvane_tool merge FOLDER CN HA OUT   the same run, the answers given here
//   quorvane_tool merge --convert FOLDER CN HA OUT [--layer NAME]
//                                          the same, each drawing converted first
//   quorvane_tool convert cn|ha INPUT OUTPUT [--layer NAME]
//                                          a drawing of another program made
//                                          one that the merge reads ("--" ends
//                                          the options)
//   quorvane_tool preview DRAWING PICTURE [--size WIDTH]
//                                          an SVG picture of a drawing
//   quorvane_tool --help | -h | /?         the usage
//   quorvane_tool --version                the version
#ifndef QUORVANE_COMMAND_LINE_H
#define QUORVANE_COMMAND_LINE_H

#include <optional>
#include <string>
#include <vector>

namespace quorvane {

struct Command {
  enum class Kind { kDialogue, kMerge, kConvert, kPreview, kHelp, kVersion, kUsageError };
  Kind kind = Kind::kDialogue;
  std::vector<std::string> answers;  ///< merge: the folder and the three base names
  bool convert = false;              ///< merge --convert: both drawings converted first
  std::string drawing;               ///< convert: cn or ha
  std::string input, output;         ///< convert, preview: paths of this system
  std::optional<std::string> preview;  ///< merge --preview PICTURE: its picture drawn at the end
  int width = 1600;                  ///< preview --size: the picture's width in pixels
  std::optional<std::string> layer;  ///< convert ha, merge --convert: --layer NAME
  std::string error;                 ///< a usage error, in a few words
};

/// Reads the command from the arguments after the program's name.
Command parse_command_line(const std::vector<std::string>& arguments);

/// Gives what --help prints.
std::string usage();

/// Gives "quorvane_tool 1.2.0", with the commit it was built from when the build knew it.
std::string version_line();

}  // namespace quorvane

#endif
