// The built-in Portuguese voice: the text stages (normalisation, letter
// rules, stress and prosody) in front of the MBROLA synthesiser.
//
// Files. The voice database is named by KORALTTS/MBROLA_DB ("br4"): a bare
// name is the installed /usr/share/mbrola/NAME/NAME, anything else a path.
// The five language files are DIR + BASE + ".nrl" (letter rules), ".exc"
// (exceptions), ".abr" (abbreviations), ".pro" (prosody) and ".dfn" (the
// voice's diphones), with DIR the folder "data/koral/" beside the program and
// BASE "portug" unless KORALTTS/DIR and KORALTTS/BASE say otherwise.
//
// One engine owns one synthesiser process (mbrola_driver.h), started by init
// and kept for every text; synthesise streams the samples to a sink as the
// process makes them, so the first sound is ready within milliseconds of the
// text and a cut discards the rest at once. Not thread-safe: one thread uses
// an engine (the speech server's worker, or the command-line program).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tts/letter_rules.h"
#include "tts/mbrola_driver.h"
#include "tts/prosody.h"
#include "tts/text_normaliser.h"

namespace ondaria::koral {

// The KORALTTS keys as read from the settings (empty: default).
struct KoralSettings {
  std::string database;   // MBROLA_DB
  std::string directory;  // DIR, a path with "/" separators
  std::string base;       // BASE
};

struct KoralFiles {
  std::string databaseName;  // as named in the settings
  std::string database;      // its path; empty when it is not installed
  std::string rules, exceptions, abbreviations, prosody, diphones;
};

// Defaults: database "br4", directory programDirectory + "/data/koral/",
// base "portug". A "/" is added to a directory that lacks it.
KoralFiles koralFiles(const KoralSettings& settings, const std::string& programDirectory);

// The messages of a failed start (Windows-1252).
std::string koralLanguageError();     // "Erro na base de dados de português"
std::string koralAbbreviationError(); // "Erro no arquivo de abreviaturas"
std::string koralProsodyError();      // "Erro no arquivo de prosódia"

class KoralEngine {
 public:
  // Receives samples as they are made; returning false stops the text (a cut).
  using SampleSink = std::function<bool(const int16_t* samples, size_t count)>;

  KoralEngine() = default;
  ~KoralEngine() { close(); }
  KoralEngine(const KoralEngine&) = delete;
  KoralEngine& operator=(const KoralEngine&) = delete;

  // Starts the synthesiser on the database, then loads the language files.
  // False on any failure, with errorText() saying why (the messages above for
  // the language files; the synthesiser's own reason otherwise).
  bool init(const KoralFiles& files);
  // The language files alone: enough for the text stages. Without
  // `withDiphones` the diphone list is not read (the letter rules and the
  // stress need no voice).
  bool loadLanguage(const KoralFiles& files, bool withDiphones = true);

  // The start's rate (-10 … 10) and pitch (TOM): pitch factor (pitch + 11) / 11,
  // duration factor 0.8 - rate / 15, each kept within sane bounds.
  void setSpeechFactors(int rate, int pitch);
  double pitchFactor() const { return pitchFactor_; }
  double durationFactor() const { return durationFactor_; }

  // Text stages. codedWords: normalise, split, assign codes.
  std::vector<std::string> codedWords(std::string_view text) const;
  std::vector<std::string> phonemeList(std::string_view text) const;
  std::vector<std::string> mbrolaLines(std::string_view text) const;
  // The letter-rule stage word by word: each word with its phoneme items.
  struct WordPhonemes {
    std::string word;
    std::vector<std::string> phonemes;
  };
  std::vector<WordPhonemes> wordPhonemes(std::string_view text) const;

  // Synthesises the text, handing the samples to `sink` as they come.
  // `waitForRoom`, when given, is called between pieces of a long text and may
  // block while the listener still has plenty to play (it keeps the sound made
  // ahead bounded). `cancelled`, when given, is asked between lines and while
  // waiting: true stops the text as a sink that refuses samples does, at once
  // (so a cut need not wait for the next samples to be noticed). A
  // synthesiser that dies or stops answering is restarted and the text goes
  // on; the result is false when that happened or the synthesiser cannot run.
  bool synthesise(std::string_view text, const SampleSink& sink,
                  const std::function<void()>& waitForRoom = {},
                  const std::function<bool()>& cancelled = {});

  // Ends the synthesiser and drops the language tables.
  void close();

  bool ready() const { return started_; }
  const std::string& errorText() const { return errorText_; }
  int sampleRate() const { return synth_.getFreq(); }
  MbrolaSynth& synthesiser() { return synth_; }
  // Restarts of the synthesiser since init (for tests).
  int restarts() const { return restarts_; }

 private:
  bool restart();
  // Hands every sample that has arrived to the sink; false when the sink said stop.
  bool drain(const SampleSink& sink);

  LetterRules rules_;
  Abbreviations abbreviations_;
  Prosody prosody_;
  DiphoneList diphones_;
  MbrolaSynth synth_;
  std::string database_;
  std::string errorText_;
  double pitchFactor_ = 1.0;
  double durationFactor_ = 1.0;
  bool started_ = false;
  int restarts_ = 0;
};

}  // namespace ondaria::koral
