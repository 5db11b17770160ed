// The command line of dbcunpack: its options and paths, its usage and help,
// and the layouts file it names.
#include "app/unpack_command_line.h"

#include "app/file_run.h"
#include "platform/platform.h"

namespace dbcpack {
namespace {

constexpr std::string_view kUsage =
    "Usage: dbcunpack [--types LIST | --layouts FILE] [--force] PATH...\n"
    "       dbcunpack [--layouts FILE] --print-layouts PATH...\n"
    "       dbcunpack --update-layouts FILE PATH...\n"
    "Writes FILE.csv beside each DBC FILE given, or found in a folder given.\n"
    "Give --help for the options and the workflow.\n";

constexpr std::string_view kHelp =
    "Usage: dbcunpack [--types LIST | --layouts FILE] [--force] PATH...\n"
    "       dbcunpack [--layouts FILE] --print-layouts PATH...\n"
    "       dbcunpack --update-layouts FILE PATH...\n"
    "\n"
    "Turns DBC files back into CSV tables that dbcpack packs again. Each FILE\n"
    "gives FILE.csv beside it: items.dbc gives items.dbc.csv. A PATH that is a\n"
    "folder is searched, with every folder below it, for files whose name ends\n"
    "in \".dbc\" in any case, taken in the order of their paths; the outputs of\n"
    "dbcpack there (NAME.csv.dbc beside NAME.csv) are left out. Links to\n"
    "folders are not followed.\n"
    "\n"
    "Options:\n"
    "  --types LIST     the field types of every file, such as int,string,float:\n"
    "                   int, float, byte or string for each field, in order.\n"
    "                   Without it the types are guessed from the values and\n"
    "                   printed, so that a wrong guess can be corrected.\n"
    "  --layouts FILE   the types of tables by name, one line each, NAME TYPES\n"
    "                   (items.dbc int,string,float); # starts a comment. A file\n"
    "                   whose name matches a NAME, in any case, takes its types;\n"
    "                   other files are guessed.\n"
    "  --print-layouts  write no CSV file; print the lines of the --layouts FILE\n"
    "                   as they stand, then a NAME TYPES line for each file it\n"
    "                   does not name, guessed, with a # comment line before\n"
    "                   each guess that is unsure. Messages go to standard error.\n"
    "  --update-layouts FILE\n"
    "                   the same text, written into FILE itself once complete\n"
    "                   (a new FILE if there is none): the way to refresh it.\n"
    "  --force          replace a CSV file that already exists (without it, such\n"
    "                   a file is left alone: it may hold your edits).\n"
    "  -h, --help       show this help.\n"
    "  --version        show the version.\n"
    "  --               end of the options: every further argument is a PATH.\n"
    "\n"
    "Workflow: unpack items.dbc to items.dbc.csv, edit the CSV file, run dbcpack\n"
    "in its folder (it writes items.dbc.csv.dbc), then rename items.dbc.csv.dbc\n"
    "to items.dbc. For a folder of tables, give the types once:\n"
    "  dbcunpack --update-layouts layouts.txt data\n"
    "  (check the lines, above all those after a # comment, and correct them)\n"
    "  dbcunpack --layouts layouts.txt data\n"
    "Run the first again when new tables arrive: it adds their lines and keeps\n"
    "every line you wrote.\n"
    "\n"
    "A guess that the values do not settle prints \"WARNING: ... Guessed types\n"
    "uncertain\" with the fields to check and their other reading.\n"
    "\"Round trip exact\" means that the CSV file was packed again, as dbcpack\n"
    "packs it, and gave back the DBC file byte for byte: nothing was lost.\n"
    "Otherwise a warning names the first difference. It is about bytes only:\n"
    "it does NOT prove that the column types are right, since a wrong guess\n"
    "can give back the same bytes too. Check the types printed as guessed, and\n"
    "correct them with --types or a layouts file.\n"
    "\n"
    "Messages go to standard output, one line each, naming the file or folder;\n"
    "errors start with \"ERROR: \" and end with the system's reason where there\n"
    "is one. A run over several files ends with a count of those unpacked,\n"
    "exact, not exact and failed, and the names of the last two. A refused\n"
    "command line or layouts file goes to standard error.\n"
    "\n"
    "Exit status: 0 when every CSV file (or layouts line) was written, 1 when\n"
    "any file or folder failed or the output could not be written, 2 for a bad\n"
    "command line or layouts file.\n";

// Reads a --types list with the header line's own syntax and keywords.
bool ParseTypesOption(std::string_view list, UnpackCommandLine& commandLine, MessageSink& sink) {
  if (commandLine.typesSeen) {
    sink.Print("ERROR: Option '--types' is given more than once.\n");
    return false;
  }
  commandLine.typesSeen = true;
  TypeListError error;
  std::vector<FieldType>& types = commandLine.options.types;
  if (!ParseTypeList(list, types, error)) {
    sink.Print("ERROR: --types: %s.\n", TypeListProblem(error).c_str());
    return false;
  }
  if (types.empty()) {
    sink.Print("ERROR: --types: No field types given.\n");
    return false;
  }
  commandLine.options.typesGiven = true;
  return true;
}

// OPTION FILE or OPTION=FILE at arguments[i], for --layouts and
// --update-layouts; the file is read once the command line is known to be
// good.
bool TakeFileOption(const std::vector<std::string>& arguments, std::size_t& i,
                    std::string_view option, bool& seen, std::string& path, MessageSink& sink) {
  if (seen) {
    sink.Print("ERROR: Option '%.*s' is given more than once.\n", static_cast<int>(option.size()),
               option.data());
    return false;
  }
  seen = true;
  path.clear();
  if (arguments[i] != option) {
    path = arguments[i].substr(option.size() + 1);
  } else if (i + 1 < arguments.size()) {
    path = arguments[++i];
  }
  if (path.empty()) {
    sink.Print("ERROR: Option '%.*s' needs the name of a layouts file.\n",
               static_cast<int>(option.size()), option.data());
    return false;
  }
  return true;
}

// Options that ask for two different things at once.
bool RefuseConflicts(const UnpackCommandLine& commandLine, MessageSink& sink) {
  struct Given {
    bool given;
    const char* name;
  };
  const Given choices[][2] = {
      {{commandLine.typesSeen, "--types"}, {commandLine.layoutsSeen, "--layouts"}},
      {{commandLine.typesSeen, "--types"}, {commandLine.options.updateLayouts, "--update-layouts"}},
      {{commandLine.layoutsSeen, "--layouts"},
       {commandLine.options.updateLayouts, "--update-layouts"}},
      {{commandLine.options.printLayouts, "--print-layouts"},
       {commandLine.options.updateLayouts, "--update-layouts"}},
  };
  for (const auto& pair : choices) {
    if (pair[0].given && pair[1].given) {
      sink.Print("ERROR: Give either '%s' or '%s', not both.\n", pair[0].name, pair[1].name);
      return false;
    }
  }
  return true;
}

}  // namespace

std::string_view UnpackUsage() { return kUsage; }

std::string_view UnpackHelp() { return kHelp; }

bool ParseUnpackCommandLine(const std::vector<std::string>& arguments,
                            UnpackCommandLine& commandLine, MessageSink& sink) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      commandLine.paths.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--force") {
      commandLine.options.force = true;
    } else if (argument == "--help" || argument == "-h") {
      commandLine.help = true;
    } else if (argument == "--version") {
      commandLine.version = true;
    } else if (argument.rfind("--types=", 0) == 0) {
      if (!ParseTypesOption(std::string_view(argument).substr(8), commandLine, sink)) return false;
    } else if (argument == "--types") {
      if (i + 1 == arguments.size()) {
        sink.Print("ERROR: Option '--types' needs a list of field types.\n");
        return false;
      }
      if (!ParseTypesOption(arguments[++i], commandLine, sink)) return false;
    } else if (argument == "--print-layouts") {
      commandLine.options.printLayouts = true;
    } else if (argument == "--layouts" || argument.rfind("--layouts=", 0) == 0) {
      if (!TakeFileOption(arguments, i, "--layouts", commandLine.layoutsSeen,
                          commandLine.options.layoutsPath, sink)) {
        return false;
      }
    } else if (argument == "--update-layouts" || argument.rfind("--update-layouts=", 0) == 0) {
      if (!TakeFileOption(arguments, i, "--update-layouts", commandLine.options.updateLayouts,
                          commandLine.options.layoutsPath, sink)) {
        return false;
      }
    } else {
      sink.Print("ERROR: Unknown option '%s'.\n", argument.c_str());
      return false;
    }
  }
  return RefuseConflicts(commandLine, sink);
}

