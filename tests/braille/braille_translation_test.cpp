#include "braille/braille_translation.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "platform/codepage.h"

namespace ondaria {
namespace {

std::string cp(const std::string& utf8) { return platform::utf8ToCp1252(utf8); }

// Dot numbers of a pattern ("125"), for readable failures.
std::string dotNumbers(uint8_t bits) {
  std::string out;
  for (int dot = 1; dot <= 8; ++dot)
    if (bits & (1u << (dot - 1))) out += static_cast<char>('0' + dot);
  return out.empty() ? "blank" : out;
}

uint8_t bitsOf(const std::string& numbers) {
  uint8_t bits = 0;
  for (char c : numbers) bits = static_cast<uint8_t>(bits | (1u << (c - '1')));
  return bits;
}

struct Translation {
  const char* text;     // UTF-8
  const char* braille;  // UTF-8
};

// Each row on a fresh translator; the rows of the reference first.
const Translation kTranslations[] = {
    {"Rádio 2", "{rádio #b"},
    {"1º", "#,o"},
    {"2as.", "#;as"},
    {"12.345", "#ab.cde"},
    {"3.5", "#c.#e"},
    {"(12)", "ê#abã"},
    {"(ver 2", "(.ver #b"},
    {"BRASIL e", "{{brasil e"},
    {"BRASILeiro", "{{brasil~eiro"},
    {"`3/4", "#:4"},
    {"`x", "×"},
    // Ordinals of every form, and the digits lowered.
    {"3ª", "#:a"},
    {"10o. lugar", "#,}o lugar"},
    {"21os.", "#;,os"},
    {"5a", "#e~a"},
    // Numbers: money, decimals, a letter a-j after the digits.
    {"R$ 1,50", "{r$ #a,ej"},
    {"12.5", "#ab.#e"},
    {"123.45", "#abc.de"},
    {"2b", "#b~b"},
    {"2k", "#bk"},
    {"7 dias", "#g dias"},
    // Brackets of numbers and of text.
    {"[3]", "á#cú"},
    {"(3 e 4)", "ê#c e #dã"},
    {"(3 e x)", "(.#c e x\\)"},
    {"(a)", "(.a\\)"},
    {"x)", "x\\)"},
    // Math signs after a grave accent; two grave accents write nothing.
    {"`+`=`(", "+=ê"},
    {"``", ""},
    {"`", "`"},
    {"`%", "_}}"},
    {"`e", "€e"},
    // Substitutions in running text.
    {"50%", "#ej_}"},
    {"a/b", "a\\,b"},
    {"€", "€e"},
    {"…", "..."},
    {"–—", "----"},
    {"§", "ss"},
    {"«x»", "\\\"x\\\""},
    {"“sim”", "\"sim\""},
    {"½", "#,b"},
    {"ß", "¬b"},
    {"x²", "xå#b"},
    {"ÁGUA", "{{água"},
    {"Ónibus", "{ónibus"},
    {"", ""},
};

TEST(BrailleTranslation, RowsAsInPortugueseBraille) {
  for (const Translation& t : kTranslations) {
    BrailleTranslator translator;
    EXPECT_EQ(translator.translate(cp(t.text)), cp(t.braille)) << t.text;
  }
}

TEST(BrailleTranslation, TextBracketCarriesOverToTheNextRow) {
  BrailleTranslator translator;
  EXPECT_EQ(translator.translate("(ver"), "(.ver");
  EXPECT_TRUE(translator.textBracketOpen());
  // Still open: a ")" after a digit closes the text bracket, not a number.
  EXPECT_EQ(translator.translate("2)"), "#b\\)");
  EXPECT_FALSE(translator.textBracketOpen());
  EXPECT_EQ(translator.translate("2)"), cp("#bã"));
  // A number bracket closes an open text bracket.
  translator.translate("(a");
  EXPECT_EQ(translator.translate("(1)"), cp("ê#aã"));
  EXPECT_FALSE(translator.textBracketOpen());
}

TEST(BrailleTranslation, EveryByteTranslatesWithoutFailing) {
  BrailleTranslator translator;
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  for (int shift = 0; shift < 256; shift += 37) {
    const std::string row = all.substr(shift) + all.substr(0, shift);
    const std::string braille = translator.translate(row);
    EXPECT_FALSE(braille.empty());
    EXPECT_EQ(brailleTextToDots(braille).size(), braille.size());
  }
}

// The cell table as a list: dots, then the characters that show them.
const char* const kCells[] = {
    "1 1Aaª¹",       "2 ,",         "3 '.•Í",          "4 ^€",         "5 ~",
    "6 \\`ý",        "12 2Bb²",     "13 Kk",           "23 ;",         "14 3Cc³",
    "24 9Ii",        "34 Ììí",      "15 5Ee",          "25 :Ã",        "35 *´",
    "45 ¬",          "16 ƒÂÅâå",    "26 ?¿",           "36 -",         "46 {",
    "56 $",          "123 Ll",      "124 6Ff",         "134 Mm",       "234 Ss",
    "125 8Hh",       "135 >Ooº",    "235 !+¡",         "145 4Dd",      "245 0Jj",
    "345 )„ÄÆãäæ",   "126 (ˆÊê",    "136 Uu",          "236 \"‘’«»×",  "146 %Îî",
    "246 <”ÔÕõö",    "346 ¢Òòó",    "156 @—Ûû",        "256 /÷ÿ",      "356 }°",
    "456 _|¦",       "1234 Pp",     "1235 Rr",         "1245 7Gg",     "1345 Nn",
    "2345 Tt",       "1236 Vv",     "1246 …ÀËàë",      "1346 Xx",      "2346 ŠÈè",
    "1256 Üü",       "1356 Zz",     "2356 =",          "1456 “Óô",     "2456 Ww",
    "3456 #",        "12345 Qq",    "12346 &‡Çç",      "12356 [Áá",   "12456 ‹ÏÑïñ",
    "13456 Yy",      "23456 ]£ÙÚùú", "123456 ‚Éé",
};

TEST(BrailleCells, EveryCharacterOfTheTableHasItsPattern) {
  std::set<uint8_t> listed;
  for (const char* row : kCells) {
    std::istringstream in(row);
    std::string dots, characters;
    in >> dots;
    std::getline(in, characters);
    characters = cp(characters.substr(1));
    for (char c : characters) {
      const uint8_t byte = static_cast<uint8_t>(c);
      EXPECT_EQ(dotNumbers(brailleCellDots(byte)), dotNumbers(bitsOf(dots))) << "character " << int(byte);
      listed.insert(byte);
    }
  }
  // By code: the two undefined codes with patterns, no-break space, code 127.
  const std::pair<int, const char*> byCode[] = {{15, "46"}, {129, "1256"}, {141, "146"},
                                                {160, "12356"}, {127, "123456"}};
  for (const auto& [code, dots] : byCode)
    EXPECT_EQ(dotNumbers(brailleCellDots(static_cast<uint8_t>(code))), dotNumbers(bitsOf(dots))) << code;
  // Blank cells: the blank, the diaeresis, backspace and the other controls.
  for (int c : {32, 0xA8, 8, 0, 9, 13, 27, 31}) EXPECT_EQ(brailleCellDots(static_cast<uint8_t>(c)), 0) << c;
}

TEST(BrailleCells, CharactersWithoutPatternShowTheFullCell) {
  const std::string noPattern = cp("†‰ŒŽ–˜™š›œžŸ¤¥§©®¯±µ¶·¸¼½¾ÐÖØÝÞßðøþ");
  for (char c : noPattern) EXPECT_EQ(brailleCellDots(static_cast<uint8_t>(c)), kUnknownCellDots) << int(uint8_t(c));
  for (int code : {143, 144, 157, 173}) EXPECT_EQ(brailleCellDots(static_cast<uint8_t>(code)), kUnknownCellDots);
  // Nothing else is unknown: every other printable character has a pattern
  // of dots 1 to 6.
  int known = 0;
  for (int c = 32; c < 256; ++c) {
    const uint8_t dots = brailleCellDots(static_cast<uint8_t>(c));
    if (dots == kUnknownCellDots) continue;
    EXPECT_EQ(dots & 0xC0, 0) << c;
    ++known;
  }
  EXPECT_EQ(known, 224 - static_cast<int>(noPattern.size()) - 4);
}

// The display keys' chord table as the reference lists it: dots, character.
const char* const kDisplayChords =
    "1 a|2 ,|12 b|3 .|13 k|23 ;|123 l|4 ^|14 c|24 i|124 f|34 í|134 m|234 s|1234 p|5 ~|15 e|25 :|"
    "125 h|35 *|135 o|235 !|1235 r|45 ¬|145 d|245 j|1245 g|345 ã|1345 n|2345 t|12345 q|6 ý|16 â|"
    "26 ?|126 ê|36 -|136 u|236 \"|1236 v|46 {|146 î|246 õ|1246 à|346 ó|1346 x|2346 è|12346 ç|"
    "56 $|156 @|256 ÿ|1256 ü|356 }|1356 z|2356 =|12356 á|456 _|1456 ô|2456 w|12456 ï|3456 #|"
    "13456 y|23456 ú|123456 é";

TEST(BrailleChords, DisplayTableAndKeyboardTableDifferInTwoEntries) {
  std::istringstream in(cp(kDisplayChords));
  std::string entry;
  int entries = 0;
  while (std::getline(in, entry, '|')) {
    const size_t blank = entry.find(' ');
    const uint8_t dots = bitsOf(entry.substr(0, blank));
    const uint8_t c = static_cast<uint8_t>(entry[blank + 1]);
    EXPECT_EQ(displayChordCharacter(dots), c) << entry;
    const uint8_t keyboard = dots == bitsOf("3") ? '\'' : dots == bitsOf("156") ? 0xFB : c;
    EXPECT_EQ(keyboardChordCharacter(dots), keyboard) << entry;
    ++entries;
  }
  EXPECT_EQ(entries, 63);
  EXPECT_EQ(keyboardChordCharacter(0), ' ');
  // Only six dots count.
  EXPECT_EQ(displayChordCharacter(bitsOf("1257")), 'h');
}

}  // namespace
}  // namespace ondaria
