#include "command_line.h"

#include <charconv>

namespace quorvane {

namespace {

// An answer of the dialogue is one word: never empty, never with whitespace.
bool one_word(const std::string& argument) {
  if (argument.empty()) return false;
  for (char c : argument) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') return false;
  }
  return true;
}

Command usage_error(std::string error) {
  Command command;
  command.kind = Command::Kind::kUsageError;
  command.error = std::move(error);
  return command;
}

// "1 argument", "2 arguments".
std::string arguments_counted(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " argument" : " arguments");
}

// The option `option` (--layer, --preview, --size) at arguments[i], as
// `option VALUE` or `option=VALUE`, for the command `name`: true when it is
// that option, i then at its last word, its value in `value`; `error` tells
// a mistake.
bool valued_option(const std::vector<std::string>& arguments, std::size_t& i,
                   const std::string& option, const std::string& name,
                   std::optional<std::string>& value, std::string& error) {
  const std::string& argument = arguments[i];
  if (argument != option && !argument.starts_with(option + "=")) return false;
  const std::string named = name + ": ";
  const std::string what = option == "--layer"  ? "the layer's name"
                           : option == "--size" ? "the picture's width"
                                                : "the picture's name";
  if (value) {
    error = named + option + " is given twice";
  } else if (argument == option && i + 1 == arguments.size()) {
    error = named + option + " needs " + what;
  } else {
    value = argument == option ? arguments[++i] : argument.substr(option.size() + 1);
    if (value->empty()) error = named + what + " is empty";
  }
  return true;
}

// The words after the command's name `name`, its options taken out, anywhere
// before "--", after which every argument is a word, even one that begins
// with "--": --layer NAME (merge, convert), --convert and --preview PICTURE
// (merge), --size WIDTH (preview). A usage error, or "".
std::string take_options(const std::vector<std::string>& arguments, const std::string& name,
                         Command& command, std::vector<std::string>& given) {
  const bool merge = name == "merge";
  std::optional<std::string> size;
  bool options_ended = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    std::string error;
    if (options_ended) {
      given.push_back(argument);
    } else if (argument == "--") {
      options_ended = true;
    } else if ((name != "preview" &&
                valued_option(arguments, i, "--layer", name, command.layer, error)) ||
               (merge && valued_option(arguments, i, "--preview", name, command.preview, error)) ||
               (name == "preview" && valued_option(arguments, i, "--size", name, size, error))) {
      if (!error.empty()) return error;
    } else if (argument == "--convert" && merge) {
      if (command.convert) return "merge: --convert is given twice";
      command.convert = true;
    } else if (argument.starts_with("--")) {
      return name + ": unknown option " + argument;
    } else {
      given.push_back(argument);
    }
  }
  if (size) {
    int width = 0;
    const auto [end, failed] = std::from_chars(size->data(), size->data() + size->size(), width);
    if (failed != std::errc{} || end != size->data() + size->size() || width < 200 ||
        width > 20000) {
      return "preview: --size is a width of 200 to 20000 pixels, not " + *size;
    }
    command.width = width;
  }
  return "";
}

// merge [--convert] FOLDER CN HA OUT [--layer NAME].
Command parse_merge(const std::vector<std::string>& arguments) {
  Command command;
  std::vector<std::string> given;
  if (std::string error = take_options(arguments, "merge", command, given); !error.empty()) {
    return usage_error(error);
  }
  if (given.size() != 4) {
    return usage_error("merge takes 4 arguments, FOLDER CN HA OUT, not " +
                       std::to_string(given.size()));
  }
  if (command.layer && !command.convert) {
    return usage_error("merge: --layer goes with --convert, which converts the second drawing");
  }
  const char* const names[] = {"FOLDER", "CN", "HA", "OUT"};
  for (std::size_t i = 0; i < 4; ++i) {
    if (!one_word(given[i])) {
      return usage_error(std::string("merge: ") + names[i] +
                         (given[i].empty() ? " is empty" : " holds whitespace"));
    }
  }
  command.kind = Command::Kind::kMerge;
  command.answers = given;
  return command;
}

// preview DRAWING PICTURE [--size WIDTH].
Command parse_preview(const std::vector<std::string>& arguments) {
  Command command;
  std::vector<std::string> given;
  if (std::string error = take_options(arguments, "preview", command, given); !error.empty()) {
    return usage_error(error);
  }
  if (given.size() != 2) {
    return usage_error("preview takes DRAWING and PICTURE, not " + arguments_counted(given.size()));
  }
  for (std::size_t i = 0; i < 2; ++i) {
    if (given[i].empty()) {
      return usage_error(std::string("preview: ") + (i == 0 ? "DRAWING" : "PICTURE") + " is empty");
    }
  }
  command.kind = Command::Kind::kPreview;
  command.input = given[0];
  command.output = given[1];
  return command;
}

