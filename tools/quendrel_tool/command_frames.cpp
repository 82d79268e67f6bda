#include <cinttypes>
#include <cstdio>

#include "tools/quendrel_tool/tool.h"

namespace tool {
namespace {

constexpr const char* kUsage = "quendrel-tool frames FILE [--fast] [--from TARGET]";

void PrintHelp() {
  std::printf(
      "usage: %s\n\n"
      "Walks FILE as the reader thread does, from the start and without waiting, and prints\n"
      "one tab-separated line per frame handed to the player, after this header line:\n"
      "  offset type length seconds ms timestamp wait_ms\n"
      "offset: byte offset of the frame's header; type, length, seconds, ms: its header\n"
      "fields; timestamp: what the player is handed; wait_ms: the pacing wait for the frame\n"
      "(H.264: before the hand-off, 0 when none; JPEG: after it, 200, or 50 with --fast).\n\n"
      "  --fast         as if fast playback were on for the whole run\n"
      "  --from TARGET  as if a seek to byte TARGET were requested first; when no key or\n"
      "                 JPEG frame ends at or after it, only the header line is printed\n",
      kUsage);
}

// Prints the header line before the first frame, or at the end when no frame came, so that
// nothing reaches stdout when the file cannot be opened after all.
class FramePrinter final : public ReaderObserver {
 public:
  void OnFrame(const ReaderFrame& frame) override {
    PrintHeaderOnce();
    std::printf("%" PRId64 "\t%u\t%u\t%u\t%u\t%u\t%u\n", frame.offset,
                static_cast<unsigned>(frame.header.frameType),
                static_cast<unsigned>(frame.header.dataLength),
                static_cast<unsigned>(frame.header.seconds),
                static_cast<unsigned>(frame.header.milliseconds),
                static_cast<unsigned>(frame.timestamp), static_cast<unsigned>(frame.waitMs));
  }
  void OnEnd(ReaderEnd reason, int64_t) override {
    end = reason;
    if (reason != ReaderEnd::OpenFailed) PrintHeaderOnce();
  }

  ReaderEnd end = ReaderEnd::Stopped;

 private:
  void PrintHeaderOnce() {
    if (headerPrinted) return;
    headerPrinted = true;
    std::printf("offset\ttype\tlength\tseconds\tms\ttimestamp\twait_ms\n");
  }

  bool headerPrinted = false;
};

}  // namespace

int CommandFrames(const Args& args) {
  std::string path;
  WalkOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (IsHelp(arg)) {
      PrintHelp();
      return 0;
    } else if (arg == "--fast") {
      options.fast = true;
    } else if (arg == "--from") {
      if (i + 1 >= args.size() || !ParseInt64(args[i + 1], &options.seekTarget)) {
        return UsageError("frames", kUsage, "--from needs a byte offset");
      }
      options.seek = true;
      ++i;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return UsageError("frames", kUsage, "unknown option " + arg);
    } else if (path.empty()) {
      path = arg;
    } else {
      return UsageError("frames", kUsage, "one FILE only");
    }
  }
  if (path.empty()) return UsageError("frames", kUsage, "FILE is missing");

  const std::string problem = OpenProblem(path);
  if (!problem.empty()) {
    ReportFileError("frames", path, problem);
    return 2;
  }
  FramePrinter printer;
  PlayerKind kind = PlayerKind::H264;
  bool playerMade = false;
  WalkRecording(path, options, printer, nullptr, &kind, &playerMade);
  if (printer.end == ReaderEnd::OpenFailed) {
    ReportFileError("frames", path, "cannot be opened");
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace tool
