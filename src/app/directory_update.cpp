#include "app/directory_update.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <string_view>

#include "app/directory_client.h"
#include "app/directory_menu.h"
#include "app/station_list.h"
#include "app/station_update.h"
#include "console/core/console.h"
#include "console/core/messages.h"
#include "console/ui/option_menu.h"
#include "speech/say_message.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

// The longest address an entry reads back whole (the INI layer's read limit).
constexpr size_t kStoredAddressLength = 254;
constexpr size_t kCategoryNameLength = 40;
// Room for the answer to "Aperte enter...".
constexpr int kEnterBufferSize = 256;

struct GenreName {
  const char* tag;   // folded: lower case, no accents
  const char* name;  // cp1252
};

// Common tags of the directory and the category each stands for. Tags are
// looked up folded, so "Notícias", "noticias" and "NOTICIAS" are one.
constexpr GenreName kGenres[] = {
    {"news", "Not\xED" "cias"}, {"noticias", "Not\xED" "cias"}, {"noticia", "Not\xED" "cias"},
    {"jornalismo", "Not\xED" "cias"}, {"news talk", "Not\xED" "cias"}, {"news/talk", "Not\xED" "cias"},
    {"talk", "Debates"}, {"talk radio", "Debates"},
    {"sports", "Esportes"}, {"sport", "Esportes"}, {"esportes", "Esportes"},
    {"esporte", "Esportes"}, {"futebol", "Esportes"},
    {"mpb", "MPB"}, {"musica popular brasileira", "MPB"}, {"brazilian popular music", "MPB"},
    {"sertanejo", "Sertanejo"}, {"sertanejo universitario", "Sertanejo"},
    {"musica sertaneja", "Sertanejo"}, {"modao", "Sertanejo"},
    {"samba", "Samba e Pagode"}, {"pagode", "Samba e Pagode"},
    {"samba e pagode", "Samba e Pagode"},
    {"forro", "Forr\xF3"}, {"piseiro", "Forr\xF3"}, {"xote", "Forr\xF3"},
    {"axe", "Ax\xE9"}, {"funk", "Funk"}, {"funk carioca", "Funk"}, {"baile funk", "Funk"},
    {"gospel", "Gospel"}, {"christian", "Gospel"}, {"crista", "Gospel"},
    {"christian music", "Gospel"}, {"evangelica", "Gospel"}, {"evangelico", "Gospel"},
    {"catholic", "Cat\xF3licas"}, {"catolica", "Cat\xF3licas"}, {"catolico", "Cat\xF3licas"},
    {"religious", "Religiosas"}, {"religiosa", "Religiosas"}, {"religion", "Religiosas"},
    {"pop", "Pop"}, {"pop music", "Pop"},
    {"rock", "Rock"}, {"classic rock", "Rock"}, {"pop rock", "Rock"}, {"rock nacional", "Rock"},
    {"metal", "Metal"}, {"heavy metal", "Metal"},
    {"classical", "Cl\xE1ssica"}, {"classica", "Cl\xE1ssica"}, {"musica classica", "Cl\xE1ssica"},
    {"erudita", "Cl\xE1ssica"}, {"jazz", "Jazz"}, {"blues", "Blues"},
    {"bossa nova", "Bossa nova"}, {"instrumental", "Instrumental"},
    {"electronic", "Eletr\xF4nica"}, {"eletronica", "Eletr\xF4nica"}, {"dance", "Eletr\xF4nica"},
    {"edm", "Eletr\xF4nica"}, {"house", "Eletr\xF4nica"}, {"techno", "Eletr\xF4nica"},
    {"hits", "Sucessos"}, {"top 40", "Sucessos"}, {"top40", "Sucessos"}, {"charts", "Sucessos"},
    {"sucessos", "Sucessos"},
    {"oldies", "Flashback"}, {"flashback", "Flashback"}, {"classic hits", "Flashback"},
    {"80s", "Flashback"}, {"70s", "Flashback"}, {"90s", "Flashback"},
    {"community", "Comunit\xE1rias"}, {"community radio", "Comunit\xE1rias"},
    {"comunitaria", "Comunit\xE1rias"}, {"radio comunitaria", "Comunit\xE1rias"},
    {"education", "Educativas"}, {"educational", "Educativas"}, {"educativa", "Educativas"},
    {"educativas", "Educativas"}, {"university", "Educativas"}, {"universitaria", "Educativas"},
    {"college radio", "Educativas"}, {"public radio", "Educativas"}, {"publica", "Educativas"},
    {"variety", "Variedades"}, {"variedades", "Variedades"}, {"eclectic", "Variedades"},
    {"ecletica", "Variedades"}, {"music", "Variedades"}, {"musica", "Variedades"},
    {"adult contemporary", "Adulto contempor\xE2neo"},
    {"romantic", "Rom\xE2nticas"}, {"romantica", "Rom\xE2nticas"}, {"love songs", "Rom\xE2nticas"},
    {"easy listening", "Suaves"}, {"lounge", "Suaves"}, {"chillout", "Suaves"},
    {"kids", "Infantis"}, {"children", "Infantis"}, {"infantil", "Infantis"},
    {"brazilian music", "M\xFAsica brasileira"}, {"musica brasileira", "M\xFAsica brasileira"},
    {"hip hop", "Hip hop"}, {"hip-hop", "Hip hop"}, {"rap", "Hip hop"},
    {"reggae", "Reggae"}, {"country", "Country"}, {"latin", "Latina"}, {"latina", "Latina"},
    {"indie", "Alternativa"}, {"alternative", "Alternativa"}, {"alternativo", "Alternativa"},
};

