#include "braille/braille_translation.h"

#include <gtest/gtest.h>

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

TEST(BrailleCells, PortugueseLettersCapitalsDigitsAndControls) {
  // Capitals share the letter's pattern, digits those of a to j; accented
  // letters have the Portuguese patterns.
  const std::pair<const char*, const char*> cells[] = {
      {"aA1", "1"},   {"jJ0", "245"}, {"zZ", "1356"},  {"áÁ[", "12356"}, {"çÇ&", "12346"},
      {"ã)", "345"},  {":Ã", "25"}, {"éÉ", "123456"}, {"êÊ(", "126"}, {"õÕ", "246"},    {"úÚ]", "23456"},
      {"{", "46"},    {"#", "3456"},  {"×\"", "236"},  {"€^", "4"},       {" ¨", ""},
  };
  for (const auto& [characters, dots] : cells)
    for (char c : cp(characters))
      EXPECT_EQ(dotNumbers(brailleCellDots(static_cast<uint8_t>(c))), dotNumbers(bitsOf(dots))) << characters;
  // By code: the two undefined codes with patterns, no-break space, code 127,
  // code 15; every other control character is a blank cell.
  const std::pair<int, const char*> byCode[] = {{15, "46"}, {129, "1256"}, {141, "146"},
                                                {160, "12356"}, {127, "123456"}};
  for (const auto& [code, dots] : byCode)
    EXPECT_EQ(dotNumbers(brailleCellDots(static_cast<uint8_t>(code))), dotNumbers(bitsOf(dots))) << code;
  for (int c : {0, 8, 9, 13, 27, 31}) EXPECT_EQ(brailleCellDots(static_cast<uint8_t>(c)), 0) << c;
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

TEST(BrailleChords, DisplayTableAndKeyboardTableDifferInTwoEntries) {
  for (int dots = 0; dots < 64; ++dots) {
    const uint8_t keyboard = keyboardChordCharacter(static_cast<uint8_t>(dots));
    const uint8_t display = displayChordCharacter(static_cast<uint8_t>(dots));
    if (dots == bitsOf("3")) {
      EXPECT_EQ(keyboard, '\'');
      EXPECT_EQ(display, '.');
    } else if (dots == bitsOf("156")) {
      EXPECT_EQ(keyboard, 0xFB);  // û
      EXPECT_EQ(display, '@');
    } else {
      EXPECT_EQ(keyboard, display) << dots;
    }
  }
  EXPECT_EQ(keyboardChordCharacter(0), ' ');
  EXPECT_EQ(displayChordCharacter(bitsOf("125")), 'h');
  EXPECT_EQ(displayChordCharacter(bitsOf("1257")), 'h');  // only six dots count
  EXPECT_EQ(displayChordCharacter(bitsOf("12346")), 0xE7);  // ç
  EXPECT_EQ(displayChordCharacter(bitsOf("3456")), '#');
}

}  // namespace
}  // namespace ondaria
