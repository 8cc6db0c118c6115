// Whole-program runs of the main menu: what the user sees and hears from the
// greeting to "Fim do Ondaria.".
#include <gtest/gtest.h>

#include "support/program_run.h"

namespace ondaria::test {
namespace {

int countContaining(const ProgramResult& r, const std::string& kind, const std::string& text) {
  int n = 0;
  for (const SpeechLine& l : r.speech)
    if (l.kind == kind && l.text.find(text) != std::string::npos) ++n;
  return n;
}

// Index of the first event at or after `from` whose text contains `text`; -1 if none.
int findFrom(const ProgramResult& r, size_t from, const std::string& text) {
  for (size_t i = from; i < r.speech.size(); ++i)
    if (r.speech[i].text.find(text) != std::string::npos) return static_cast<int>(i);
  return -1;
}

TEST(MainMenu, GreetingInvalidOptionsHelpAndGoodbye) {
  ProgramRun program;
  const ProgramResult r = program.run("text x\nkey F2\nkey F1\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;

  // The last screen: the version line, an empty line, then the question.
  EXPECT_EQ(r.screen.substr(0, r.screen.find('\n')).find("Ondaria - versão 3.0"), 0u) << r.screen;
  EXPECT_NE(r.screen.find("Ondaria - Que deseja? "), std::string::npos) << r.screen;

  // The greeting is spoken once, at start; returning to the menu only redraws it.
  EXPECT_EQ(countContaining(r, "text", "Ondaria - versão"), 1);
  // X and F2 are both invalid options.
  EXPECT_EQ(countContaining(r, "text", "Opção inválida"), 2);

  // F1: the heading, the twelve options in menu order, then the beep.
  int at = findFrom(r, 0, "As opções são:");
  ASSERT_GE(at, 0);
  for (const char* line : {"P - radios preferidas", "F - folhear as rádios por categorias",
                           "E - editar uma categoria", "I - incluir item em uma categoria",
                           "R - remover item de uma categoria", "C - criar nova categoria",
                           "D - destruir uma categoria",
                           "A - atualizar a lista de rádios pelo diretório ou por arquivo ATU",
                           "T - testar um endereço de rádio",
                           "B - buscar uma rádio por parte do nome",
                           "N - procurar no diretório de rádios da internet", "ESC - terminar"}) {
    const int next = findFrom(r, at + 1, line);
    ASSERT_GT(next, at) << line;
    at = next;
  }
  bool beepAfterHelp = false;
  for (size_t i = at + 1; i < r.speech.size(); ++i)
    if (r.speech[i].kind == "beep") beepAfterHelp = true;
  EXPECT_TRUE(beepAfterHelp);

  // ESC ends the program with the closing message, last of all the texts.
  const int goodbye = findFrom(r, 0, "Fim do Ondaria.");
  ASSERT_GE(goodbye, 0);
  EXPECT_GT(goodbye, at);
}

TEST(MainMenu, OptionListFromTheArrowKeysAndItsEscape) {
  ProgramRun program;
  // Down opens the option list; ESC in the list ends the main menu like ESC at the question.
  const ProgramResult r = program.run("key Down\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  EXPECT_TRUE(r.heard("text", "Fim do Ondaria."));
}

TEST(MainMenu, CommandLineAddressIsNotGreetedAloud) {
  ProgramRun program;
  const ProgramResult r = program.run("", {program.workDir() + "/nothing-here.mp3"});
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(countContaining(r, "text", "Ondaria - versão"), 0);
  EXPECT_EQ(countContaining(r, "text", "Fim do Ondaria."), 0);
  EXPECT_NE(r.screen.find("Ondaria - versão 3.0"), std::string::npos);
}

}  // namespace
}  // namespace ondaria::test