// Tags that name no genre: the country, the language, the medium.
constexpr std::string_view kNotGenres[] = {
    "brazil", "brasil", "brazilian", "brasileira", "brasileiro", "portuguese", "portugues",
    "pt", "fm", "am", "radio", "radio fm", "radio am", "web radio", "webradio", "web", "online",
    "internet", "internet radio", "live", "ao vivo", "24h", "24 horas", "stereo", "estereo",
    "local", "regional", "radio station", "emissora", "rede",
};

// Folded form of a tag: lower case, accents removed (cp1252 in, ASCII out for
// the letters that matter).
std::string foldTag(const std::string& tag) {
  std::string folded = foldUpper(tag);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

bool holdsDigit(std::string_view text) {
  return text.find_first_of("0123456789") != std::string_view::npos;
}

// A tag usable as a category name of its own: brackets and "=" removed,
// ";" and blanks at its start dropped, the first letter upper case.
std::string tagAsCategory(const std::string& tag) {
  std::string out;
  for (char c : tag)
    if (c != '[' && c != ']' && c != '=') out.push_back(c);
  const size_t start = out.find_first_not_of("; ");
  if (start == std::string::npos) return {};
  out = out.substr(start, kCategoryNameLength);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (!out.empty()) out[0] = upperWithAccents(out.substr(0, 1))[0];
  return out;
}

// Entry names already used in one category, compared as the ear would:
// without case and accents.
class CategoryNames {
 public:
  // The name the station gets in this category, or empty when it cannot have
  // one (no storable name, or both its name and name + state are taken).
  std::string claim(const DirectoryStation& s) {
    const std::string name = storableDirectoryName(s.name);
    if (name.empty()) return {};
    if (used_.insert(foldUpper(name)).second) return name;
    if (s.state.empty()) return {};
    const std::string withState = storableDirectoryName(name + " (" + s.state + ")");
    if (!withState.empty() && used_.insert(foldUpper(withState)).second) return withState;
    return {};
  }

 private:
  std::set<std::string> used_;
};

}  // namespace

std::string genreCategory(const std::string& tag) {
  const std::string folded = foldTag(tag);
  if (folded.size() < 2) return {};
  for (std::string_view not_genre : kNotGenres)
    if (folded == not_genre) return {};
  for (const GenreName& g : kGenres)
    if (folded == g.tag) return g.name;
  // Frequencies, years and channel numbers are no genres; neither are states.
  if (holdsDigit(folded) || namesBrazilianState(tag)) return {};
  const std::string name = tagAsCategory(tag);
  if (name.empty() || foldTag(name) == foldTag(messageText("ODOUTRAS")) ||
      foldTag(name) == foldTag(std::string(kFavouritesSection)))
    return {};
  return name;
}

