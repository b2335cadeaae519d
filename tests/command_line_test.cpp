#include "command_line.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(CommandLine, EachFormAndEachMistake) {
  using Kind = Command::Kind;
  const struct {
    std::vector<std::string> arguments;
    Kind kind;
    std::string error;
  } cases[] = {
      {{}, Kind::kDialogue, ""},
      {{"merge", "site4", "north", "north", "north"}, Kind::kMerge, ""},
      {{"merge", "été", "forêt", "forêt", "forêt"}, Kind::kMerge, ""},
      {{"--help"}, Kind::kHelp, ""},
      {{"-h"}, Kind::kHelp, ""},
      {{"/?"}, Kind::kHelp, ""},
      {{"--version"}, Kind::kVersion, ""},
      {{"--x"}, Kind::kUsageError, "unknown option --x"},
      {{"-"}, Kind::kUsageError, "unknown command -"},
      {{"site4", "north", "north", "north"}, Kind::kUsageError, "unknown command site4"},
      {{"convert", "cn", "a.dxf", "b.dxf"}, Kind::kConvert, ""},
      {{"convert", "ha", "my plots.dxf", "b.dxf", "--layer", "Plot lines"}, Kind::kConvert, ""},
      {{"convert", "--layer=PLOTS", "ha", "-a.dxf", "b.dxf"}, Kind::kConvert, ""},
      {{"convert", "cn", "a.dxf"},
       Kind::kUsageError,
       "convert takes cn or ha, then INPUT and OUTPUT, not 2 arguments"},
      {{"convert", "xy", "a.dxf", "b.dxf"},
       Kind::kUsageError,
       "convert: the drawing is cn (the first of a merge) or ha (the second), not xy"},
      {{"convert", "cn", "a.dxf", "b.dxf", "--layer", "X"},
       Kind::kUsageError,
       "convert: --layer is for an ha drawing, whose layer the merge keeps"},
      {{"convert", "ha", "a.dxf", "b.dxf", "--layer"},
       Kind::kUsageError,
       "convert: --layer needs the layer's name"},
      {{"convert", "ha", "a.dxf", "b.dxf", "--layer="},
       Kind::kUsageError,
       "convert: the layer's name is empty"},
      {{"convert", "ha", "a.dxf", "b.dxf", "--layer", "A", "--layer", "B"},
       Kind::kUsageError,
       "convert: --layer is given twice"},
      {{"convert", "ha", "a.dxf", "b.dxf", "--force"},
       Kind::kUsageError,
       "convert: unknown option --force"},
      {{"convert", "cn", "", "b.dxf"}, Kind::kUsageError, "convert: INPUT is empty"},
      {{"merge"}, Kind::kUsageError, "merge takes 4 arguments, FOLDER CN HA OUT, not 0"},
      {{"merge", "a", "b", "c", "d", "e"},
       Kind::kUsageError,
       "merge takes 4 arguments, FOLDER CN HA OUT, not 5"},
      {{"merge", "a", "", "c", "d"}, Kind::kUsageError, "merge: CN is empty"},
      {{"merge", "a", "b", "c", "my plot"}, Kind::kUsageError, "merge: OUT holds whitespace"},
      {{"merge", "a\tb", "b", "c", "d"}, Kind::kUsageError, "merge: FOLDER holds whitespace"},
      {{"merge", "--convert", "site4", "north", "north", "north"}, Kind::kMerge, ""},
      {{"merge", "site4", "north", "--layer", "Plot lines", "north", "north", "--convert"},
       Kind::kMerge, ""},
      {{"merge", "site4", "north", "north", "north", "--layer=PLOTS"}, Kind::kUsageError,
       "merge: --layer goes with --convert, which converts the second drawing"},
      {{"merge", "--convert", "--convert", "a", "b", "c", "d"}, Kind::kUsageError,
       "merge: --convert is given twice"},
      {{"merge", "--convert", "a", "b", "c", "d", "--layer"}, Kind::kUsageError,
       "merge: --layer needs the layer's name"},
      {{"merge", "--convert", "a", "b", "c"}, Kind::kUsageError,
       "merge takes 4 arguments, FOLDER CN HA OUT, not 3"},
      {{"merge", "--fast", "a", "b", "c", "d"}, Kind::kUsageError, "merge: unknown option --fast"},
      {{"preview", "northcnha.dxf", "north.svg"}, Kind::kPreview, ""},
      {{"preview", "--size=800", "a.dxf", "-"}, Kind::kPreview, ""},
      {{"preview", "a.dxf"}, Kind::kUsageError, "preview takes DRAWING and PICTURE, not 1 argument"},
      {{"preview", "a.dxf", "b.svg", "--size", "80"}, Kind::kUsageError,
       "preview: --size is a width of 200 to 20000 pixels, not 80"},
      {{"preview", "a.dxf", "b.svg", "--size"}, Kind::kUsageError,
       "preview: --size needs the picture's width"},
      {{"preview", "a.dxf", "b.svg", "--layer", "X"}, Kind::kUsageError,
       "preview: unknown option --layer"},
      {{"merge", "a", "b", "c", "d", "--preview", "p.svg"}, Kind::kMerge, ""},
      {{"merge", "a", "b", "c", "d", "--preview="}, Kind::kUsageError,
       "merge: the picture's name is empty"},
      {{"convert", "cn", "a.dxf", "b.dxf", "--preview", "p.svg"}, Kind::kUsageError,
       "convert: unknown option --preview"},
      {{"--help", "merge"}, Kind::kUsageError, "too many arguments after --help"},
      {{"--version", "-h"}, Kind::kUsageError, "too many arguments after --version"},
      {{""}, Kind::kUsageError, "the command is empty"},
      {{"", "site4"}, Kind::kUsageError, "the command is empty"},
      {{"convert", "ha"},
       Kind::kUsageError,
       "convert takes cn or ha, then INPUT and OUTPUT, not 1 argument"},
      {{"convert"},
       Kind::kUsageError,
       "convert takes cn or ha, then INPUT and OUTPUT, not 0 arguments"},
      {{"convert", "--", "cn", "--a.dxf", "--layer"}, Kind::kConvert, ""},
      {{"convert", "ha", "--layer", "P", "--", "--a.dxf", "--b.dxf"}, Kind::kConvert, ""},
      {{"convert", "cn", "--", "a.dxf", "b.dxf", "--"},
       Kind::kUsageError,
       "convert takes cn or ha, then INPUT and OUTPUT, not 4 arguments"},
      {{"convert", "cn", "--a.dxf", "b.dxf"}, Kind::kUsageError, "convert: unknown option --a.dxf"},
      {{"merge", "--", "--x", "b", "c", "d"}, Kind::kMerge, ""},
      {{"merge", "--convert", "--", "a", "b", "c", "--layer"}, Kind::kMerge, ""},
      {{"merge", "a", "b", "c", "--", "--convert"}, Kind::kMerge, ""},
  };
  for (const auto& c : cases) {
    // The whole command line, each argument in brackets: "[convert] [] [b.dxf]".
    std::string line = "arguments:";
    for (const std::string& argument : c.arguments) line += " [" + argument + "]";
    SCOPED_TRACE(line);
    Command command = parse_command_line(c.arguments);
    EXPECT_EQ(command.kind, c.kind);
    EXPECT_EQ(command.error, c.error);
    if (c.kind == Kind::kMerge) {  // the four words, whatever options stand among them
      std::vector<std::string> words;
      bool convert = false, options_ended = false;
      for (std::size_t i = 1; i < c.arguments.size(); ++i) {
        const std::string& argument = c.arguments[i];
        if (options_ended || !argument.starts_with("--")) {
          words.push_back(argument);
        } else if (argument == "--") {
          options_ended = true;
        } else if (argument == "--layer" || argument == "--preview") {
          ++i;
        } else {
          convert = convert || argument == "--convert";
        }
      }
      EXPECT_EQ(command.answers, words);
      EXPECT_EQ(command.convert, convert);
    }
  }
  // The names of a conversion, wherever --layer stands.
  Command command = parse_command_line({"convert", "ha", "my plots.dxf", "b.dxf", "--layer", "Plot lines"});
  EXPECT_EQ(command.drawing + "|" + command.input + "|" + command.output + "|" + command.layer.value_or("-"),
            "ha|my plots.dxf|b.dxf|Plot lines");
  command = parse_command_line({"convert", "--layer=PLOTS", "ha", "-a.dxf", "b.dxf"});
  EXPECT_EQ(command.input + "|" + command.layer.value_or("-"), "-a.dxf|PLOTS");
  command = parse_command_line({"merge", "a", "b", "c", "d", "--preview", "p.svg"});
  EXPECT_EQ(command.preview.value_or("-") + " " + std::to_string(command.width), "p.svg 1600");
  command = parse_command_line({"preview", "--size=800", "a.dxf", "-"});
  EXPECT_EQ(command.input + " " + command.output + " " + std::to_string(command.width),
            "a.dxf - 800");
  EXPECT_FALSE(parse_command_line({"convert", "cn", "a.dxf", "b.dxf"}).layer.has_value());
  // After "--", names that begin with "--", even --layer.
  command = parse_command_line({"convert", "--", "cn", "--a.dxf", "--layer"});
  EXPECT_EQ(command.drawing + "|" + command.input + "|" + command.output + "|" +
                command.layer.value_or("-"),
            "cn|--a.dxf|--layer|-");
  command = parse_command_line({"convert", "ha", "--layer", "P", "--", "--a.dxf", "--b.dxf"});
  EXPECT_EQ(command.input + "|" + command.output + "|" + command.layer.value_or("-"),
            "--a.dxf|--b.dxf|P");
  command = parse_command_line({"merge", "a", "b", "--layer", "Plot lines", "c", "d", "--convert"});
  EXPECT_EQ(command.layer.value_or("-"), "Plot lines");
  EXPECT_EQ(version_line().rfind("quorvane_tool 1.2.0", 0), 0u);
}

}  // namespace
}  // namespace quorvane
