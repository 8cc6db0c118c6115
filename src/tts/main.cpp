// koral: the built-in Portuguese voice on the command line.
//
//   koral [--phonemes | --pho | -w FILE.wav] [TEXT]
//
// TEXT (or standard input when there is none; UTF-8, or Windows-1252 when it
// is not valid UTF-8) is spoken through the default audio output, or:
//   --phonemes  one line per word: the word, a tab, its phonemes (">" before
//               the stressed one), as the letter rules make them
//   --pho       the lines the MBROLA synthesiser reads
//   -w FILE     the sound as a WAV file (16-bit mono at the voice's rate)
// Settings and files are found as the program finds them (Lumare.ini, section
// KORALTTS; rate and pitch from SERVFALA).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "console/core/settings.h"
#include "platform/audio_device.h"
#include "platform/codepage.h"
#include "speech/speech_servers.h"
#include "tts/koral_engine.h"

namespace {

using ondaria::koral::KoralEngine;

int usage() {
  std::fprintf(stderr, "uso: koral [--phonemes | --pho | -w ARQUIVO.wav] [TEXTO]\n");
  return 2;
}

int failure(const std::string& cp1252) {
  std::fprintf(stderr, "koral: %s\n", platform::cp1252ToUtf8(cp1252).c_str());
  return 1;
}

int numberSetting(const char* section, const char* key) {
  std::string v = ondaria::readSetting(section, key);
  return v.empty() ? 0 : std::atoi(v.c_str());
}

void putLittle(std::string& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool writeWave(const std::string& path, const std::vector<int16_t>& samples, int rate) {
  std::string h = "RIFF";
  auto data = static_cast<uint32_t>(samples.size() * 2);
  putLittle(h, data + 36, 4);
  h += "WAVEfmt ";
  putLittle(h, 16, 4);
  putLittle(h, 1, 2);  // PCM
  putLittle(h, 1, 2);  // mono
  putLittle(h, static_cast<uint32_t>(rate), 4);
  putLittle(h, static_cast<uint32_t>(rate) * 2, 4);
  putLittle(h, 2, 2);
  putLittle(h, 16, 2);
  h += "data";
  putLittle(h, data, 4);
  std::ofstream out(path, std::ios::binary);
  out.write(h.data(), static_cast<std::streamsize>(h.size()));
  for (int16_t s : samples) {
    char b[2] = {static_cast<char>(s & 0xFF), static_cast<char>((s >> 8) & 0xFF)};
    out.write(b, 2);
  }
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  enum class Mode { Play, Phonemes, Pho, Wave } mode = Mode::Play;
  std::string wavePath;
  std::string text;
  bool haveText = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--phonemes") {
      mode = Mode::Phonemes;
    } else if (a == "--pho") {
      mode = Mode::Pho;
    } else if (a == "-w") {
      if (i + 1 >= argc) return usage();
      mode = Mode::Wave;
      wavePath = argv[++i];
    } else if (a == "-h" || a == "--help") {
      usage();
      return 0;
    } else {
      if (haveText) text += ' ';
      text += a;
      haveText = true;
    }
  }
  if (!haveText) text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  text = platform::isValidUtf8(text) ? platform::utf8ToCp1252(text) : text;

  auto engine = std::make_unique<KoralEngine>();
  ondaria::koral::KoralFiles files = ondaria::koralFilesFromSettings();
  int rate = numberSetting("SERVFALA", "VELOCIDADE");
  if (rate > 10) rate = 0;
  int pitch = numberSetting("SERVFALA", "TOM");

  if (mode == Mode::Phonemes || mode == Mode::Pho) {
    if (!engine->loadLanguage(files, mode == Mode::Pho)) return failure(engine->errorText());
    engine->setSpeechFactors(rate, pitch);
    if (mode == Mode::Phonemes) {
      for (const auto& w : engine->wordPhonemes(text)) {
        std::string line = platform::cp1252ToUtf8(w.word) + "\t";
        for (size_t i = 0; i < w.phonemes.size(); ++i) line += (i ? " " : "") + w.phonemes[i];
        std::printf("%s\n", line.c_str());
      }
    } else {
      for (const std::string& line : engine->mbrolaLines(text))
        if (!line.empty()) std::printf("%s\n", platform::cp1252ToUtf8(line).c_str());
    }
    return 0;
  }

  if (!engine->init(files)) return failure(engine->errorText());
  engine->setSpeechFactors(rate, pitch);
  if (mode == Mode::Wave) {
    std::vector<int16_t> samples;
    bool ok = engine->synthesise(text, [&](const int16_t* s, size_t n) {
      samples.insert(samples.end(), s, s + n);
      return true;
    });
    if (!writeWave(wavePath, samples, engine->sampleRate()))
      return failure(platform::utf8ToCp1252("não foi possível gravar ") + wavePath);
    return ok ? 0 : 1;
  }

  if (!platform::audioOpen()) return failure(platform::utf8ToCp1252("sem saída de áudio"));
  auto source = std::make_shared<platform::PcmQueueSource>();
  platform::audioAddSource(source);
  platform::PcmFormat format{engine->sampleRate(), 1, platform::PcmEncoding::S16};
  bool ok = engine->synthesise(
      text,
      [&](const int16_t* s, size_t n) {
        source->queue(s, n * sizeof(int16_t), format);
        return true;
      },
      [&] {
        while (source->pendingFrames() > static_cast<size_t>(3 * platform::kMixRate))
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
      });
  while (source->busy()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  platform::audioRemoveSource(source.get());
  platform::audioClose();
  return ok ? 0 : 1;
}