DirectoryList buildDirectoryList(const std::vector<DirectoryStation>& stations,
                                 const std::string& countryCode) {
  // The genres of every station, each once, and how many stations hold each.
  std::vector<std::vector<std::string>> genres(stations.size());
  std::map<std::string, size_t> holders;
  for (size_t i = 0; i < stations.size(); ++i) {
    const std::string ownState = foldTag(stations[i].state);
    for (const std::string& tag : stations[i].tags) {
      if (foldTag(tag) == ownState) continue;
      const std::string genre = genreCategory(tag);
      if (genre.empty() ||
          std::find(genres[i].begin(), genres[i].end(), genre) != genres[i].end())
        continue;
      genres[i].push_back(genre);
      ++holders[genre];
    }
  }
  std::vector<std::pair<std::string, size_t>> ranked(holders.begin(), holders.end());
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  if (ranked.size() > kDirectoryGenres) ranked.resize(kDirectoryGenres);
  std::vector<std::string> chosen;
  for (const auto& r : ranked) chosen.push_back(r.first);
  std::sort(chosen.begin(), chosen.end(),
            [](const std::string& a, const std::string& b) { return foldUpper(a) < foldUpper(b); });

  DirectoryList list;
  const std::string eol = "\r\n";
  list.text = "; ondaria.ini - lista de r\xE1" "dios do Ondaria, feita pelo diret\xF3rio de r\xE1" "dios" +
              eol + "; da internet (pa\xEDs " + countryCode + "), as mais votadas primeiro." + eol +
              "; Cada se\xE7\xE3o \xE9 uma categoria; cada linha \"nome=endere\xE7o\" \xE9 uma r\xE1" "dio." +
              eol;
  auto writeCategory = [&](const std::string& category, size_t limit, auto&& belongs) {
    CategoryNames names;
    std::string entries;
    size_t count = 0;
    for (size_t i = 0; i < stations.size() && count < limit; ++i) {
      if (!belongs(i) || stations[i].address.size() > kStoredAddressLength) continue;
      const std::string name = names.claim(stations[i]);
      if (name.empty()) continue;
      entries += name + "=" + stations[i].address + eol;
      ++count;
    }
    if (count == 0) return;
    list.text += eol + "[" + category + "]" + eol + entries;
    list.stations += count;
    ++list.categories;
  };
  for (const std::string& genre : chosen) {
    writeCategory(genre, kDirectoryStationsPerGenre, [&](size_t i) {
      return std::find(genres[i].begin(), genres[i].end(), genre) != genres[i].end();
    });
  }
  writeCategory(messageText("ODOUTRAS"), kDirectoryOtherStations, [&](size_t i) {
    for (const std::string& genre : genres[i])
      if (std::find(chosen.begin(), chosen.end(), genre) != chosen.end()) return false;
    return true;
  });
  return list;
}

bool updateFromDirectory() {
  const std::string country = directoryCountry();
  sayMessage("ODDIRTRO", 0);
  writeSpoken(country);
  writeText("? ");
  const uint8_t answer = chooseLetter("SN");
  writeLine();
  if (answer != 'S') {
    sayMessage("ODDESIST", 1);
    return false;
  }
  DirectorySearch all;
  all.countryCode = country;
  all.limit = kDirectoryUpdateLimit;
  const DirectoryQuery query =
      queryDirectory(directorySearchTarget(all), [] { sayMessage("ODUMOMEN", 1); });
  if (query.outcome == DirectoryOutcome::givenUp) {
    sayMessage("ODDESIST", 2);
    return false;
  }
  const DirectoryList list = query.outcome == DirectoryOutcome::ok
                                 ? buildDirectoryList(query.answer.stations, country)
                                 : DirectoryList{};
  const bool replaced = list.stations > 0 && replaceStationList([&](const std::string& temporary) {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << list.text;
    out.close();
    return static_cast<bool>(out);
  });
  if (!replaced) {
    // Nothing came, nothing usable came, or the new list could not be written:
    // the old list stays as it was.
    sayMessage(query.outcome != DirectoryOutcome::ok ? "ODERRSRV"
               : list.stations == 0                 ? "ODNADAPA"
                                                    : "ODERRWAR",
               2);
    sayMessage("ODAPTENT", 1);
    char buffer[kEnterBufferSize];
    readRawLine(buffer, kEnterBufferSize);
    return false;
  }
  sayMessage("ODATUDIR", 0);
  writeNumberSpoken(static_cast<long long>(list.stations));
  writeLine();
  sayMessage("ODATUCAT", 0);
  writeNumberSpoken(static_cast<long long>(list.categories));
  writeLine();
  sayMessage("ODOK", 2);
  return true;
}

}  // namespace ondaria
