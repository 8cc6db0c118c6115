// The MBROLA diphone synthesiser behind the interface of its library (init,
// write, flush, read, reset, close, last error, no-error flag, volume ratio,
// sample rate), over ONE long-lived `mbrola` process.
//
// Linux has no library of the synthesiser to load; its program reads phoneme
// lines ("a 120 50 200": phoneme, milliseconds, pitch points as per cent of
// the phoneme and Hz) on standard input and writes samples on standard output.
// The driver starts it once, at init, as
//
//     mbrola -e DATABASE - -.wav
//
// (through posix_spawn with pipes, no shell) and keeps it for every text. The
// WAV header that begins its output gives the sample rate; the rest is 16-bit
// mono samples. "-e" lets it go on past diphones the voice lacks, which it
// reports on standard error.
//
// Knowing where the sound of a text ends. The program's output is one stream
// of samples without marks. After each flush the driver writes a marker
// segment made of a phoneme the voice cannot have ("sync7"); the program warns
// about it on standard error only after it has written every sample of what
// came before. So once the marker's warning is read, all the sound asked for
// before it is in the output pipe: done() can say that a text is complete, and
// reset() can discard exactly the sound of a cut text, whatever the program
// still makes for it, without restarting the process.
//
// Lines are checked before they reach the program, since some values make it
// abort ("PANIC") or crash: a phoneme name with a blank, "#" or ";" in it
// becomes "_", durations are kept within 2 … 3000 ms, pitch points within
// 0 … 100 % and 40 … 800 Hz, a pitch point is added when 150 phonemes came
// without one, and a flush is made after 200 phonemes without one.
//
// Never blocks its caller: writes are queued and handed to the process as it
// takes them; read() returns what has arrived; wait() sleeps until something
// changes or the time is up. One thread uses a driver at a time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

namespace ondaria::koral {

// Results: 0 or a count on success; negative values are errors.
constexpr int kMbrolaNotRunning = -1;  // init failed or the process has ended
constexpr int kMbrolaTimeout = -2;     // the process stopped answering

class MbrolaSynth {
 public:
  // How long init waits for the program to load its voice and answer.
  static constexpr int kStartTimeoutMs = 5000;

  MbrolaSynth() = default;
  ~MbrolaSynth();
  MbrolaSynth(const MbrolaSynth&) = delete;
  MbrolaSynth& operator=(const MbrolaSynth&) = delete;

  // The program to start (default "mbrola", looked up in PATH).
  void setProgram(std::string program) { program_ = std::move(program); }

  // Starts the program on the voice database and waits until it has answered
  // a first (silent) request. 0, or kMbrolaNotRunning with lastErrorStr()
  // saying why (program missing, database refused, ...).
  int init(const std::string& databasePath, int timeoutMs = kStartTimeoutMs);
  // One line of phoneme input, without its line end (";" begins a comment).
  // 0, or kMbrolaNotRunning when the process is gone.
  int write(std::string_view line);
  // Asks for the sound of everything written so far.
  int flush();
  // Up to maxSamples samples that have arrived; 0 when none wait; negative
  // when the process is gone and nothing is left to read.
  int read(int16_t* buffer, int maxSamples);
  // Waits up to timeoutMs for output, for input taken or for the end of the
  // process; false when nothing happened.
  bool wait(int timeoutMs);
  // True when every flushed request has been answered and all its samples
  // have been read.
  bool done() const;
  // Discards every line not yet synthesised and every sample not yet read,
  // including what the process still makes for lines already written. Waits
  // (at most timeoutMs) until the process has caught up. 0, or an error (the
  // caller then restarts it).
  int reset(int timeoutMs = kStartTimeoutMs);
  // Ends the process.
  void close();

  bool running() const { return child_.running() && !ended_; }
  pid_t pid() const { return child_.pid; }
  int lastError() const { return lastError_; }
  const std::string& lastErrorStr() const { return lastErrorStr_; }
  // Non-zero: diphones missing from the voice are not errors (the program
  // goes on past them either way; with 0 the first one sets lastError).
  void setNoError(int value) { noError_ = value; }
  int getNoError() const { return noError_; }
  // Volume ratio applied to the samples as they are read (1.0 unchanged).
  void setVolumeRatio(float ratio);
  float getVolumeRatio() const { return volume_; }
  // Samples per second of the voice (0 before init).
  int getFreq() const { return rate_; }
  // Samples made and read since init (for benchmarks and tests).
  uint64_t samplesRead() const { return samplesRead_; }

  // The line as it is handed to the program (see the top of this file), or
  // empty when the line is dropped. Exposed for tests.
  std::string checkedLine(std::string_view line);

 private:
  void pump();
  void handleErrorText(std::string_view text);
  void fail(int code, std::string text);
  void queueRaw(std::string_view text);
  void sendMarker();

  std::string program_ = "mbrola";
  std::string database_;
  platform::PipedChild child_;
  bool ended_ = false;
  std::string input_;          // bytes not yet taken by the process
  std::string output_;         // bytes of samples not yet read
  size_t outputStart_ = 0;     // first unread byte of output_
  std::string errorLine_;      // start of a line of standard error
  bool headerDone_ = false;    // the WAV header has been read
  std::string header_;
  uint64_t markersSent_ = 0;
  uint64_t markersSeen_ = 0;
  uint64_t discardUntil_ = 0;  // output is dropped until this marker is seen
  int phonesSincePitch_ = 0;
  int phonesSinceFlush_ = 0;
  long lastHz_ = 200;
  int rate_ = 0;
  float volume_ = 1.0f;
  int noError_ = 1;
  int lastError_ = 0;
  std::string lastErrorStr_;
  uint64_t samplesRead_ = 0;
};

// Path of an installed voice database: NAME alone is looked up as
// /usr/share/mbrola/NAME/NAME, then (like any other text) as a path. Empty
// when neither exists.
std::string findMbrolaDatabase(const std::string& name);

}  // namespace ondaria::koral