namespace {

// What keeps the text of a layouts file from being read, if anything.
bool RefuseText(const std::string& path, std::string_view text, MessageSink& errors) {
  if (text.empty()) {
    errors.Print(
        "ERROR: '%s': Layouts file is empty (a redirection into the file that is read, such as "
        "'> %s', empties it before it is read).\n",
        path.c_str(), path.c_str());
    return true;
  }
  if (IsUtf16Text(text)) {
    errors.Print("ERROR: '%s': Layouts file is UTF-16 text or holds NUL bytes; save it as UTF-8.\n",
                 path.c_str());
    return true;
  }
  return false;
}

}  // namespace

bool ReadLayoutsFile(UnpackOptions& options, MessageSink& errors) {
  const std::string& path = options.layoutsPath;
  if (path.empty()) return true;
  if (platform::IsStandardOutput(path)) {
    // Too late for its lines when the redirection was '>', but not for
    // those of '>>', which the output would then be mixed into.
    errors.Print(
        "ERROR: '%s': Standard output goes to the layouts file itself, which a redirection such "
        "as '> %s' empties before it is read; give --update-layouts to refresh it in place.\n",
        path.c_str(), path.c_str());
    return false;
  }
  if (options.updateLayouts && platform::KindOf(path) == platform::PathKind::Missing &&
      !platform::Exists(path)) {
    return true;  // made by this run
  }
  platform::FileContents contents;
  LayoutError error;
  bool parsed = false;
  if (!ReadFileAnd(path, contents, errors, [&](MessageSink&) {
        options.layoutsText.assign(contents.View());
        parsed = ParseLayouts(options.layoutsText, options.layouts, error);
        return true;
      })) {
    return false;
  }
  if (RefuseText(path, options.layoutsText, errors)) return false;
  if (!parsed) {
    errors.Print("ERROR: '%s': Line '%u': %s.\n", path.c_str(), error.line, error.what.c_str());
    return false;
  }
  return true;
}

}  // namespace dbcpack
