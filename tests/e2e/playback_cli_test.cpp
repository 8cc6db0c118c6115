// Whole-program runs of playback: the address given on the command line is
// played and the program ends.
#include <gtest/gtest.h>

#include "support/local_server.h"
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

TEST(CommandLinePlayback, TheAddressIsSentEscapedOnceAndAFailureSaysWhy) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 404 Not Found\r\n\r\n");
  });
  ProgramRun program;
  // As a shell hands it over: UTF-8, a blank, and an escape already made.
  const ProgramResult r =
      program.run("wait Aperte enter\nkey Enter\n", {server.url("/r\xC3\xA1" "dio um/ao%20vivo")});
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  ASSERT_FALSE(server.requests().empty());
  const std::string request = server.requests()[0];
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET /r%C3%A1dio%20um/ao%20vivo HTTP/1.0");
  // The result, and under it why.
  const size_t result = r.screen.find("Erro: stream n\xC3\xA3o foi achada.");
  ASSERT_NE(result, std::string::npos) << r.screen;
  EXPECT_EQ(r.screen.find("\nO servidor respondeu com o erro 404", result), r.screen.find('\n', result)) << r.screen;
  EXPECT_TRUE(r.heard("text", "O servidor respondeu com o erro"));
}

TEST(CommandLinePlayback, WithoutASoundOutputItSaysSoAndEndsWithAFailureStatus) {
  ProgramRun program;
  program.setEnv("SDL_AUDIODRIVER", "nenhum-driver");
  const ProgramResult r = program.run("", {"http://127.0.0.1:9/radio"});
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 1) << r.stderrText;
  // It never waits for a key, so what it said is in the speech log only.
  EXPECT_TRUE(r.heard("text", "consegui abrir a sa\xC3\xAD" "da de \xC3\xA1udio do computador")) << r.stderrText;
}

}  // namespace
}  // namespace ondaria::test
