// quendrel-tool COMMAND [ARGS...]: walks, seeks, summarises and renders recordings with the
// player's own reader and players. `quendrel-tool --help` lists the commands.

#include <QGuiApplication>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/quendrel_tool/tool.h"

namespace {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const tool::Args& args);
  bool needsGui;  // draws text, so it needs an application object (fonts)
};

const Command kCommands[] = {
    {"frames", "one line per frame the reader hands on, with its pacing wait", &tool::CommandFrames,
     false},
    {"seek", "the offset where reading resumes after a seek to a byte", &tool::CommandSeek, false},
    {"info", "a summary of a recording: player, frames, times, damage", &tool::CommandInfo, false},
    {"render", "plays a recording headless and writes every picture drawn", &tool::CommandRender,
     true},
    {"record", "plays a recording headless and records it into an AVI file", &tool::CommandRecord,
     true},
};

void PrintHelp(FILE* out) {
  std::fprintf(out,
               "usage: quendrel-tool COMMAND [ARGS...]\n"
               "       quendrel-tool COMMAND --help\n\ncommands:\n");
  for (const Command& command : kCommands) {
    std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
  }
  std::fprintf(out,
               "\nExit status: 0 done, 1 failed while working, 2 bad arguments or a file that "
               "cannot be opened.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintHelp(stderr);
    return 2;
  }
  const std::string name = argv[1];
  if (tool::IsHelp(name)) {
    PrintHelp(stdout);
    return 0;
  }
  for (const Command& command : kCommands) {
    if (name != command.name) continue;
    tool::Args args(argv + 2, argv + argc);
    std::unique_ptr<QGuiApplication> app;
    if (command.needsGui) {
      // Headless whatever the environment says: the pictures are drawn in memory.
      qputenv("QT_QPA_PLATFORM", "offscreen");
      app = std::make_unique<QGuiApplication>(argc, argv);
    }
    return command.run(args);
  }
  std::fprintf(stderr, "quendrel-tool: unknown command '%s'\n", name.c_str());
  PrintHelp(stderr);
  return 2;
}
