// The diphone database reader, and the voice data the build generates into
// <build>/voz: the index as the halving search needs it, a unit for every
// phone pair the rules can write, and the recorded items as WAV files.
#include "speech/diphone_database.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "speech/diphone_rules.h"
#include "speech/diphone_speech.h"

namespace ondaria {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// ---- Reader ---------------------------------------------------------------------

TEST(DiphoneIndex, EncodeParseRoundTripAndDamagedBytes) {
  std::vector<DiphoneIndexRecord> records = {{"$A", 10, 0}, {"$A#", 20, 10}, {"$AB", 300, 30},
                                             {"$LONGNAME", 5, 330}};
  std::string bytes = encodeDiphoneIndex(records);
  ASSERT_EQ(bytes.size(), 4 * kDiphoneRecordSize);
  auto back = parseDiphoneIndex(bytes);
  ASSERT_EQ(back.size(), 4u);
  EXPECT_EQ(back[2].name, "$AB");
  EXPECT_EQ(back[2].length, 300);
  EXPECT_EQ(back[2].offset, 30);
  EXPECT_EQ(back[3].name, "$LONGNAM");  // names hold 8 characters

  // A partial record at the end is ignored; a name length above 8 reads 8 bytes.
  std::string damaged = bytes + "xyz";
  damaged[0] = static_cast<char>(200);
  auto parsed = parseDiphoneIndex(damaged);
  ASSERT_EQ(parsed.size(), 4u);
  EXPECT_EQ(parsed[0].name.size(), kDiphoneNameMax);

  std::string many;
  for (size_t i = 0; i < kDiphoneRecordMax + 10; ++i) many += bytes.substr(0, kDiphoneRecordSize);
  EXPECT_EQ(parseDiphoneIndex(many).size(), kDiphoneRecordMax);
  EXPECT_TRUE(parseDiphoneIndex("short").empty());
}

TEST(DiphoneIndex, HalvingSearchInByteOrder) {
  std::vector<DiphoneIndexRecord> records;
  for (const char* n : {"$1", "$A", "$A#", "$AB", "$B", "$ZZ", "$Z\x80"}) records.push_back({n, 1, 0});
  for (size_t i = 0; i + 1 < records.size(); ++i)
    EXPECT_TRUE(diphoneNameLess(records[i].name, records[i + 1].name)) << records[i].name;
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(findDiphoneRecord(records, records[i].name), int(i));
  for (const char* absent : {"", "$", "$0", "$AA", "$A##", "$ZZZ", "\xFF"}) EXPECT_EQ(findDiphoneRecord(records, absent), -1);
  EXPECT_EQ(findDiphoneRecord({}, "$A"), -1);
}

TEST(DiphoneDatabaseFiles, OpenFindAndReadByOffset) {
  fs::path dir = fs::temp_directory_path() / "ondaria_diphone_db_test";
  fs::create_directories(dir);
  std::vector<DiphoneIndexRecord> records = {{"$A", 3, 0}, {"$B", 4, 3}, {"$BAD", 2, -5}};
  std::ofstream(dir / "T.IND", std::ios::binary) << encodeDiphoneIndex(records);
  std::ofstream(dir / "T.DIF", std::ios::binary) << "abcdefg";
  DiphoneDatabase db;
  EXPECT_FALSE(db.open(dir.string() + "/", "MISSING"));
  EXPECT_FALSE(db.isOpen());
  ASSERT_TRUE(db.open(dir.string() + "/", "T"));
  EXPECT_EQ(db.sampleFileSize(), 7u);
  auto b = db.findUnit("$B");
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->offset, 3u);
  EXPECT_EQ(b->length, 4);
  EXPECT_FALSE(db.findUnit("$BAD").has_value());  // negative offset: no samples
  EXPECT_FALSE(db.findUnit("$C").has_value());
  uint8_t out[16] = {};
  EXPECT_EQ(db.readSamples(b->offset, b->length, out), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "defg");
  EXPECT_EQ(db.readSamples(5, 10, out), 2u);  // cut at the end of the file
  EXPECT_EQ(db.readSamples(7, 1, out), 0u);
  EXPECT_EQ(db.readSamples(1u << 31, 1, out), 0u);
  db.close();
  EXPECT_EQ(db.readSamples(0, 1, out), 0u);
}

// ---- Generated voice data -----------------------------------------------------------

class VoiceData : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("ONDARIA_BUILD_DIR");
    voz_ = fs::path(build != nullptr ? build : ".") / "voz";
    if (!fs::exists(voz_ / "voicegen.stamp")) GTEST_SKIP() << "no voice data generated (ONDARIA_VOICE_DATA off)";
    ASSERT_TRUE(db_.open((voz_ / "difones").string() + "/", "DIFONES2"));
  }
  void TearDown() override { freeDiphoneRules(); }
  fs::path voz_;
  DiphoneDatabase db_;
};