// convert cn|ha INPUT OUTPUT [--layer NAME].
Command parse_convert(const std::vector<std::string>& arguments) {
  Command command;
  std::vector<std::string> given;
  if (std::string error = take_options(arguments, "convert", command, given); !error.empty()) {
    return usage_error(error);
  }
  if (given.size() != 3) {
    return usage_error("convert takes cn or ha, then INPUT and OUTPUT, not " +
                       arguments_counted(given.size()));
  }
  if (given[0] != "cn" && given[0] != "ha") {
    return usage_error("convert: the drawing is cn (the first of a merge) or ha (the second), not " +
                       given[0]);
  }
  if (command.layer && given[0] != "ha") {
    return usage_error("convert: --layer is for an ha drawing, whose layer the merge keeps");
  }
  for (std::size_t i = 1; i < 3; ++i) {
    if (given[i].empty()) return usage_error(std::string("convert: ") + (i == 1 ? "INPUT" : "OUTPUT") + " is empty");
  }
  command.kind = Command::Kind::kConvert;
  command.drawing = given[0];
  command.input = given[1];
  command.output = given[2];
  return command;
}

}  // namespace

Command parse_command_line(const std::vector<std::string>& arguments) {
  Command command;
  if (arguments.empty()) return command;
  const std::string& first = arguments[0];
  if (first == "--help" || first == "-h" || first == "/?") {
    if (arguments.size() > 1) return usage_error("too many arguments after " + first);
    command.kind = Command::Kind::kHelp;
    return command;
  }
  if (first == "--version") {
    if (arguments.size() > 1) return usage_error("too many arguments after " + first);
    command.kind = Command::Kind::kVersion;
    return command;
  }
  if (first == "merge") return parse_merge(arguments);
  if (first == "convert") return parse_convert(arguments);
  if (first == "preview") return parse_preview(arguments);
  if (first.empty()) return usage_error("the command is empty");
  if (first.size() > 1 && first[0] == '-') return usage_error("unknown option " + first);
  return usage_error("unknown command " + first);
}

std::string usage() {
  return "Usage:\n"
         "  quorvane_tool                          asks for a folder under c:\\images\\ and three\n"
         "                                         names, then merges the drawings\n"
         "  quorvane_tool merge FOLDER CN HA OUT   the same, the four answers given here:\n"
         "                                         merges c:\\images\\FOLDER\\CNcn.dxf and\n"
         "                                         c:\\images\\FOLDER\\HAha.dxf into\n"
         "                                         c:\\images\\FOLDER\\OUTcnha.dxf\n"
         "  quorvane_tool merge --convert FOLDER CN HA OUT [--layer NAME]\n"
         "                                         the same for drawings of any CAD program:\n"
         "                                         each is converted first, as convert does,\n"
         "                                         into a temporary file; the drawings\n"
         "                                         themselves are not written\n"
         "  quorvane_tool convert cn|ha INPUT OUTPUT [--layer NAME]\n"
         "                                         writes the drawing INPUT, made by any CAD\n"
         "                                         program, into OUTPUT as the merge reads its\n"
         "                                         first drawing (cn) or its second (ha); with\n"
         "                                         --layer, the polylines of layer NAME go on\n"
         "                                         HA_6292, the layer the merge keeps; after\n"
         "                                         --, INPUT and OUTPUT may begin with --\n"
         "  quorvane_tool preview DRAWING PICTURE [--size WIDTH]\n"
         "                                         draws DRAWING (merged, converted, or laid\n"
         "                                         out as the merge reads it) as an SVG\n"
         "                                         picture, WIDTH pixels wide (1600)\n"
         "  merge ... --preview PICTURE            draws the merged file too\n"
         "  quorvane_tool --help | -h | /?         shows this\n"
         "  quorvane_tool --version                shows the version\n"
         "\n"
         "Status: 0 when the merged (or converted) file is whole, 1 when the run failed\n"
         "(one line on standard error says why), 2 for a command line that is not one of\n"
         "the above.\n";
}

std::string version_line() {
#ifdef QUORVANE_COMMIT
  return std::string("quorvane_tool ") + QUORVANE_VERSION + " (" + QUORVANE_COMMIT + ")";
#else
  return std::string("quorvane_tool ") + QUORVANE_VERSION;
#endif
}

}  // namespace quorvane
