// The speech front-end: settings and start-up, waiting and cutting, characters,
// recorded items, beeps and clicks, and console output that is also spoken.
#include "speech/speech.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <random>

#include "console/core/console.h"
#include "console/core/settings.h"
#include "platform/speech_log.h"
#include "speech/diphone_speech.h"
#include "speech/speech_internal.h"
#include "speech/speech_state.h"
#include "speech/wave_format.h"
#include "speech/wave_output.h"

namespace ondaria {

using namespace speech_detail;

namespace speech_detail {

SpeechState::SpeechState() {
  // The random part of the click is drawn once per run.
  std::random_device seed;
  std::minstd_rand random(seed());
  std::uniform_int_distribution<int> spread(0, 59);
  for (size_t i = 0; i < kClickSamples; ++i)
    click[kHeaderSize + i] = i < kClickNoise ? static_cast<uint8_t>(128 + spread(random)) : 128;
}

SpeechState& state() {
  static SpeechState s;
  return s;
}

bool parseNumber(const std::string& text, int& value) {
  size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  if (i == n) return false;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  if (i == n) return false;
  long long v = 0;
  for (; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > 1000000000) return false;  // no setting is anywhere near this
  }
  value = static_cast<int>(negative ? -v : v);
  return true;
}

std::string existingFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
  // Recordings are named as on a system that ignores letter case ("_MENOS",
  // "_Janeiro"): accept a file whose name differs only in case.
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR* d = opendir(dir.c_str());
  if (!d) return {};
  std::string found;
  while (dirent* e = readdir(d)) {
    if (strcasecmp(e->d_name, name.c_str()) == 0) {
      found = (slash == std::string::npos ? "" : dir + "/") + e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

std::string lettersPath(std::string_view fileName) {
  return state().lettersDir + std::string(fileName);
}

std::string itemPath(std::string_view name) {
  const std::string& dir = (!name.empty() && name[0] == '_') ? state().lettersDir : state().soundDir;
  return dir + nativePath(std::string(name)) + ".wav";
}

bool readWaveSamples(const std::string& path, size_t limit, std::vector<uint8_t>& samples) {
  samples.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0, size = 0;
  recordedSamplesSpan(file.data(), file.size(), limit, start, size);
  samples.assign(file.begin() + static_cast<long>(start),
                 file.begin() + static_cast<long>(start + size));
  return true;
}

void waitForEngineSpeech() {
  SpeechState& s = state();
  if (s.enginePending) {
    waitWhileSpeaking();
    s.enginePending = false;
  }
}

void playImageAndWait(uint8_t* image, size_t size) {
  waitForEngineSpeech();
  makeWaveHeader(image, static_cast<uint32_t>(size - kHeaderSize), kItemRate, 8, 1);
  wavePlayImage(image, size);
  waitWhileSpeaking();
}

}  // namespace speech_detail

// ---- Settings and start ---------------------------------------------------

namespace {

// "Missing" is absent or empty; a switch is on unless missing or "N..."/"n...".
bool switchOn(const std::string& value) {
  return !value.empty() && value[0] != 'N' && value[0] != 'n';
}

int numberOr(const std::string& value, int otherwise) {
  int v = 0;
  return parseNumber(value, v) ? v : otherwise;
}

std::string withSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

void applySpeedLevel(int level) {
  SpeechState& s = state();
  std::string n = std::to_string(level);
  auto key = [&n](const char* name) { return readSetting("SINTETIZADOR", name + n); };
  // DIFONES n would name a database of the level's own, but diphone speech
  // always opens "DIFONES2" (every shipped level names it): not read.
  setDiphoneParameters(numberOr(key("CORTEFON"), 0), numberOr(key("SOBRAFON"), 0),
                       numberOr(key("INTERPAL"), 0));
  waveCompressOn() = switchOn(key("CORTAFALA"));
  waveRateUp() = switchOn(key("RAPIDINHO"));
  s.fullStopPause = numberOr(key("PAUSAPONTO"), 250);
  s.commaPause = numberOr(key("PAUSAVIRG"), 150);
  s.colonPause = numberOr(key("PAUSADOISPONTOS"), 200);
}

void applyLowVision() {
  SpeechState& s = state();
  LowVisionSettings& v = s.lowVision;
  std::string zoom = readSetting("BAIXAVISAO", "AMPLIACAO");
  v.zoom = 0;
  if (!zoom.empty()) {
    int z = 0;
    v.zoom = (parseNumber(zoom, z) && z >= 0 && z <= 10) ? z : 3;
  }
  auto colour = [](const char* key, int otherwise) {
    int c = 0;
    return (parseNumber(readSetting("BAIXAVISAO", key), c) && c >= 0 && c <= 15) ? c : otherwise;
  };
  v.textColour = colour("CORLETRA", 14);
  v.backColour = colour("CORFUNDO", 6);
  v.cursorColour = colour("CORCURSOR", 3);
  if (v.zoom != 0) ensureConsole();
  if (s.lowVisionHook) s.lowVisionHook(v);
}

// Diphone speech is needed for every text when no server speaks; without its
// data the program cannot talk, so it says why on the screen and ends.
[[noreturn]] void failStart(int code) {
  writeText("Erro de inicializa\xE7\xE3o: " + std::to_string(code) + "\r\n");
  writeText("Banco de dados de voz: " + diphoneDatabaseName() + "\r\n");
  diphoneEnd();
  char line[128];
  readRawLine(line, sizeof line);
  closeConsole();
}

}  // namespace

void startSpeech(int level, std::string_view soundDirectory) {
  SpeechState& s = state();
  applyLowVision();
  std::string legacy = readSetting("LUMARE", "LEGADO");
  setSettingsFallback(!legacy.empty() && std::toupper(static_cast<unsigned char>(legacy[0])) == 'S');

  if (level <= 0) level = numberOr(readSetting("TRADUTOR", "VELOCIDADE"), 0);
  if (level < 1 || level > 5) level = 3;
  s.level = level;
  applySpeedLevel(level);

  int code = diphoneStart();
  if (code != 0) failStart(code);

  s.soundDir = soundDirectory.empty() ? std::string() : withSlash(nativePath(std::string(soundDirectory)));
  std::string letters = readSetting("TRADUTOR", "DIRLETRAS");
  // Installed programs find their recordings beside them.
  s.lettersDir = withSlash(letters.empty() ? programDirectory() + "/voz/letras" : nativePath(letters));
  applySpeedLevel(level);

  s.serverActive = false;
  std::string sapi = readSetting("TRADUTOR", "SAPI");
  if (switchOn(sapi)) {
    int voice = numberOr(readSetting("SERVFALA", "VOZ"), 0);
    int rate = numberOr(readSetting("SERVFALA", "VELOCIDADE"), 0);
    int pitch = numberOr(readSetting("SERVFALA", "TOM"), 0);
    int type = numberOr(readSetting("SERVFALA", "TIPOSAPI"), 0);
    if (type != kServerClassic && rate > 10) rate = 0;
    s.serverActive = engineStart(voice, rate, pitch, type);
    s.serverType = type;
  }
  // The log tells which engine speaks the texts that follow.
  std::string engine = s.serverActive ? s.server->engineName() : "diphones";
  if (engine != s.loggedEngine) {
    platform::logSpeech(platform::SpeechEvent::Engine, engine);
    s.loggedEngine = engine;
  }
  // A server that could not start because of a damaged file of its own says
  // why, in the voice that speaks instead, one line at a time.
  if (!s.serverActive && !s.serverError.empty()) {
    std::string error = std::move(s.serverError);
    s.serverError.clear();
    size_t start = 0;
    while (start < error.size()) {
      size_t end = error.find("\r\n", start);
      if (end == std::string::npos) end = error.size();
      writeLineSpoken(std::string_view(error).substr(start, end - start));
      start = end + 2;
    }
  }
}

void endSpeech() {
  SpeechState& s = state();
  speakPending();
  waitWhileSpeaking();
  stopSpeech();
  if (s.serverActive) {
    engineStop();
    s.serverActive = false;
  }
  diphoneEnd();
}

void setSpeechSpeed(int level, std::string_view soundDirectory) {
  std::string dir(soundDirectory);  // may be a reference to our own copy
  endSpeech();
  startSpeech(level, dir);
}

// ---- Waiting and cutting ----------------------------------------------------

bool isSpeaking() {
  SpeechState& s = state();
  if (keyPressed()) {
    stopSpeech();
    return false;
  }
  if (!s.serverActive) return waveBusy();
  return waveBusy() || engineBusy(false);
}

void waitWhileSpeaking() {
  // A key wakes the wait at once, and so does the end of a server's speech
  // (its driver calls the wake hook). The mixer does not wake the console when
  // a wave buffer ends, so wave sound is looked at again in short steps.
  constexpr int kWaveStepMs = 5;
  constexpr int kServerStepMs = 100;  // only a fallback: the end wakes us
  while (isSpeaking()) waitForConsoleEvent(waveQueuedCount() > 0 ? kWaveStepMs : kServerStepMs);
}

void stopSpeech() {
  SpeechState& s = state();
  // A server's speech cut short is heard as a cut as well (asking the server
  // costs nothing: busy never waits).
  bool serverSounding = s.serverActive && s.server && s.server->busy(false);
  if (waveQueuedCount() > 0 || serverSounding) platform::logSpeech(platform::SpeechEvent::Cut);
  waveStop();
  s.cut = true;
  // Cutting an idle server does nothing: cut without asking first, so that a
  // key silences it within one device buffer.
  if (s.serverActive) engineCut();
  wakeConsole();
}

void speechPause(int ms) {
  // 50 ms steps, so that a key waiting ends the pause within one step.
  constexpr int kStep = 50;
  for (int left = ms; left > 0; left -= kStep)
    if (!keyPressed()) delayMs(std::min(left, kStep));
}

// ---- Characters and items ---------------------------------------------------

void speakChar(uint8_t c) {
  waitForEngineSpeech();
  if ((c >= 1 && c <= 11) || (c >= 13 && c <= 31)) return;
  platform::logSpeech(platform::SpeechEvent::Char, std::string(1, static_cast<char>(c)));
  std::string path = existingFile(lettersPath("_" + std::to_string(c) + ".wav"));
  if (path.empty()) {
    platform::logSpeech(platform::SpeechEvent::Recording, "_unknown");
    path = lettersPath("_unknown.wav");
  }
  wavePlayFile(path);
}

void spellText(std::string_view text) {
  for (char ch : text) {
    if (keyPressed()) return;
    if (ch == '\t') playRecording("_FON9");
    else speakChar(static_cast<uint8_t>(ch));
  }
}

bool playRecording(std::string_view name) {
  waitForEngineSpeech();
  std::string path = existingFile(itemPath(name));
  if (path.empty()) return false;
  platform::logSpeech(platform::SpeechEvent::Recording, name);
  return wavePlayFile(path) == 0;
}

bool recordingExists(std::string_view name) { return !existingFile(itemPath(name)).empty(); }

void speakPending() {
  SpeechState& s = state();
  if (!s.queued.empty()) speakText({});
}

// ---- Beeps ---------------------------------------------------------------

void errorBeep() {
  waitForEngineSpeech();
  flushKeys();
  platform::logSpeech(platform::SpeechEvent::Beep);
  // 512 samples of an 8-sample triangle: 11025 / 8 = about 1378 Hz for
  // 512 / 11025 = about 46 ms, ending on the silence value.
  constexpr uint8_t kPattern[8] = {128, 112, 96, 80, 64, 80, 96, 112};
  constexpr size_t kSamples = 512;
  std::array<uint8_t, kHeaderSize + kSamples> image{};
  for (size_t i = 0; i < kSamples; ++i) image[kHeaderSize + i] = kPattern[i % 8];
  image[kHeaderSize + kSamples - 1] = 128;
  makeWaveHeader(image.data(), kSamples, kItemRate, 8, 1);
  wavePlayImage(image.data(), image.size());
  waitWhileSpeaking();
}

void clickSound() {
  SpeechState& s = state();
  waitForEngineSpeech();
  platform::logSpeech(platform::SpeechEvent::Click);
  // Shortening would cut the click's 64 noise samples to nothing.
  bool compress = waveCompressOn();
  waveCompressOn() = false;
  makeWaveHeader(s.click.data(), kClickSamples, kItemRate, 8, 1);
  wavePlayImage(s.click.data(), s.click.size());
  waitWhileSpeaking();
  waveCompressOn() = compress;
}

// ---- Console output that is also spoken -------------------------------------

void writeSpoken(std::string_view text) {
  writeText(text);
  speakText(text);
}

void writeLineSpoken(std::string_view text) {
  writeSpoken(text);
  writeLine();
  speakPending();
}

void writeNumberSpoken(long long n) { writeSpoken(std::to_string(n)); }

uint8_t readKeySpoken() {
  speakPending();
  uint8_t key = readKey();
  stopSpeech();
  speakChar(key);
  return key;
}

void flushKeys() {
  while (keyPressed()) readKey();
}

// ---- State access -----------------------------------------------------------

bool& echoTyped() { return state().echoTyped; }
bool clearOnFirstKey() { return state().clearOnFirstKey; }
int speechSpeed() { return state().level; }
const std::string& soundDirectory() { return state().soundDir; }
const std::string& lettersDirectory() { return state().lettersDir; }
bool speechServerActive() { return state().serverActive; }
int speechServerType() { return state().serverType; }
const LowVisionSettings& lowVisionSettings() { return state().lowVision; }
void setLowVisionHook(std::function<void(const LowVisionSettings&)> hook) {
  state().lowVisionHook = std::move(hook);
}

void resetSpeechForTests() {
  SpeechState& s = state();
  if (s.server) {
    s.server->cut();
    s.server->stop();
    s.server.reset();
  }
  diphoneEnd();
  auto click = s.click;
  auto hook = s.lowVisionHook;
  s = SpeechState();
  s.click = click;  // drawn once per run
  s.lowVisionHook = hook;
}

}  // namespace ondaria
