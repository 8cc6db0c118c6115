// Whole-program runs of main option A: the station list brought up to date
// from a local HTTP server, as the user drives it.
#include <gtest/gtest.h>

#include <string>

#include "support/local_server.h"
#include "support/program_run.h"
#include "support/temp_files.h"

namespace ondaria::test {
namespace {

const char* const kUserList =
    "[Rock]\n"
    "Nova=http://antiga/nova\n"
    "Velha=http://antiga/velha\n"
    "[PREFERIDAS]\n"
    "1=Velha=http://antiga/velha\n"
    "7=Nova=FFMPEG http://antiga/nova\n";

// The server's list, cp1252 with CR LF as published.
const std::string kPublished =
    "[Jazz]\r\n"
    "Suave=http://jazz/suave\r\n"
    "[M\xDAsica Cl\xE1ssica]\r\n"
    "Concerto=http://classica/concerto\r\n";

std::string answer200(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(StationUpdateProgram, InternetUpdateKeepsTheFavourites) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send(answer200(kPublished));
  });
  ProgramRun program;
  program.writeSettings("[ONDARIA]\nSITEATUALIZA=" + server.url("/lista/ondaria.ini") + "\n");
  program.writeStationList(kUserList);

  const ProgramResult r = program.run("key a\ntext s\ntext s\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].rfind("GET /lista/ondaria.ini HTTP/1.0\r\n", 0), 0u);

  const std::string list = readFileBytes(program.settingsDir() + "/ondaria.ini");
  EXPECT_EQ(list.substr(0, kPublished.size()), kPublished);
  EXPECT_NE(list.find("\r\n1=Velha=http://antiga/velha\r\n"), std::string::npos) << list;
  EXPECT_NE(list.find("\r\n7=Nova=FFMPEG http://antiga/nova\r\n"), std::string::npos) << list;
  EXPECT_EQ(list.find("[Rock]"), std::string::npos) << list;
}

TEST(StationUpdateProgram, UnreachableUpdateLeavesTheListAsItWas) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
  });
  ProgramRun program;
  program.writeSettings("[ONDARIA]\nSITEATUALIZA=" + server.url("/sumiu.ini") + "\n");
  program.writeStationList(kUserList);
  const std::string before = readFileBytes(program.settingsDir() + "/ondaria.ini");

  // The keys end while the program waits at "Aperte enter...", so the last
  // screen is the one that reports the failure.
  const ProgramResult r = program.run("key a\ntext s\ntext s\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_NE(r.screen.find("Deseja manter suas rádios preferidas? s"), std::string::npos) << r.screen;
  EXPECT_NE(r.screen.find("Quer atualizar pela Internet? s"), std::string::npos) << r.screen;
  EXPECT_NE(r.screen.find("HTTP 404"), std::string::npos) << r.screen;
  EXPECT_NE(r.screen.find("Arquivo de atualização não foi achado na internet"), std::string::npos)
      << r.screen;
  EXPECT_NE(r.screen.find("Aperte enter..."), std::string::npos) << r.screen;
  EXPECT_EQ(readFileBytes(program.settingsDir() + "/ondaria.ini"), before);
}

}  // namespace
}  // namespace ondaria::test
