#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli/given_settings.h"
#include "cli/help.h"
#include "cli/recipe.h"
#include "cli/request_checks.h"
#include "cli/version_info.h"
#include "driver/driver.h"
#include "driver/run_context.h"
#include "driver/run_log.h"
#include "util/console.h"
#include "util/fatal.h"
#include "util/shown_text.h"

namespace kavrel::cli {

namespace {

namespace fs = std::filesystem;

// The command line's options, defined once from the table of settings. CLI11
// fills the storage; given() turns what was given into settings.
class OptionTable {
 public:
  OptionTable()
      : specs_(settingSpecs()),
        texts_(specs_.size()),
        flags_(std::make_unique<bool[]>(specs_.size())),
        options_(specs_.size(), nullptr) {
    app_.set_help_flag();  // kavrel prints its own help text
    for (std::size_t i = 0; i < specs_.size(); ++i) {
      const SettingSpec& spec = specs_[i];
      const std::string name = "--" + std::string(spec.name);
      if (spec.name == "input") {
        options_[i] = app_.add_option("INPUT", texts_[i]);
      } else if (spec.kind == SettingKind::flag) {
        options_[i] = app_.add_flag(name, flags_[i]);
      } else if (spec.kind == SettingKind::list) {
        // One value per --curve, so that a following word is not taken as a second curve.
        options_[i] = app_.add_option(name, curves_)->allow_extra_args(false);
      } else {
        options_[i] = app_.add_option(name, texts_[i]);
      }
    }
    app_.add_flag("-h,--help", help_);
    app_.add_flag("--version", version_);
  }

  // Parses the arguments (without the program name); throws CLI::ParseError.
  void parse(std::vector<std::string> args) {
    std::reverse(args.begin(), args.end());  // CLI11 takes them last first
    app_.parse(args);
  }

  bool help() const { return help_; }
  bool version() const { return version_; }

  GivenSettings given() const {
    GivenSettings settings;
    for (std::size_t i = 0; i < specs_.size(); ++i) {
      const SettingSpec& spec = specs_[i];
      if (options_[i]->count() == 0) continue;
      const std::string origin = spec.name == "input" ? "INPUT" : "--" + std::string(spec.name);
      if (spec.kind == SettingKind::list) {
        for (const std::string& curve : curves_)
          settings.curves.push_back(Given{curve, origin + " " + curve, {}});
      } else {
        const std::string text =
            spec.kind == SettingKind::flag ? (flags_[i] ? "true" : "false") : texts_[i];
        settings.*spec.member = Given{text, origin, {}};
      }
    }
    return settings;
  }

  // Every name the parser accepts.
  std::vector<std::string> names() const {
    std::vector<std::string> names;
    for (const CLI::Option* option : app_.get_options()) {
      if (option->get_lnames().empty() && option->get_snames().empty())
        names.push_back(option->get_name());
      for (const std::string& l : option->get_lnames()) names.push_back("--" + l);
      for (const std::string& s : option->get_snames()) names.push_back("-" + s);
    }
    return names;
  }

 private:
  CLI::App app_;
  std::span<const SettingSpec> specs_;
  std::vector<std::string> texts_;
  std::unique_ptr<bool[]> flags_;
  std::vector<std::string> curves_;
  std::vector<CLI::Option*> options_;
  bool help_ = false;
  bool version_ = false;
};

// Refuses the settings that belong to the other way of running.
void requireMode(const GivenSettings& given, bool run) {
  for (const SettingSpec& spec : settingSpecs()) {
    const bool present =
        spec.member != nullptr ? (given.*spec.member).has_value() : !given.curves.empty();
    if (!present) continue;
    if (!run && spec.mode == SettingMode::runOnly) {
      if (spec.name == "input") {
        const std::string& text = given.input->text;
        if (text == "run") throw UsageError("'run' comes first: kavrel run [INPUT] [OPTIONS]");
        throw UsageError("INPUT " + shownText(text) +
                         ": a ring-width file is named only after 'run'; the dialogue asks for it");
      }
      throw UsageError("--" + std::string(spec.name) +
                       ": only for a run without questions (kavrel run ...)");
    }
    if (run && spec.mode == SettingMode::dialogueOnly) {
      throw UsageError("--" + std::string(spec.name) +
                       ": only for the dialogue; a run without questions writes its recipe with "
                       "--save-recipe");
    }
  }
}

Command usage(std::string message) {
  Command command;
  command.kind = CommandKind::usageError;
  command.text = std::move(message);
  return command;
}

// One run, the dialogue or one without questions, with the exit status of
// its end.
int runRequest(RunRequest request) {
  RunLog log;
  RunContext ctx(stdConsole(), log);
  ctx.programVersion = kVersion;
  try {
    runProgram(ctx, request, recipeText);
    return kExitNormal;
  } catch (const Fatal& e) {
    return reportFatal(ctx, e);
  } catch (const std::exception& e) {
    return reportInternalError(ctx, e);
  }
}

}  // namespace

Command parseCommandLine(const std::vector<std::string>& args, const fs::path& startFolder) {
  const bool run = !args.empty() && args.front() == "run";
  OptionTable table;
  try {
    table.parse(std::vector<std::string>(args.begin() + (run ? 1 : 0), args.end()));
  } catch (const CLI::ParseError& e) {
    // The parser's message may quote an argument whole: keep it to one
    // readable line of reasonable length.
    const std::string message = e.what();
    const std::size_t kept = 3 * kMaxQuotedLength;
    return usage(message.size() <= kept ? escapedText(message)
                                        : escapedText(message.substr(0, kept)) + "...");
  }
  Command command;
  if (table.help()) {
    command.kind = CommandKind::help;
    command.text = helpText();
    return command;
  }
  if (table.version()) {
    command.kind = CommandKind::version;
    command.text = versionText();
    return command;
  }
  try {
    GivenSettings settings = table.given();
    requireMode(settings, run);
    if (settings.recipe) settings = overRecipe(settings, readRecipe(*settings.recipe, startFolder));
    command.kind = run ? CommandKind::run : CommandKind::dialogue;
    command.request = checkedRequest(settings, !run, startFolder);
  } catch (const UsageError& e) {
    return usage(e.what());
  }
  return command;
}

std::vector<std::string> commandLineOptionNames() { return OptionTable().names(); }

int cliMain(int argc, char** argv, std::FILE* out, std::FILE* err) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::error_code ec;
  const fs::path startFolder = fs::current_path(ec);
  if (ec) {
    std::fprintf(err, "kavrel: the current folder can't be found: %s\n", ec.message().c_str());
    return kExitRunFailed;
  }
  const Command command = parseCommandLine(args, startFolder);
  switch (command.kind) {
    case CommandKind::help:
    case CommandKind::version:
      std::fputs(command.text.c_str(), out);
      std::fflush(out);
      return kExitNormal;
    case CommandKind::usageError:
      std::fprintf(err, "kavrel: %s\nTry 'kavrel --help' for the options.\n", command.text.c_str());
      return kExitUsage;
    case CommandKind::dialogue:
    case CommandKind::run:
      return runRequest(command.request);
  }
  return kExitRunFailed;
}

}  // namespace kavrel::cli
