// The gender of the nouns that numbers count.
//
// A cardinal agrees with the noun after it: "uma hora", "duas pessoas",
// "duzentas casas", "mil e duzentas pessoas", but "dois dias", "duzentos
// programas". The table comes from the section [GÊNERO] of the abbreviation
// file, whose lines are
//
//     NOUN=f        a feminine noun of an ending that is not (vez, mulher)
//     NOUN=m        a masculine noun of a feminine ending (dia, mapa)
//     -ENDING=f     nouns that end so are feminine (-ADE: cidade)
//     -ENDING=m     ... or masculine (-EMA: problema, sistema)
//     WORD NEXT=f   two words read together (DA TARDE: "duas da tarde")
//
// A noun listed by itself wins over every ending; otherwise the longest
// ending that fits decides; a noun of no listed ending is masculine. A plural
// is looked up by its singular (casas, edições, mulheres, mensagens).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ondaria::koral {

class NounGenders {
 public:
  static constexpr size_t kMaxEntries = 5000;
  static constexpr size_t kMaxEnding = 8;

  void clear();
  // Reads one line of the section ("KEY=f" or "KEY=m", case and blanks
  // around the parts ignored). False for a line that says neither, or when
  // the table is full: the line is then left out.
  bool addLine(std::string_view line);
  size_t size() const { return words_.size() + endings_.size(); }

  // Whether an upper-cased word (or two words joined by one blank) is a
  // feminine noun.
  bool feminine(std::string_view upperWord) const;
  // Whether the pair is listed by itself (not through an ending).
  bool listed(std::string_view upperWords) const { return words_.count(std::string(upperWords)) != 0; }

 private:
  std::unordered_map<std::string, bool> words_;    // word -> feminine
  std::unordered_map<std::string, bool> endings_;  // ending -> feminine
  size_t longestEnding_ = 0;
};

}  // namespace ondaria::koral
