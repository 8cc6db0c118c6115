// Shared between the source files of the speech front-end; not for other modules.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class PcmQueueSource;
}
namespace ondaria {
class SpeechServer;
}

namespace ondaria::speech_detail {

// Tells the program that a server's speech has ended (from the server's own
// thread): the wake hook of setSpeechServerWakeHook, or wakeConsole.
void speechServerEnded();
// A server's worker with nothing left to make: while `source` still plays,
// sleeps on `wake` (holding `lock` otherwise) until the mixer should have
// taken the last sample, at least 1 ms and at most 100 ms, or until
// `interrupted`, and returns true: the caller looks again. False once the
// sound is over (played or cut): the caller then tells the program.
bool waitWhileSoundPlays(platform::PcmQueueSource* source, std::unique_lock<std::mutex>& lock,
                         std::condition_variable& wake, const std::function<bool()>& interrupted);
// The built-in engine's driver (server type 3).
std::unique_ptr<SpeechServer> makeKoralServer();

// 8-bit unsigned mono at this rate is the format of every recording, of the
// diphone database and of the beeps.
constexpr int kItemRate = 11025;
constexpr size_t kHeaderSize = 44;

// Path of a recorded item: "_" names in the letters directory, others in the
// sound directory. When no file has exactly that name, a file whose name differs
// only in letter case is taken (recordings are named as on a system that
// ignores case).
std::string itemPath(std::string_view name);
std::string lettersPath(std::string_view fileName);  // file in the letters dir
// The file, or one differing only in case in the same directory; empty when none.
std::string existingFile(const std::string& path);

// The samples of a WAV file's "data" chunk (or everything after a 44-byte
// header when the file has no readable chunk list), at most `limit` bytes.
// False when the file cannot be read.
bool readWaveSamples(const std::string& path, size_t limit, std::vector<uint8_t>& samples);

// Waits for text handed to the speech server to end before wave sound starts.
void waitForEngineSpeech();
// Writes an 8-bit mono 11025 Hz header over the first 44 bytes of `image`
// (`size` bytes in all, the samples following the header), plays it and waits
// while speech sounds.
void playImageAndWait(uint8_t* image, size_t size);

}  // namespace ondaria::speech_detail
