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
      {{"convert", "cn", "a.dxf", "b.dxf"}, Kind::kUsageError, "unknown command convert"},
      {{"merge"}, Kind::kUsageError, "merge takes 4 arguments, FOLDER CN HA OUT, not 0"},
      {{"merge", "a", "b", "c", "d", "e"},
       Kind::kUsageError,
       "merge takes 4 arguments, FOLDER CN HA OUT, not 5"},
      {{"merge", "a", "", "c", "d"}, Kind::kUsageError, "merge: CN is empty"},
      {{"merge", "a", "b", "c", "my plot"}, Kind::kUsageError, "merge: OUT holds whitespace"},
      {{"merge", "a\tb", "b", "c", "d"}, Kind::kUsageError, "merge: FOLDER holds whitespace"},
      {{"--help", "merge"}, Kind::kUsageError, "too many arguments after --help"},
      {{"--version", "-h"}, Kind::kUsageError, "too many arguments after --version"},
  };
  for (const auto& c : cases) {
    Command command = parse_command_line(c.arguments);
    const std::string shown = c.arguments.empty() ? "(none)" : c.arguments[0];
    EXPECT_EQ(command.kind, c.kind) << shown;
    EXPECT_EQ(command.error, c.error) << shown;
    if (c.kind == Kind::kMerge) {
      EXPECT_EQ(command.answers,
                std::vector<std::string>(c.arguments.begin() + 1, c.arguments.end()));
    }
  }
  EXPECT_EQ(version_line().rfind("quorvane_tool 1.1.0", 0), 0u);
}

}  // namespace
}  // namespace quorvane
