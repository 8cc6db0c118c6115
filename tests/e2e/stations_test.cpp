// Whole-program runs of the station list options of the main menu: the
// category choice before E, F, I and R, and the options that need none.
#include <gtest/gtest.h>

#include "support/program_run.h"
#include "support/temp_files.h"

namespace ondaria::test {
namespace {

const char* const kList =
    "[Rock]\n"
    "rock=http://127.0.0.1:9/rock\n"
    "Axé=http://127.0.0.1:9/axe\n"
    "Blues=http://127.0.0.1:9/blues\n"
    "[Preferidas]\n"
    "1=Blues=http://127.0.0.1:9/blues\n"
    "[Jazz]\n"
    "Suave=http://127.0.0.1:9/suave\n";

std::string listFile(const ProgramRun& program) {
  return readFileBytes(program.settingsDir() + "/ondaria.ini");
}

TEST(StationOptions, BrowseAfterTheCategoryChoice) {
  ProgramRun program;
  program.writeStationList(kList);
  // F: the first category is Rock; b moves to Blues; ESC ends the browse.
  // E followed by ESC in the category choice goes back to the question.
  const ProgramResult r = program.run(
      "text f\nwait Selecione\nkey Enter\nwait tecle Enter\ntext b\nwait Blues\nkey Esc\n"
      "wait Que deseja\ntext e\nwait Selecione\nkey Esc\nwait Que deseja\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  EXPECT_TRUE(r.heard("text", "Blues"));
  EXPECT_TRUE(r.heard("text", "Fim do Folheamento"));
  EXPECT_FALSE(r.heard("text", "Opção inválida"));
  EXPECT_TRUE(r.heard("text", "Fim do Ondaria."));
}

TEST(StationOptions, IncludeCreateDestroyAndSearchChangeTheFile) {
  ProgramRun program;
  program.writeStationList(kList);
  // I into Jazz (the second category offered: Preferidas is left out), C a
  // new category, D of Rock, then B finds nothing.
  const ProgramResult r = program.run(
      "text i\nwait Selecione\nkey Down\nkey Enter\nwait Nome do item\ntext Nova FM\nkey Enter\n"
      "wait Informe o conte\nkey Enter\nwait Nome do item\nkey Enter\nwait Que deseja\n"
      "text c\nwait nova categoria\ntext Blues & Cia\nkey Enter\nwait OK.\nwait Que deseja\n"
      "text d\nwait a destruir\ntext Rock\nkey Enter\nwait Aperte D\ntext d\nwait Que deseja\n"
      "text b\nwait mínimo 3\ntext zzz\nkey Enter\nwait Que deseja\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  EXPECT_EQ(listFile(program),
            "[Preferidas]\r\n1=Blues=http://127.0.0.1:9/blues\r\n"
            "[Jazz]\r\nSuave=http://127.0.0.1:9/suave\r\nNova FM=\r\n"
            "[Blues & Cia]\r\n");
  EXPECT_TRUE(r.heard("text", "Não encontrei nada parecido"));
}

TEST(StationOptions, FavouritesMenuAndItsHelp) {
  ProgramRun program;
  program.writeStationList(kList);
  // Keys typed during the help are discarded, so the script ends there and
  // the program ends as it does when no key can come any more.
  const ProgramResult r = program.run("text p\nwait Preferidas - que\nkey F1\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_TRUE(r.heard("text", "P - escolhe pelo número da preferida"));
  EXPECT_TRUE(r.heard("text", "U - última rádio escutada"));
  EXPECT_TRUE(r.heard("beep", ""));
}

}  // namespace
}  // namespace ondaria::test
