#pragma once

// quendrel-tool: the command-line companion. Each command lives in its own file and is one
// row of the table in main.cpp. A command gets its arguments after its name and returns the
// exit status: 0 done, 1 failed while working, 2 bad arguments or a FILE that cannot be
// opened (then nothing is written to stdout).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "input/playback_context.h"
#include "input/reader.h"
#include "platform/clock.h"

namespace tool {

using Args = std::vector<std::string>;

int CommandFrames(const Args& args);
int CommandSeek(const Args& args);
int CommandInfo(const Args& args);
int CommandRender(const Args& args);
int CommandRecord(const Args& args);

// Reports a problem with FILE on stderr as "quendrel-tool COMMAND: FILE: REASON".
void ReportFileError(const std::string& command, const std::string& path,
                     const std::string& reason);
// Reports a usage error on stderr, with the command's usage line, and returns 2.
int UsageError(const std::string& command, const std::string& usage, const std::string& problem);

// Why the reader would refuse to open path, or "" when it opens.
std::string OpenProblem(const std::string& path);

// A whole decimal number, optionally signed; false for anything else or out of range.
bool ParseInt64(const std::string& text, int64_t* value);

bool IsHelp(const std::string& arg);

using platform::CountingClock;

// A player without a decode thread: each frame handed on goes to onInput (which may be empty)
// and is dropped.
class HandOffPlayer final : public CVideoPlayer {
 public:
  using Sink = std::function<void(const uint8_t* data, int32_t length, uint32_t timestamp)>;
  explicit HandOffPlayer(Sink onInput) : CVideoPlayer(nullptr), onInput(std::move(onInput)) {}

  int Start() override { return 1; }
  int InputData(const uint8_t* data, int32_t length, uint32_t keyFlag, uint32_t timestamp) override;
  void DecodeLoop() override {}
  int Refresh() override { return 1; }
  int Snapshot(const std::string&) override { return 0; }
  int StartRecord(const std::string&) override { return 0; }

 private:
  Sink onInput;
};

// How a walk of the reader loop is set up.
struct WalkOptions {
  bool fast = false;  // as if fast playback were on for the whole run
  bool seek = false;  // as if a seek to seekTarget were requested before the first pass
  int64_t seekTarget = 0;
};

// Runs the reader's own loop over path on this thread, without waiting. The player made is a
// HandOffPlayer feeding onInput; *kind receives its kind when one is made. Reports to
// observer; returns the file length the reader posted, or -1 when it posted none.
int64_t WalkRecording(const std::string& path, const WalkOptions& options, ReaderObserver& observer,
                      const HandOffPlayer::Sink& onInput, PlayerKind* kind, bool* playerMade);

}  // namespace tool
