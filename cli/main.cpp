// kestrune-cli: the matching jobs for batch use and scripts.
#include <iostream>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/options.h"
#include "common/version.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  using namespace kestrune::cli;
  kestrune::platform::WriteStandardStreamsAsBytes();
  CLI::App app("Kestrune: finds the stretches of a recording that sound like a piece of another", "kestrune-cli");
  app.require_subcommand(1);
  app.set_version_flag("--version", kestrune::kVersion, "Print the version and exit");
  std::vector<Runner> runners = {AddMatchCommand(app), AddFindCommand(app), AddMasksCommand(app), AddTempoCommand(app),
                                 AddBuildDbCommand(app), AddDemoCommand(app), AddConvertCommand(app)};
  try {
    // UTF-8 throughout, whatever the system's own encoding of the arguments.
    const std::vector<std::string> args = kestrune::platform::Utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& arg : args) pointers.push_back(arg.c_str());
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "kestrune-cli: " << e.what() << " (run with --help for usage)\n";
    return kExitUsage;
  }
  try {
    for (const Runner& run : runners) {
      const int status = run();
      if (status >= 0) return status;
    }
  } catch (const UsageError& e) {
    std::cerr << "kestrune-cli: " << e.what() << "\n";
    return kExitUsage;
  }
  return kExitUsage;
}
