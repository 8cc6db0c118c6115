// Diphone speech over the database files: start and end, and speaking a
// phonetic text through the joining core.
#include "speech/diphone_speech.h"

#include <sys/stat.h>

#include <memory>

#include "console/core/settings.h"
#include "speech/diphone_database.h"
#include "speech/diphone_rules.h"
#include "speech/speech_internal.h"

namespace ondaria {

using namespace speech_detail;

namespace {

// The open database seen as the joiner's sound source; recorded items come
// from the letters directory that diphone speech was started with.
class DatabaseSource : public DiphoneSource {
 public:
  DiphoneDatabase database;
  std::string lettersDir;

  std::optional<DiphoneUnit> findUnit(std::string_view name) override {
    return database.findUnit(name);
  }
  size_t readSamples(uint32_t offset, size_t count, uint8_t* out) override {
    return database.readSamples(offset, count, out);
  }
  bool readItem(std::string_view name, size_t limit, std::vector<uint8_t>& samples) override {
    std::string path = existingFile(lettersDir + std::string(name) + ".wav");
    return !path.empty() && readWaveSamples(path, limit, samples);
  }
};

struct DiphoneState {
  std::string name = "DIFONES2";
  DiphoneParameters parameters;
  std::unique_ptr<DatabaseSource> source;
  std::unique_ptr<DiphoneJoiner> joiner;  // holds the join buffer
};

DiphoneState& diphone() {
  static DiphoneState s;
  return s;
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A directory setting, or the installation's own directory when it is missing.
// The setting is read with the same directory shorthands as every other, so
// that the front-end and diphone speech always name the same directory.
std::string directorySetting(const char* key, const char* installed) {
  std::string value = readSetting("TRADUTOR", key);
  std::string dir = value.empty() ? programDirectory() + "/" + installed : nativePath(value);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

int diphoneStart() {
  DiphoneState& s = diphone();
  diphoneEnd();
  s.name = "DIFONES2";
  auto source = std::make_unique<DatabaseSource>();
  source->lettersDir = directorySetting("DIRLETRAS", "voz/letras");
  std::string dir = directorySetting("DIRDIFONES", "voz/difones");
  if (!isDirectory(source->lettersDir) || !isDirectory(dir)) return 1;
  if (!source->database.open(dir, s.name)) return 1;
  if (!loadDiphoneRules(dir + "regras.rgr") || !loadDiphoneExceptions(dir + "portug.exc")) {
    freeDiphoneRules();
    return 2;
  }
  s.source = std::move(source);
  s.joiner = std::make_unique<DiphoneJoiner>(*s.source, [](uint8_t* image, size_t size) {
    playImageAndWait(image, size);
  });
  s.joiner->setParameters(s.parameters);
  return 0;
}

void diphoneEnd() {
  DiphoneState& s = diphone();
  if (!s.source) return;
  s.joiner.reset();
  freeDiphoneRules();
  s.source.reset();  // closes the sample file
}

bool diphoneStarted() { return diphone().joiner != nullptr; }

void diphoneSpeak(std::string_view phonetic, bool speakMarks) {
  DiphoneState& s = diphone();
  if (s.joiner) s.joiner->speak(phonetic, speakMarks);
}

void setDiphoneParameters(int shortening, int leastLength, int wordGap) {
  DiphoneState& s = diphone();
  s.parameters = {shortening, leastLength, wordGap};
  if (s.joiner) s.joiner->setParameters(s.parameters);
}

const std::string& diphoneDatabaseName() { return diphone().name; }

}  // namespace ondaria
