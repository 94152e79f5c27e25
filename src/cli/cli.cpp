#include "cli/cli.h"

#include "cli/commands.h"
#include "cli/terminal.h"

#include <optional>

#include "engine/deletion_run.h"
#include "lang/language_table.h"
#include "lang/translation_export.h"
#include "platform/console.h"
#include "platform/format.h"
#include "platform/system.h"
#include "settings/settings.h"

namespace nulvane::cli {

namespace {

using platform::EscapeForDisplay;
using platform::Format;
using platform::Stream;
using platform::WriteText;

using lang::GeneralTextId;
using lang::TextId;

void Out(TextView text) { WriteText(Stream::kOut, text); }
void Err(TextView text) { WriteText(Stream::kErr, text); }

enum class Command { kDestroy, kList, kFill, kExport, kLanguages, kHelp, kVersion };

struct Options {
  Command command = Command::kDestroy;
  bool command_given = false;
  std::optional<int> passes;
  std::optional<int> delay;
  std::optional<int> language;
  bool quiet = false;
  bool verify = false;
  std::vector<Text> paths;
  std::optional<Text> export_file;
};

struct UsageError {
  Text message;
};

// Parses a whole number from `low` to `high`; nothing for anything else.
std::optional<int> ParseNumber(TextView text, int low, int high) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

bool SetCommand(Options& options, Command command) {
  if (options.command_given && options.command != command) return false;
  options.command = command;
  options.command_given = true;
  return true;
}

// Parses the arguments; a usage error fills `error` and returns nothing.
std::optional<Options> Parse(const std::vector<Text>& args, UsageError& error) {
  Options options;
  bool only_paths = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Text& arg = args[i];
    if (only_paths || arg.empty() || arg[0] != u'-' || arg == u"-") {
      options.paths.push_back(arg);
      continue;
    }
    if (arg == u"--") {
      only_paths = true;
      continue;
    }
    // "--passes=3" and "-p3" as well as "--passes 3" and "-p 3".
    Text name = arg;
    std::optional<Text> attached;
    if (arg.size() > 2 && arg[1] == u'-') {
      const std::size_t equals = arg.find(u'=');
      if (equals != Text::npos) {
        name = arg.substr(0, equals);
        attached = arg.substr(equals + 1);
      }
    } else if (arg.size() > 2) {
      name = arg.substr(0, 2);
      attached = arg.substr(2);
    }
    auto value = [&](int low, int high) -> std::optional<int> {
      Text text;
      if (attached) {
        text = *attached;
      } else if (i + 1 < args.size()) {
        text = args[++i];
      } else {
        error.message = Format(lang::Txt(TextId::kNeedsValue), name);
        return std::nullopt;
      }
      auto number = ParseNumber(text, low, high);
      if (!number) error.message = Format(lang::Txt(TextId::kNeedsWholeNumber), name, low, high);
      return number;
    };
    bool command_ok = true;
    if (name == u"-p" || name == u"--passes") {
      if (!(options.passes = value(1, engine::kMaxPassCount))) return std::nullopt;
      continue;
    } else if (name == u"-d" || name == u"--delay") {
      if (!(options.delay = value(0, 10))) return std::nullopt;
      continue;
    } else if (name == u"-L" || name == u"--language") {
      if (!(options.language = value(0, lang::kMaxSlots - 1))) return std::nullopt;
      continue;
    }
    if (attached && name != u"--export-translation") {
      error.message = Format(lang::Txt(TextId::kUnknownOption), arg);
      return std::nullopt;
    }
    if (name == u"-q" || name == u"--quiet") {
      options.quiet = true;
    } else if (name == u"--verify") {
      options.verify = true;
    } else if (name == u"--list") {
      command_ok = SetCommand(options, Command::kList);
    } else if (name == u"--fill") {
      command_ok = SetCommand(options, Command::kFill);
    } else if (name == u"--export-translation") {
      command_ok = SetCommand(options, Command::kExport);
      if (attached) options.export_file = *attached;
    } else if (name == u"--languages") {
      command_ok = SetCommand(options, Command::kLanguages);
    } else if (name == u"-h" || name == u"--help") {
      command_ok = SetCommand(options, Command::kHelp);
    } else if (name == u"-V" || name == u"--version") {
      command_ok = SetCommand(options, Command::kVersion);
    } else {
      error.message = Format(lang::Txt(TextId::kUnknownOption), arg);
      return std::nullopt;
    }
    if (!command_ok) {
      error.message = Format(lang::Txt(TextId::kUnknownOption), arg);
      return std::nullopt;
    }
  }
  return options;
}

void PrintHelp(TextView program) {
  Text text =
      Format(u"%s\n\n%s\n", lang::GetGeneralText(GeneralTextId::kTitle), lang::Txt(TextId::kUsage));
  auto line = [&](TextView usage, TextId id) {
    text += Format(u"  %s %s\n      %s\n", program, usage, lang::Txt(id));
  };
  line(u"[-p N] [-d S] [-L N] [-q] [--verify] [--] PATH...", TextId::kUsageDestroy);
  line(u"--list [--] PATH...", TextId::kUsageList);
  line(u"--fill FOLDER [-L N] [-q]", TextId::kUsageFill);
  line(u"--export-translation [FILE]", TextId::kUsageExportTranslation);
  line(u"--languages", TextId::kUsageLanguages);
  line(u"--help", TextId::kUsageHelp);
  line(u"--version", TextId::kUsageVersion);
  text += u"\n";
  auto option = [&](TextView names, TextId id) {
    text += Format(u"  %-18s %s\n", names, lang::Txt(id));
  };
  option(u"-p, --passes N", TextId::kOptionPasses);
  option(u"-d, --delay S", TextId::kOptionDelay);
  option(u"-L, --language N", TextId::kOptionLanguage);
  option(u"-q, --quiet", TextId::kOptionQuiet);
  option(u"--verify", TextId::kOptionVerify);
  text += Format(u"\n%s\n  %s -p 3 -d 5 ~/old-letters report.doc\n  %s --list ~/old-letters\n",
                 lang::Txt(TextId::kExample), program, program);
  Out(text);
}

void PrintLanguages() {
  const lang::LanguageTable& table = lang::Table();
  const int current = table.CurrentLanguage();
  Text text;
  for (int slot = 0; slot < table.SlotCount(); ++slot) {
    const char16_t* name = table.SlotName(slot);
    // The same slots the window's language menu offers: named, and more than a bare tag.
    if (!name || TextView(name).size() <= 5) continue;
    Text shown(name);
    for (char16_t& c : shown) {
      if (c == u'\t') c = u' ';
    }
    const bool active =
        table.IsUsableLanguage(current) ? current == slot : slot == lang::kDefaultSlot;
    text += Format(u"%c %2d  %s\n", active ? u'*' : u' ', slot, shown);
  }
  Out(text);
}

int ExportTo(const std::optional<Text>& file) {
  const Text path = file ? *file : lang::TranslationExportPath();
  if (!lang::WriteTranslationExport(lang::Table(), path)) {
    Err(EscapeForDisplay(Format(lang::Txt(TextId::kCannotBeWritten), path)) + u"\n");
    return kExitFailed;
  }
  Out(EscapeForDisplay(Format(lang::Txt(TextId::kWritten), path)) + u"\n");
  return kExitOk;
}

}  // namespace