TEST_F(VoiceData, IndexIsSortedAndInsideTheSampleFile) {
  const auto& r = db_.records();
  ASSERT_GT(r.size(), 100u);
  EXPECT_LE(r.size(), kDiphoneRecordMax);
  EXPECT_EQ(readFile(voz_ / "difones" / "DIFONES2.IND").size(), r.size() * kDiphoneRecordSize);
  for (size_t i = 0; i < r.size(); ++i) {
    EXPECT_LE(r[i].name.size(), kDiphoneNameMax);
    EXPECT_EQ(r[i].name.front(), '$');
    EXPECT_GT(r[i].length, 0) << r[i].name;
    EXPECT_GE(r[i].offset, 0);
    EXPECT_LE(uint64_t(r[i].offset) + r[i].length, db_.sampleFileSize()) << r[i].name;
    if (i > 0) {
      EXPECT_TRUE(diphoneNameLess(r[i - 1].name, r[i].name)) << r[i - 1].name << " / " << r[i].name;
    }
    EXPECT_EQ(findDiphoneRecord(r, r[i].name), int(i));
  }
}

TEST_F(VoiceData, EveryUnitTheRulesCanWriteIsInTheIndex) {
  // The rules shipped beside the database are the ones in the source tree.
  EXPECT_EQ(readFile(voz_ / "difones" / "regras.rgr"), readFile(fs::path(std::getenv("ONDARIA_SOURCE_DIR")) / "data" / "regras.rgr"));
  ASSERT_TRUE(loadDiphoneRules((voz_ / "difones" / "regras.rgr").string()));
  std::set<char> phones;
  for (int b = 32; b <= 95; ++b)
    for (const DiphoneRule& rule : diphoneRulesFor(static_cast<unsigned char>(b)))
      for (size_t i = 0; i < rule.output.size(); ++i) {
        char c = rule.output[i];
        if (c == '_') ++i;  // a recorded item
        else if (c != ' ' && c != '#' && c != '/') phones.insert(static_cast<char>(std::toupper(c)));
      }
  ASSERT_GT(phones.size(), 20u);
  for (char x : phones) {
    EXPECT_TRUE(db_.findUnit(std::string("$") + x)) << "$" << x;
    EXPECT_TRUE(db_.findUnit(std::string("$") + x + "#")) << "$" << x << "#";
    for (char y : phones) EXPECT_TRUE(db_.findUnit(std::string("$") + x + y)) << "$" << x << y;
  }
}

// Joins real Portuguese through the player's joiner and records every look-up:
// each unit must be found at once (no fall-back to shorter names or noise) and
// each recorded item must exist.
class TracingSource : public DiphoneSource {
 public:
  TracingSource(DiphoneDatabase& db, fs::path letters) : db_(db), letters_(std::move(letters)) {}
  std::optional<DiphoneUnit> findUnit(std::string_view name) override {
    auto u = db_.findUnit(name);
    if (!u) missing.insert(std::string(name));
    return u;
  }
  size_t readSamples(uint32_t offset, size_t count, uint8_t* out) override { return db_.readSamples(offset, count, out); }
  bool readItem(std::string_view name, size_t, std::vector<uint8_t>&) override {
    bool ok = fs::exists(letters_ / (std::string(name) + ".wav"));
    if (!ok) missing.insert(std::string(name));
    return ok;
  }
  std::set<std::string> missing;

 private:
  DiphoneDatabase& db_;
  fs::path letters_;
};

TEST_F(VoiceData, PortugueseTextFindsEveryUnit) {
  ASSERT_TRUE(loadDiphoneRules((voz_ / "difones" / "regras.rgr").string()));
  ASSERT_TRUE(loadDiphoneExceptions((voz_ / "difones" / "portug.exc").string()));
  TracingSource source(db_, voz_ / "letras");
  size_t played = 0;
  DiphoneJoiner joiner(source, [&played](uint8_t*, size_t size) { played += size - DiphoneJoiner::kHeaderSize; });
  const char* texts[] = {
      "casa papel tatu aqui ave bom voc\xEA S\xE3o pqr Wagner",
      "Ondaria, vers\xE3o tr\xEAs. Que deseja? Tentando conex\xE3o; fim do Ondaria.",
      "vida dedo sete p\xE9 p\xF3 av\xF4 av\xF3 urubu ovo famoso janela estrela menino sapato p\xE9rola "
      "n\xFAmero leite cidade teatro voar pessoa de campo canto pente fim um irm\xE3 p\xE3o m\xE3"
      "e p\xF5" "e li\xE7\xF5" "es bem tamb\xE9m homem jovens falam falar\xE3o muito cama banho sonho "
      "\xF3rg\xE3o b\xEAn\xE7\xE3o t\xEAm h\xED" "fen ainda ruim cinco l\xE2mpada pai mau lei pap\xE9is meu "
      "c\xE9u viu boi her\xF3i azuis pouco primeiro ideia cheia dia tarde parte filho vinho chave jogo "
      "gente guerra guitarra \xE1gua lingui\xE7" "a aguentar sangue queijo quero quatro frequente ca\xE7"
      "a hora hoje Brasil alto f\xE1" "cil azul advogado ritmo pneu rato carro caro prato porta mar "
      "honra Israel melhor flor rasgar osso mesmo desde festa nascer piscina escola tr\xE2nsito "
      "presente tr\xEAs luz cres\xE7" "a x\xED" "cara caixa enxada lixo t\xE1xi fixo exame pr\xF3ximo texto "
      "exceto t\xF3rax caf\xE9 saiu m\xE9" "dico l\xE1pis pa\xEDs sa\xED" "da juiz rainha \xFAtil "
      "\xE1lbum hist\xF3ria Maria gratuito cafezinho rapidamente",
      "tchau show pharm\xE1" "cia Thiago uai bah clube robot k w y \xAA \xBA \xA7 1 # \x01 \xFF",
  };
  for (const char* t : texts) joiner.speak(translateToPhonetic(t), false);
  EXPECT_TRUE(source.missing.empty()) << "missing: " << *source.missing.begin() << " and "
                                      << source.missing.size() - 1 << " more";
  EXPECT_GT(played, 11025u * 10);  // well over ten seconds of speech
}

