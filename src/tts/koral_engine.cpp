#include "tts/koral_engine.h"

#include <algorithm>
#include <chrono>

#include "platform/codepage.h"
#include "tts/koral_text.h"

namespace ondaria::koral {

namespace {

// A piece of a text is flushed to the synthesiser at a pause once it holds
// this many phonemes: the first sound comes after the first few words, and a
// cut has little made ahead to discard.
constexpr int kPiecePhonemes = 8;
// How long the synthesiser may go without making anything while it still owes
// sound before it counts as hung and is restarted.
constexpr int kHangMs = 5000;
// Step of the wait for the synthesiser's output: short, since a cut is
// looked for between steps.
constexpr int kWaitStepMs = 5;
constexpr int kReadSamples = 8192;

std::string withSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

std::string koralLanguageError() { return platform::utf8ToCp1252("Erro na base de dados de português"); }
std::string koralAbbreviationError() { return "Erro no arquivo de abreviaturas"; }
std::string koralProsodyError() { return platform::utf8ToCp1252("Erro no arquivo de prosódia"); }

KoralFiles koralFiles(const KoralSettings& s, const std::string& programDirectory) {
  KoralFiles f;
  f.databaseName = s.database.empty() ? "br4" : s.database;
  f.database = findMbrolaDatabase(f.databaseName);
  std::string dir = withSlash(s.directory.empty() ? programDirectory + "/data/koral" : s.directory);
  std::string base = dir + (s.base.empty() ? "portug" : s.base);
  f.rules = base + ".nrl";
  f.exceptions = base + ".exc";
  f.abbreviations = base + ".abr";
  f.prosody = base + ".pro";
  f.diphones = base + ".dfn";
  return f;
}

bool KoralEngine::loadLanguage(const KoralFiles& files, bool withDiphones) {
  rules_.freeRules();
  diphones_.clear();
  if (!loadRules(files.rules, rules_) || !loadExceptions(files.exceptions, rules_)) {
    errorText_ = koralLanguageError();
    return false;
  }
  if (!loadAbbreviations(files.abbreviations, abbreviations_)) {
    errorText_ = koralAbbreviationError();
    return false;
  }
  std::string why;
  if (!loadProsody(files.prosody, prosody_, why) ||
      (withDiphones && (!loadDiphones(files.diphones, diphones_) || diphones_.size() == 0))) {
    // The prosody file's own reason first, then the engine's message.
    errorText_ = why.empty() ? koralProsodyError() : why + "\r\n" + koralProsodyError();
    return false;
  }
  errorText_.clear();
  return true;
}

bool KoralEngine::init(const KoralFiles& files) {
  close();
  database_ = files.database;
  if (database_.empty()) {
    errorText_ = "voz " + files.databaseName + " do MBROLA ausente";
    return false;
  }
  if (synth_.init(database_) != 0) {
    errorText_ = synth_.lastErrorStr();
    return false;
  }
  if (!loadLanguage(files)) {
    synth_.close();
    return false;
  }
  synth_.setNoError(0);
  started_ = true;
  restarts_ = 0;
  return true;
}

void KoralEngine::setSpeechFactors(int rate, int pitch) {
  // Outside these bounds the voice is no longer speech: no pitch at all, or
  // phonemes shorter than their own transitions.
  pitchFactor_ = std::clamp((pitch + 11) / 11.0, 0.25, 4.0);
  durationFactor_ = std::clamp(0.8 - rate / 15.0, 0.1, 4.0);
}

std::vector<std::string> KoralEngine::codedWords(std::string_view text) const {
  std::string normal = normaliseText(text, abbreviations_);
  return assignCodes(splitWords(normal, prosody_), prosody_);
}

std::vector<std::string> KoralEngine::phonemeList(std::string_view text) const {
  return textToPhonemes(rules_, codedWords(text));
}

std::vector<std::string> KoralEngine::mbrolaLines(std::string_view text) const {
  return buildMbrolaLines(phonemeList(text), prosody_, diphones_, pitchFactor_, durationFactor_);
}

std::vector<KoralEngine::WordPhonemes> KoralEngine::wordPhonemes(std::string_view text) const {
  std::vector<WordPhonemes> words;
  std::vector<std::string> list = phonemeList(text);
  WordPhonemes* current = nullptr;
  for (const std::string& item : list) {
    if (item.size() >= 5 && item[0] == ';' && item[4] == '|') {
      std::string w = item.substr(5);
      current = nullptr;
      if (!w.empty() && isLetter(static_cast<uint8_t>(w[0]))) {
        words.push_back({w, {}});
        current = &words.back();
      }
    } else if (item.empty()) {
      current = nullptr;
    } else if (current != nullptr) {
      current->phonemes.push_back(item);
    }
  }
  return words;
}

bool KoralEngine::restart() {
  ++restarts_;
  synth_.close();
  return synth_.init(database_) == 0;
}

bool KoralEngine::drain(const SampleSink& sink) {
  int16_t buffer[kReadSamples];
  for (;;) {
    int n = synth_.read(buffer, kReadSamples);
    if (n <= 0) return true;
    if (!sink(buffer, static_cast<size_t>(n))) return false;
  }
}

bool KoralEngine::synthesise(std::string_view text, const SampleSink& sink,
                             const std::function<void()>& waitForRoom,
                             const std::function<bool()>& cancelled) {
  auto stopped = [&] { return cancelled && cancelled(); };
  if (!started_) return false;
  if (trimText(text).empty()) return true;
  std::vector<std::string> lines = mbrolaLines(text);
  bool ok = true;
  if (!synth_.running() && !restart()) return false;
  if (!synth_.done() && synth_.reset() != 0) {
    ok = false;
    if (!restart()) return false;
  }
  // Missing diphones are silence, not failures, while a text is spoken.
  synth_.setNoError(-63);

  // Waits until every flushed piece has been made and handed on. False when
  // the sink stopped the text; a dead or hung synthesiser is restarted.
  auto finishPieces = [&]() -> bool {
    long long lastProgress = steadyMs();
    uint64_t lastCount = synth_.samplesRead();
    while (!synth_.done()) {
      if (stopped()) return false;
      if (!synth_.running() || steadyMs() - lastProgress > kHangMs) {
        ok = false;
        if (!restart()) return true;
        return true;
      }
      synth_.wait(kWaitStepMs);
      if (!drain(sink)) return false;
      if (synth_.samplesRead() != lastCount) {
        lastCount = synth_.samplesRead();
        lastProgress = steadyMs();
      }
    }
    return drain(sink);
  };
  auto cutShort = [&]() {
    if (synth_.reset() != 0) restart();
  };

  int piece = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty() && i + 1 != lines.size()) continue;
    if (stopped()) {
      cutShort();
      return ok;
    }
    if (synth_.write(line) != 0) {
      ok = false;
      if (!restart()) return false;
      continue;
    }
    if (!line.empty() && line[0] != ';') ++piece;
    if (!drain(sink)) {
      cutShort();
      return ok;
    }
    bool pause = line.size() > 2 && line[0] == '_' && line[1] == ' ';
    if (pause && piece >= kPiecePhonemes) {
      if (synth_.flush() != 0) {
        ok = false;
        if (!restart()) return false;
      }
      piece = 0;
      if (!finishPieces()) {
        cutShort();
        return ok;
      }
      // Room is waited for only while there is more to make.
      if (waitForRoom && i + 2 < lines.size()) waitForRoom();
    }
  }
  if (synth_.flush() != 0) {
    ok = false;
    restart();
    return false;
  }
  if (!finishPieces()) {
    cutShort();
    return ok;
  }
  return ok;
}

void KoralEngine::close() {
  synth_.close();
  rules_.freeRules();
  diphones_.clear();
  started_ = false;
}

}  // namespace ondaria::koral
