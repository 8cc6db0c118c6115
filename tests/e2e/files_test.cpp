// Whole-program runs with the files and habits of a Linux desktop: a station
// list saved by a UTF-8 editor, an address pasted into a terminal, keys that
// make no byte.
#include <gtest/gtest.h>

#include "support/program_run.h"
#include "support/temp_files.h"

namespace ondaria::test {
namespace {

TEST(LinuxFiles, AUtf8ListWithAMarkIsShownSpokenAndSearched) {
  ProgramRun program;
  const std::string list = "\xEF\xBB\xBF[Not\xC3\xAD" "cias]\nR\xC3\xA1" "dio Clube=http://127.0.0.1:9/c\n"
                           "[M\xC3\xBAsica]\nJovem Pan \xE2\x80\x93 S\xC3\xA3o Paulo=http://127.0.0.1:9/j\n";
  writeFileBytes(program.settingsDir() + "/ondaria.ini", list);
  const ProgramResult r = program.run(
      "text f\nwait Selecione\nkey Enter\nwait tecle Enter\nkey Esc\nwait Que deseja\n"
      "text b\nwait buscar\ntext radio\nkey Enter\nwait Clube em\nkey Esc\nwait buscar\nkey Enter\n"
      "wait Que deseja\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  // The first category is there (the mark did not hide it), read as UTF-8.
  EXPECT_TRUE(r.heard("text", "Notícias")) << r.screen;
  EXPECT_FALSE(r.heard("text", "NotÃ"));
  EXPECT_TRUE(r.heard("text", "Rádio Clube em Notícias"));
  EXPECT_EQ(readFileBytes(program.settingsDir() + "/ondaria.ini"), list);
}

TEST(LinuxFiles, APastedAddressIsOneLineAndKeysWithoutBytesAreSkipped) {
  ProgramRun program;
  // T: a pasted address with a line end does not answer the question by
  // itself; ESC at the next question gives up. Ctrl+1 makes no key byte.
  const ProgramResult r = program.run(
      "key ctrl+1\ntext t\nwait Digite a URL\npaste http://127.0.0.1:9/" + std::string(100, 'a') +
      "\\n\nkey Enter\nwait tocador externo\nkey Esc\nwait Que deseja\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  EXPECT_TRUE(r.heard("text", "Precisa usar um tocador externo"));
  EXPECT_TRUE(r.heard("text", "Desistiu..."));
  EXPECT_FALSE(r.heard("text", "Tentando conexão"));
  EXPECT_TRUE(r.heard("text", "Fim do Ondaria."));
}

}  // namespace
}  // namespace ondaria::test