int RunCli(TextView program, const std::vector<Text>& args) {
  // The settings file beside the executable is read when it exists and never created or
  // written: the console leaves the window's settings alone.
  settings::UseSettingsFile(settings::SettingsPathFor(platform::ExecutablePath()));
  lang::LoadLanguageTable();
  lang::Table().SetCurrentLanguage(
      settings::GetProgramInt(settings::kLanguageKey, settings::DefaultLanguageIndex()));

  // -L must hold for the texts of every later message, usage errors included.
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == u"--") break;
    if (args[i] == u"-L" || args[i] == u"--language") {
      if (auto n = ParseNumber(args[i + 1], 0, lang::kMaxSlots - 1))
        lang::Table().SetCurrentLanguage(*n);
    }
  }

  // One line for a settings file that is there but not read (a device, a FIFO, a folder, a
  // file over 1 MiB): the defaults are used, and the user learns why.
  if (settings::SettingsFileIgnored()) {
    Terminal(false).Message(Format(lang::Txt(TextId::kSettingsIgnored), settings::SettingsFile()),
                            engine::MessageKind::kWarning);
  }

  UsageError error;
  const std::optional<Options> options = Parse(args, error);
  if (!options) {
    Err(program);
    // The message may quote an argument: escaped like every name the console prints.
    Err(u": " + EscapeForDisplay(error.message) + u"\n" +
        Format(lang::Txt(TextId::kMoreWithHelp), program) + u"\n");
    return kExitUsage;
  }
  if (options->language) lang::Table().SetCurrentLanguage(*options->language);

  switch (options->command) {
    case Command::kHelp:
      PrintHelp(program);
      return kExitOk;
    case Command::kVersion:
      Out(Text(lang::GetGeneralText(GeneralTextId::kTitle)
                   ? lang::GetGeneralText(GeneralTextId::kTitle)
                   : u"") +
          u"\n");
      return kExitOk;
    case Command::kLanguages:
      PrintLanguages();
      return kExitOk;
    case Command::kExport: {
      std::optional<Text> file = options->export_file;
      if (!file && options->paths.size() == 1) file = options->paths[0];
      if (options->paths.size() > 1 || (options->export_file && !options->paths.empty())) {
        Err(program);
        Err(u": " +
            EscapeForDisplay(Format(lang::Txt(TextId::kUnknownOption), options->paths.back())) +
            u"\n" + Format(lang::Txt(TextId::kMoreWithHelp), program) + u"\n");
        return kExitUsage;
      }
      return ExportTo(file);
    }
    default:
      break;
  }
  if (args.empty()) {
    PrintHelp(program);
    return kExitOk;
  }
  auto usage = [&](TextView message) {
    Err(Text(program) + u": " + EscapeForDisplay(message) + u"\n" +
        Format(lang::Txt(TextId::kMoreWithHelp), program) + u"\n");
    return kExitUsage;
  };
  if (options->paths.empty()) return usage(lang::Txt(TextId::kNoPathGiven));
  JobOptions job;
  job.passes = options->passes;
  job.delay = options->delay;
  job.quiet = options->quiet;
  job.verify = options->verify;
  job.paths = options->paths;
  switch (options->command) {
    case Command::kList:
      return ListPaths(job);
    case Command::kFill:
      if (options->paths.size() != 1)
        return usage(Format(lang::Txt(TextId::kTakesOneFolder), u"--fill"));
      return FillFreeSpaceOf(job);
    default:
      return DestroyPaths(job);
  }
}

}  // namespace nulvane::cli
