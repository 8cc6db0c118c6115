// Whole-program runs of playback: the address given on the command line is
// played and the program ends.
#include <gtest/gtest.h>

#include "support/program_run.h"
#include "support/stream_peers.h"

namespace ondaria::test {
namespace {

TEST(CommandLinePlayback, PlaysTheAddressThenEndsWithoutTheMenu) {
  ToneFiles tones(1.0);
  const std::string file = tones.path("mp3");
  ASSERT_FALSE(file.empty());
  ProgramRun program;
  const ProgramResult r = program.run("", {file});
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  EXPECT_TRUE(r.heard("text", "Tentando conex\xC3\xA3o"));
  EXPECT_TRUE(r.heard("text", "R\xC3\xA1" "dio desligada"));
  EXPECT_FALSE(r.heard("text", "Que deseja"));
  EXPECT_FALSE(r.heard("text", "Fim do Ondaria"));
}

TEST(CommandLinePlayback, AnAddressThatFailsWaitsForEnter) {
  ProgramRun program;
  // The screen is saved when the program waits for a key: Enter comes late.
  const ProgramResult r =
      program.run("wait Aperte enter\nsleep 1000\nkey Enter\n", {program.workDir() + "/falta.mp3"});
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  EXPECT_NE(r.screen.find("Erro: stream n\xC3\xA3o foi achada."), std::string::npos) << r.screen;
  EXPECT_NE(r.screen.find("Aperte enter..."), std::string::npos) << r.screen;
}

}  // namespace
}  // namespace ondaria::test