struct WaveInfo {
  bool ok = false;
  std::string why;
  std::string samples;
};

uint32_t le32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}
uint16_t le16(const std::string& s, size_t at) { return uint16_t(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8); }

WaveInfo readWave(const fs::path& p) {
  WaveInfo w;
  std::string f = readFile(p);
  if (f.size() <= 44) return {false, "too short", {}};
  if (f.compare(0, 4, "RIFF") || le32(f, 4) != f.size() - 8 || f.compare(8, 8, "WAVEfmt ")) return {false, "RIFF", {}};
  if (le32(f, 16) != 16 || le16(f, 20) != 1 || le16(f, 22) != 1) return {false, "not PCM mono", {}};
  if (le32(f, 24) != 11025 || le32(f, 28) != 11025 || le16(f, 32) != 1 || le16(f, 34) != 8) return {false, "format", {}};
  if (f.compare(36, 4, "data") || le32(f, 40) != f.size() - 44) return {false, "data chunk", {}};
  return {true, "", f.substr(44)};
}

TEST_F(VoiceData, RecordedItemsAreTrimmedEightBitWaves) {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(voz_ / "letras")) {
    ++count;
    WaveInfo w = readWave(entry.path());
    ASSERT_TRUE(w.ok) << entry.path() << ": " << w.why;
    if (entry.path().filename().string().rfind("dtmf_", 0) == 0) continue;
    // Trimmed: sound begins and ends within the 10 ms margin kept around it.
    auto loud = [](char c) { return std::abs(int(uint8_t(c)) - 128) >= 4; };
    size_t first = 0, last = w.samples.size() - 1;
    while (first < w.samples.size() && !loud(w.samples[first])) ++first;
    while (last > 0 && !loud(w.samples[last])) --last;
    EXPECT_LE(first, 110u) << entry.path();
    EXPECT_LE(w.samples.size() - 1 - last, 110u) << entry.path();
  }
  EXPECT_GT(count, 300u);
}

TEST_F(VoiceData, EveryItemTheProgramNamesExists) {
  std::vector<std::string> names = {"_unknown", "_DEL", "_FON9", "_FON65", "_FON122", "_zero", "_MENOS",
                                    "_SEMBAT", "_SEMENER", "_APFCPO", "_APICPO", "_CPOAPA", "_FALACI",
                                    "_FALDLG", "_VELOC", "_TRACO", "_uma", "_duas", "_e", "_de", "_primeir",
                                    "_hora", "_horas", "_minuto", "_minutos", "_um", "_tres", "_quatorz",
                                    "_dezesse", "_dezeset", "_dezenov", "_cem", "_cento", "_quatroc", "_quinhen",
                                    "_mil", "_milhao", "_milhoes", "_bilhao", "_bilhoes", "_trilhao", "_trilhoe",
                                    "_Domingo", "_Segunda", "_Terca", "_Quarta", "_Quinta", "_Sexta", "_Sabado",
                                    "_Janeiro", "_Feverei", "_Marco", "_Abril", "_Maio", "_Junho", "_Julho",
                                    "_Agosto", "_Setembr", "_Outubro", "_Novembr", "_Dezembr", "dtmf_X", "dtmf_#"};
  for (int c = 32; c <= 126; ++c) names.push_back("_" + std::to_string(c));
  for (int c = 192; c <= 255; ++c) names.push_back("_" + std::to_string(c));
  for (int d = 0; d <= 9; ++d) names.push_back("dtmf_" + std::to_string(d));
  for (const std::string& n : names) EXPECT_TRUE(fs::exists(voz_ / "letras" / (n + ".wav"))) << n;
}

}  // namespace
}  // namespace ondaria
