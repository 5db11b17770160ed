// The command line of dbcunpack: its options and paths, its usage and help,
// and the layouts file it names.
#include "app/unpack_command_line.h"

#include "platform/platform.h"

namespace dbcpack {
namespace {

constexpr std::string_view kUsage =
    "Usage: dbcunpack [--types LIST | --layouts FILE] [--force] PATH...\n"
    "       dbcunpack [--layouts FILE] --print-layouts PATH...\n"
    "Writes FILE.csv beside each DBC FILE given, or found in a folder given.\n"
    "Give --help for the options and the workflow.\n";

constexpr std::string_view kHelp =
    "Usage: dbcunpack [--types LIST | --layouts FILE] [--force] PATH...\n"
    "       dbcunpack [--layouts FILE] --print-layouts PATH...\n"
    "\n"
    "Turns DBC files back into CSV tables that dbcpack packs again. Each FILE\n"
    "gives FILE.csv beside it: items.dbc gives items.dbc.csv. A PATH that is a\n"
    "folder is searched, with every folder below it, for files whose name ends\n"
    "in \".dbc\"; the outputs of dbcpack there (NAME.csv.dbc beside NAME.csv) are\n"
    "left out. Links to folders are not followed.\n"
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
    "  --print-layouts  write no CSV file; print a NAME TYPES line for each file\n"
    "                   (from --layouts, or guessed), with a # comment line\n"
    "                   before each guess that is unsure. Messages go to\n"
    "                   standard error.\n"
    "  --force          replace a CSV file that already exists (without it, such\n"
    "                   a file is left alone: it may hold your edits).\n"
    "  -h, --help       show this help.\n"
    "  --version        show the version.\n"
    "  --               end of the options: every further argument is a PATH.\n"
    "\n"
    "Workflow: unpack items.dbc to items.dbc.csv, edit the CSV file, run dbcpack\n"
    "in its folder (it writes items.dbc.csv.dbc), then rename items.dbc.csv.dbc\n"
    "to items.dbc. For a folder of tables, give the types once:\n"
    "  dbcunpack --print-layouts data > layouts.txt\n"
    "  (check the lines, above all those after a # comment, and correct them)\n"
    "  dbcunpack --layouts layouts.txt data\n"
    "\n"
    "A guess that the values do not settle prints \"WARNING: ... Guessed types\n"
    "uncertain\" with the fields to check and their other reading.\n"
    "\"Round trip exact.\" means that the CSV file was packed again, as dbcpack\n"
    "packs it, and gave back the DBC file byte for byte: nothing was lost.\n"
    "Otherwise a warning names the first difference. It is about bytes only:\n"
    "it does NOT prove that the column types are right, since a wrong guess\n"
    "can give back the same bytes too. Check the types printed as guessed, and\n"
    "correct them with --types or a layouts file.\n"
    "\n"
    "Messages go to standard output, one line each, naming the file or folder;\n"
    "errors start with \"ERROR: \" and end with the system's reason where there\n"
    "is one. A refused command line or layouts file goes to standard error.\n"
    "\n"
    "Exit status: 0 when every CSV file (or layouts line) was written, 1 when\n"
    "any file or folder failed, 2 for a bad command line or layouts file.\n";

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

// --layouts FILE or --layouts=FILE, at arguments[i]; the file is read once
// the command line is known to be good.
bool TakeLayoutsOption(const std::vector<std::string>& arguments, std::size_t& i,
                       UnpackCommandLine& commandLine, MessageSink& sink) {
  if (commandLine.layoutsSeen) {
    sink.Print("ERROR: Option '--layouts' is given more than once.\n");
    return false;
  }
  commandLine.layoutsSeen = true;
  if (arguments[i] != "--layouts") {
    commandLine.options.layoutsPath = arguments[i].substr(10);
  } else if (i + 1 < arguments.size()) {
    commandLine.options.layoutsPath = arguments[++i];
  }
  if (commandLine.options.layoutsPath.empty()) {
    sink.Print("ERROR: Option '--layouts' needs the name of a layouts file.\n");
    return false;
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
      commandLine.printLayouts = true;
    } else if (argument == "--layouts" || argument.rfind("--layouts=", 0) == 0) {
      if (!TakeLayoutsOption(arguments, i, commandLine, sink)) return false;
    } else {
      sink.Print("ERROR: Unknown option '%s'.\n", argument.c_str());
      return false;
    }
  }
  if (commandLine.typesSeen && commandLine.layoutsSeen) {
    sink.Print("ERROR: Give either '--types' or '--layouts', not both.\n");
    return false;
  }
  return true;
}

bool ReadFileOrSay(const std::string& path, platform::FileContents& contents, MessageSink& sink) {
  std::string reason;
  switch (platform::ReadWholeFile(path, contents, &reason)) {
    case platform::ReadResult::Read:
      return true;
    case platform::ReadResult::CannotOpen:
      sink.Print("ERROR: Can't open file '%s': %s.\n", path.c_str(), reason.c_str());
      return false;
    case platform::ReadResult::CannotRead:
      sink.Print("ERROR: Can't read file '%s': %s.\n", path.c_str(), reason.c_str());
      return false;
  }
  return false;
}

void SayCutShort(const std::string& path, MessageSink& sink) {
  sink.Print("ERROR: Can't read file '%s': File was cut short while it was read.\n", path.c_str());
}

bool ReadLayoutsFile(UnpackOptions& options, MessageSink& errors) {
  const std::string& path = options.layoutsPath;
  if (path.empty()) return true;
  platform::FileContents contents;
  if (!ReadFileOrSay(path, contents, errors)) return false;
  LayoutError error;
  const bool parsed = ParseLayouts(contents.View(), options.layouts, error);
  if (!contents.Intact()) {
    SayCutShort(path, errors);
    return false;
  }
  if (!parsed) {
    errors.Print("ERROR: '%s': Line '%u': %s.\n", path.c_str(), error.line, error.what.c_str());
    return false;
  }
  return true;
}

}  // namespace dbcpack
