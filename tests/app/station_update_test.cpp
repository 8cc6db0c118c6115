// Station list update: change files applied to the station list, the complete
// list fetched from local HTTP and HTTPS servers, and the promise that a failed
// update leaves the station list byte for byte as it was.
#include "app/station_update.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/change_file.h"
#include "console/core/messages.h"
#include "console/core/settings.h"
#include "console/ui/ui_fixture.h"
#include "net/sockets.h"
#include "net/tls.h"
#include "support/local_server.h"
#include "support/temp_files.h"

namespace ondaria {
namespace {

using test::LocalServer;
using test::ServerConnection;
using uitest::key;
using uitest::KeyId;
using uitest::typed;

std::string answer200(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A station list as a user's file might hold it, favourites included.
const std::string kOldList =
    "; lista do usuario\r\n"
    "[Rock]\r\n"
    "Nova=http://antiga/nova\r\n"
    "Velha=http://antiga/velha\r\n"
    "[Jazz]\r\n"
    "Suave=http://jazz/suave\r\n"
    "[PREFERIDAS]\r\n"
    "1=Suave=http://jazz/suave\r\n"
    "3=Nova=FFMPEG http://antiga/nova\r\n";

// A complete list as the update server publishes it: no favourites.
const std::string kNewList =
    "[Not\xED" "cias]\r\n"
    "Central=http://noticias/central\r\n"
    "[Rock]\r\n"
    "Pesada=http://rock/pesada\r\n";

class StationUpdateTest : public uitest::UiTest {
 protected:
  static void SetUpTestSuite() { certificates_ = std::make_unique<test::TestCertificates>(); }
  static void TearDownTestSuite() { certificates_.reset(); }

  void SetUp() override {
    UiTest::SetUp();
    ASSERT_FALSE(folder_.path().empty());
    std::filesystem::create_directories(folder_.path() / "config" / "lumare");
    std::filesystem::create_directories(folder_.path() / "system");
    env_.set("XDG_CONFIG_HOME", (folder_.path() / "config").string());
    env_.set("LUMARE_SYSTEM_DIR", (folder_.path() / "system").string());
    resetSettingsState();
    appState().stationListPath = listPath();
    writeList(kOldList);
    ASSERT_TRUE(netStartup());
  }

  void TearDown() override {
    netCleanup();
    tlsClose();
    resetSettingsState();
    UiTest::TearDown();
  }

  std::string listPath() const { return (folder_.path() / "ondaria.ini").string(); }
  std::string list() const { return test::readFileBytes(listPath()); }
  void writeList(const std::string& bytes) const { test::writeFileBytes(listPath(), bytes); }
  std::string file(const std::string& name) const { return (folder_.path() / name).string(); }

  void setUpdateSource(const std::string& url) {
    test::writeFileBytes(folder_.path() / "config" / "lumare" / "Lumare.ini",
                         "[ONDARIA]\r\nSITEATUALIZA=" + url + "\r\n");
  }

  std::string value(const std::string& section, const std::string& key) const {
    return readProfileString(section, key, "<none>", listPath());
  }

  // True when the message's text was written on the screen at some wait, or
  // is on it now.
  std::string everything() const {
    std::string all;
    for (const auto& w : screen->waits)
      for (int r = 1; r <= 25; ++r) all += rowOf(w.grid, r) + "\n";
    for (int r = 1; r <= 25; ++r) all += row(r) + "\n";
    return all;
  }
  bool shown(const std::string& text) const { return everything().find(text) != std::string::npos; }
  bool shownMessage(const char* key) const { return shown(messageText(key)); }
  // True when a spoken text contained `text`.
  bool spoke(const std::string& text) const {
    for (const std::string& h : heard)
      if (h.rfind("text:", 0) == 0 && h.find(text) != std::string::npos) return true;
    return false;
  }

  // Runs the change-file path with the file's bytes and the answer to
  // "Deseja modificar itens anteriormente criados?"; `enters` invalid lines
  // each wait for Enter.
  void runChangeFile(const std::string& bytes, const char* answer, int enters = 0) {
    test::writeFileBytes(file("mudancas.atu"), bytes);
    script({typed(file("mudancas.atu")), key(KeyId::Enter), typed(answer)});
    for (int i = 0; i < enters; ++i) script({key(KeyId::Enter)});
    updateFromChangeFile();
    EXPECT_TRUE(screen->steps.empty()) << "the update asked fewer questions than expected";
  }

  // A failed internet update: the failure is said and waits for Enter, the
  // temporary file is gone and the list is untouched.
  void expectFailedUpdate(const std::string& what) {
    const std::string before = list();
    script({key(KeyId::Enter)});
    EXPECT_FALSE(updateFromInternet()) << what;
    EXPECT_TRUE(screen->steps.empty()) << what << ": no wait for Enter";
    EXPECT_TRUE(shownMessage("ODATNENC")) << what;
    EXPECT_TRUE(shownMessage("ODAPTENT")) << what;
    EXPECT_EQ(list(), before) << what;
    EXPECT_FALSE(std::filesystem::exists(listPath() + ".tmp")) << what;
  }

  static const test::TestCertificates& certs() { return *certificates_; }

  test::TempFolder folder_{"ondaria-update"};
  test::ScopedEnv env_;

 private:
  static std::unique_ptr<test::TestCertificates> certificates_;
};

std::unique_ptr<test::TestCertificates> StationUpdateTest::certificates_;

// ---- Change files ---------------------------------------------------------------

TEST_F(StationUpdateTest, ChangeFileAddsAndDeletesButKeepsExistingEntriesUnlessAllowed) {
  writeList("[Rock]\r\nVelha=http://antiga/velha\r\nFica=http://fica\r\n");
  runChangeFile("[Rock]\nNova=http://nova/a\nVelha=\n", "n");
  EXPECT_EQ(value("Rock", "Nova"), "http://nova/a");
  EXPECT_EQ(value("Rock", "Velha"), "<none>");
  EXPECT_EQ(value("Rock", "Fica"), "http://fica");
  EXPECT_TRUE(shown("Rock"));
  EXPECT_TRUE(shownMessage("ODOK"));

  // Without permission an entry that has a value keeps it...
  runChangeFile("[Rock]\r\nNova=http://outra/b\r\n", "n");
  EXPECT_EQ(value("Rock", "Nova"), "http://nova/a");
  // ...with it (S, either case) the value is replaced, blanks inside kept.
  runChangeFile("[Rock]\r\nNova=http://outra/b?x=1 2\r\n", "s");
  EXPECT_EQ(value("Rock", "Nova"), "http://outra/b?x=1 2");
  // A blank value deletes, whatever the answer.
  runChangeFile("[Rock]\r\nNova=   \r\n", "n");
  EXPECT_EQ(value("Rock", "Nova"), "<none>");
}

TEST_F(StationUpdateTest, ChangeFileSkipsCommentsAndCreatesNewSections) {
  runChangeFile(
      "; comentario\r\n"
      "* outro comentario=com igual\r\n"
      "\r\n"
      "[ MPB ]\r\n"
      "Bossa=http://mpb/bossa\r\n"
      "[Rock\r\n"
      "Mais=http://rock/mais\r\n",
      "n");
  EXPECT_EQ(value("MPB", "Bossa"), "http://mpb/bossa");
  // A section line without its "]" loses no letter of the name.
  EXPECT_EQ(value("Rock", "Mais"), "http://rock/mais");
  EXPECT_EQ(value("Roc", "Mais"), "<none>");
  // Comments change nothing.
  EXPECT_EQ(profileSectionNames(listPath()),
            (std::vector<std::string>{"Rock", "Jazz", "PREFERIDAS", "MPB"}));
  EXPECT_FALSE(shownMessage("ODCHINVA"));
}

TEST_F(StationUpdateTest, EqualsAloneDeletesOnlyTheCurrentSection) {
  runChangeFile("[Rock]\r\n=\r\n[Jazz]\r\nNova=http://jazz/nova\r\n", "n");
  EXPECT_EQ(profileKeyNames("Rock", listPath()), std::vector<std::string>{});
  EXPECT_EQ(value("Jazz", "Suave"), "http://jazz/suave");
  EXPECT_EQ(value("Jazz", "Nova"), "http://jazz/nova");
  EXPECT_EQ(value("PREFERIDAS", "3"), "Nova=FFMPEG http://antiga/nova");
}

TEST_F(StationUpdateTest, InvalidLinesAreReportedAndTheRestIsApplied) {
  const std::string before = list();
  // A line without "=", a key of blanks (not the whole section) and a value
  // without a key: each reported with the line, each waiting for Enter.
  runChangeFile("[Jazz]\r\nsem igual\r\n   =\r\n=http://x\r\nNova=http://jazz/nova\r\n", "n", 3);
  EXPECT_TRUE(shownMessage("ODCHINVA"));
  EXPECT_TRUE(shown("sem igual"));
  EXPECT_TRUE(spoke("sem igual"));
  EXPECT_EQ(value("Jazz", "Suave"), "http://jazz/suave");
  EXPECT_EQ(value("Jazz", "Nova"), "http://jazz/nova");
  // Not "OK.": some lines were not applied.
  EXPECT_TRUE(shownMessage("ODATUPAR"));
  EXPECT_FALSE(shownMessage("ODOK"));
}

TEST_F(StationUpdateTest, ChangeFilesFromAnyEditorApplyWhole) {
  // The same two changes as Windows-1252, as UTF-8 with and without a
  // byte-order mark, and with lines ending in CR alone.
  const struct {
    const char* what;
    std::string bytes;
  } files[] = {
      {"Windows-1252", "[Not\xED" "cias]\r\nR\xE1" "dio Um=http://um\r\nVelha=\r\n"},
      {"UTF-8", "[Not\xC3\xAD" "cias]\nR\xC3\xA1" "dio Um=http://um\nVelha=\n"},
      {"UTF-8 with a mark", "\xEF\xBB\xBF[Not\xC3\xAD" "cias]\r\nR\xC3\xA1" "dio Um=http://um\r\nVelha=\r\n"},
      {"CR alone", "[Not\xED" "cias]\rR\xE1" "dio Um=http://um\rVelha=\r"},
  };
  for (const auto& f : files) {
    writeList("[Not\xED" "cias]\r\nVelha=http://velha\r\n");
    screen->waits.clear();
    runChangeFile(f.bytes, "s");
    EXPECT_EQ(list(), "[Not\xED" "cias]\r\nR\xE1" "dio Um=http://um\r\n") << f.what;
    EXPECT_TRUE(shownMessage("ODOK")) << f.what;
    EXPECT_FALSE(shownMessage("ODCHINVA")) << f.what;
    EXPECT_TRUE(shown("Not\xED" "cias")) << f.what;
  }
}

TEST_F(StationUpdateTest, AWrongFileAsksAFewTimesThenCountsAndEscGivesUp) {
  // Twelve lines that are no changes (and one with control bytes and a great
  // length): three are shown and waited for, the rest told in one sentence,
  // and with nothing applied there is no "OK.".
  std::string garbage = "[Rock]\r\n" + std::string(500, 'x') + "\x07\x1B[2J\r\n";
  for (int i = 0; i < 11; ++i) garbage += "lixo " + std::to_string(i) + "\r\n";
  const std::string before = list();
  runChangeFile(garbage, "s", kInvalidLinesReported);
  EXPECT_EQ(count("beep"), 0);  // the bell byte was not written out
  EXPECT_TRUE(shown(std::string(kInvalidLineShown, 'x') + "..."));
  EXPECT_FALSE(shown(std::string(kInvalidLineShown + 1, 'x')));
  EXPECT_TRUE(shown(messageText("ODMAISIN") + "9"));
  EXPECT_TRUE(shownMessage("ODNADAPL"));
  EXPECT_FALSE(shownMessage("ODOK"));
  EXPECT_EQ(list(), before);

  // ESC at a question gives up the rest of the file.
  test::writeFileBytes(file("mudancas.atu"), "[Rock]\r\nsem igual\r\nDepois=http://depois\r\n");
  script({typed(file("mudancas.atu")), key(KeyId::Enter), typed("s"), key(KeyId::Escape)});
  updateFromChangeFile();
  EXPECT_TRUE(screen->steps.empty());
  EXPECT_TRUE(shownMessage("ODDESIST"));
  EXPECT_EQ(value("Rock", "Depois"), "<none>");
}

TEST_F(StationUpdateTest, AChangeFileThatCannotBeReadIsSaidSo) {
  std::filesystem::create_directories(file("pasta.atu"));
  script({typed(file("pasta.atu")), key(KeyId::Enter)});
  updateFromChangeFile();
  EXPECT_TRUE(shown(messageText("ODARQILE") + messageText("ODEPASTA")));
  EXPECT_FALSE(shownMessage("ODARQNEX"));
}

TEST_F(StationUpdateTest, LinesBeforeTheFirstSectionAreReportedNotWritten) {
  // The station list cannot hold a section without a name: such lines are
  // reported instead of vanishing while "OK." is said.
  runChangeFile("Solta=http://solta\r\n=\r\n[Jazz]\r\nNova=http://jazz/nova\r\n", "s", 2);
  EXPECT_TRUE(shownMessage("ODCHINVA"));
  EXPECT_TRUE(shown("Solta=http://solta"));
  EXPECT_EQ(list().find("Solta"), std::string::npos);
  EXPECT_EQ(value("Rock", "Nova"), "http://antiga/nova");
  EXPECT_EQ(value("Jazz", "Nova"), "http://jazz/nova");
}

TEST_F(StationUpdateTest, MissingFileEmptyNameAndEscapeChangeNothing) {
  const std::string before = list();
  script({typed(file("nao-existe.atu")), key(KeyId::Enter)});
  updateFromChangeFile();
  EXPECT_TRUE(shownMessage("ODARQNEX"));


  script({key(KeyId::Enter)});
  updateFromChangeFile();
  EXPECT_TRUE(screen->steps.empty());

  test::writeFileBytes(file("mudancas.atu"), "[Rock]\r\n=\r\n");
  script({typed(file("mudancas.atu")), key(KeyId::Enter), key(KeyId::Escape)});
  updateFromChangeFile();
  EXPECT_TRUE(screen->steps.empty());
  EXPECT_EQ(list(), before);
  EXPECT_FALSE(shownMessage("ODOK"));
}

TEST_F(StationUpdateTest, UnwritableStationListIsReportedNotCalledOk) {
  // The list's folder is a file: no write can succeed, even for root.
  test::writeFileBytes(file("blocked"), "");
  appState().stationListPath = file("blocked") + "/ondaria.ini";
  runChangeFile("[Rock]\r\nNova=http://nova\r\nOutra=http://outra\r\n", "s");
  EXPECT_TRUE(shownMessage("ODERRWAR"));
  EXPECT_FALSE(shownMessage("ODOK"));
}

TEST(ChangeSectionName, TakesTheTextUpToTheLastBracketTrimmed) {
  EXPECT_EQ(changeSectionName("[Rock]"), "Rock");
  EXPECT_EQ(changeSectionName("[Rock"), "Rock");
  EXPECT_EQ(changeSectionName("[ Rock e Pop ]  "), "Rock e Pop");
  EXPECT_EQ(changeSectionName("[a]b]"), "a]b");
  EXPECT_EQ(changeSectionName("[]"), "");
  EXPECT_EQ(changeSectionName("["), "");
}

// ---- The update source ------------------------------------------------------------

TEST(UpdateSource, SplitsHostAndPathAndKeepsTheScheme) {
  struct Case {
    const char* url;
    bool secure;
    const char* host;
    const char* path;
  };
  const Case cases[] = {
      {"http://H/dir/lista.ini", false, "H", "/dir/lista.ini"},
      {"HTTPS://h:8443/x", true, "h:8443", "/x"},
      {"www.h.com/x/y", false, "www.h.com", "/x/y"},
      {"ftp://h/x", false, "h", "/x"},
      {"http://h", false, "", "h"},  // no "/" after the host: no host at all
  };
  for (const Case& c : cases) {
    const UpdateSourceParts p = splitUpdateSource(c.url);
    EXPECT_EQ(p.secure, c.secure) << c.url;
    EXPECT_EQ(p.host, c.host) << c.url;
    EXPECT_EQ(p.path, c.path) << c.url;
  }
}

// ---- Internet update ------------------------------------------------------------

TEST_F(StationUpdateTest, InternetUpdateReplacesTheListWithTheServersBytes) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send(answer200(kNewList));
  });
  setUpdateSource(server.url("/dir/lista.ini"));
  EXPECT_TRUE(updateFromInternet());
  EXPECT_EQ(list(), kNewList);
  EXPECT_FALSE(std::filesystem::exists(listPath() + ".tmp"));
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].rfind("GET /dir/lista.ini HTTP/1.0\r\n", 0), 0u);
  EXPECT_NE(server.requests()[0].find("\r\nHost: 127.0.0.1\r\n"), std::string::npos);
  EXPECT_TRUE(shown("HTTP 200"));
  EXPECT_EQ(count("click"), 2);
  // The new list is what the profile functions read at once.
  EXPECT_EQ(value("Rock", "Pesada"), "http://rock/pesada");
  EXPECT_EQ(value("Jazz", "Suave"), "<none>");
}

TEST_F(StationUpdateTest, AListPublishedAsUtf8IsTakenAsItIs) {
  // One category, saved with a byte-order mark and lines ending in CR.
  const std::string utf8 = "\xEF\xBB\xBF[Not\xC3\xAD" "cias]\rCentral=http://c\r";
  LocalServer server([&utf8](ServerConnection& c) {
    c.readRequest();
    c.send(answer200(utf8));
  });
  setUpdateSource(server.url("/lista.ini"));
  EXPECT_TRUE(updateFromInternet());
  EXPECT_EQ(value("Not\xED" "cias", "Central"), "http://c");
}

TEST_F(StationUpdateTest, InternetUpdateOverTlsTrustsOnlyVerifiedServers) {
  ASSERT_TRUE(certs().ok());
  LocalServer server(
      [](ServerConnection& c) {
        c.readRequest();
        c.send(answer200(kNewList));
      },
      &certs().good());
  env_.set("SSL_CERT_FILE", certs().caFile());
  env_.set("SSL_CERT_DIR", folder_.path().string());
  tlsClose();
  setUpdateSource(server.url("/lista.ini"));
  ASSERT_EQ(server.url("/lista.ini").rfind("https://", 0), 0u);
  EXPECT_TRUE(updateFromInternet()) << tlsLastFailure();
  EXPECT_EQ(list(), kNewList);

  // A server the test CA did not sign is not believed.
  writeList(kOldList);
  LocalServer impostor(
      [](ServerConnection& c) {
        c.readRequest();
        c.send(answer200(kNewList));
      },
      &certs().selfSigned());
  setUpdateSource(impostor.url("/lista.ini"));
  expectFailedUpdate("self-signed certificate");
}

TEST_F(StationUpdateTest, FailedTransfersLeaveTheListByteIdentical) {
  struct Case {
    const char* what;
    std::function<void(ServerConnection&)> handler;
  };
  const Case cases[] = {
      {"404", [](ServerConnection& c) {
         c.readRequest();
         c.send("HTTP/1.0 404 Not Found\r\n\r\n[Rock]\r\nX=y\r\n");
       }},
      {"301 without a new address", [](ServerConnection& c) {
         c.readRequest();
         c.send("HTTP/1.0 301 Moved\r\n\r\n");
       }},
      {"redirect loop", [](ServerConnection& c) {
         c.readRequest();
         c.send("HTTP/1.0 302 Found\r\nLocation: /de-novo\r\n\r\n");
       }},
      {"reset mid-body", [](ServerConnection& c) {
         c.readRequest();
         c.send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + kNewList);
         c.pause(50);
         c.reset();
       }},
      {"cut short of its length", [](ServerConnection& c) {
         c.readRequest();
         c.send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + kNewList);
       }},
      {"not an http answer", [](ServerConnection& c) {
         c.readRequest();
         c.send("<html>bem-vindo</html>\r\n\r\n");
       }},
      {"login page of a captive portal", [](ServerConnection& c) {
         c.readRequest();
         c.send(answer200("<html><body>Entre com sua senha</body></html>\r\n"));
       }},
      {"empty list", [](ServerConnection& c) {
         c.readRequest();
         c.send(answer200(""));
       }},
  };
  for (const Case& c : cases) {
    LocalServer server(c.handler);
    setUpdateSource(server.url("/lista.ini"));
    expectFailedUpdate(c.what);
  }
  EXPECT_TRUE(shown("HTTP 404"));
}

TEST_F(StationUpdateTest, BodyOverTheSizeLimitIsRefused) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    if (!c.send("HTTP/1.0 200 OK\r\n\r\n[Rock]\r\n")) return;
    const std::string line(1024 * 1024 - 2, 'x');
    // One megabyte lines until the client gives up past its limit.
    for (std::uint64_t sent = 0; sent <= kStationListSizeLimit + (1u << 20); sent += line.size() + 2)
      if (!c.send(line + "\r\n")) return;
  });
  setUpdateSource(server.url("/grande.ini"));
  expectFailedUpdate("over the size limit");
}

TEST_F(StationUpdateTest, SourceWithoutHostOrServerFailsAndSaysSo) {
  setUpdateSource("http://sem-barra");
  expectFailedUpdate("no path after the host");
  // Nothing listens on port 1 of this machine.
  setUpdateSource("http://127.0.0.1:1/lista.ini");
  expectFailedUpdate("connection refused");
}

TEST_F(StationUpdateTest, TemporaryFileThatCannotBeWrittenIsReported) {
  // A folder in the temporary file's place: the body has nowhere to go.
  std::filesystem::create_directory(listPath() + ".tmp");
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send(answer200(kNewList));
  });
  setUpdateSource(server.url("/lista.ini"));
  script({key(KeyId::Enter)});
  EXPECT_FALSE(updateFromInternet());
  EXPECT_TRUE(shownMessage("ODERRWAR"));
  EXPECT_TRUE(shownMessage("ODATNENC"));
  EXPECT_EQ(list(), kOldList);
}

// ---- Main option A and the favourites ------------------------------------------------

TEST_F(StationUpdateTest, AStationListThatMayNotBeReplacedIsNotReplaced) {
  // The include option refuses a list it may not replace (here a link to
  // nothing, which even root cannot write through); so does the update,
  // before anything is fetched.
  bool asked = false;
  LocalServer server([&asked](ServerConnection& c) {
    asked = true;
    c.readRequest();
    c.send(answer200(kNewList));
  });
  setUpdateSource(server.url("/lista.ini"));
  std::filesystem::remove(listPath());
  std::filesystem::create_symlink(file("perdido/lista.ini"), listPath());
  EXPECT_FALSE(updateFromInternet());
  EXPECT_TRUE(shownMessage("ODERRWAR"));
  EXPECT_FALSE(asked);
  EXPECT_TRUE(std::filesystem::is_symlink(listPath()));
  EXPECT_FALSE(std::filesystem::exists(file("perdido")));
}

TEST_F(StationUpdateTest, FavouritesAreKeptAcrossAnInternetUpdateWithoutThem) {
  // A long address comes back whole, never cut to a reading buffer.
  const std::string longAddress = "http://exemplo/" + std::string(300, 'a');
  writeList(kOldList + "2=Longa=" + longAddress + "\r\n");
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send(answer200(kNewList));
  });
  setUpdateSource(server.url("/lista.ini"));
  script({typed("s"), typed("s")});
  updateStationList();
  EXPECT_TRUE(screen->steps.empty());
  EXPECT_EQ(list().substr(0, kNewList.size()), kNewList);
  EXPECT_EQ(value("PREFERIDAS", "1"), "Suave=http://jazz/suave");
  EXPECT_EQ(value("PREFERIDAS", "3"), "Nova=FFMPEG http://antiga/nova");
  EXPECT_EQ(value("PREFERIDAS", "2"), "Longa=" + longAddress);
  for (int slot = 1; slot <= kFavouriteSlots; ++slot) {
    if (slot <= 3) continue;
    const std::string v = value("PREFERIDAS", std::to_string(slot));
    EXPECT_TRUE(v == "" || v == "<none>") << slot << ": " << v;
  }
  EXPECT_EQ(value("Rock", "Pesada"), "http://rock/pesada");
  EXPECT_TRUE(shownMessage("ODMANPRF"));
  EXPECT_TRUE(shownMessage("ODATUINT"));
}

TEST_F(StationUpdateTest, KeptFavouritesReplaceTheNewListsAndUnkeptOnesAreDropped) {
  const std::string withFavourites = kNewList + "[PREFERIDAS]\r\n2=Central=http://noticias/central\r\n";
  LocalServer server([&](ServerConnection& c) {
    c.readRequest();
    c.send(answer200(withFavourites));
  });
  setUpdateSource(server.url("/lista.ini"));
  // Kept: the old slots win, and slot 2, empty before, is empty again.
  script({typed("S"), typed("x")});
  updateStationList();
  EXPECT_EQ(value("PREFERIDAS", "1"), "Suave=http://jazz/suave");
  EXPECT_EQ(value("PREFERIDAS", "2"), "");
  // Not kept: the list is exactly the server's.
  script({typed("n"), typed("s")});
  updateStationList();
  EXPECT_EQ(list(), withFavourites);
}

TEST_F(StationUpdateTest, FailedUpdateWithFavouritesKeptLeavesTheFileUntouched) {
  LocalServer server([](ServerConnection& c) {
    c.readRequest();
    c.send("HTTP/1.0 404 Not Found\r\n\r\n");
  });
  setUpdateSource(server.url("/lista.ini"));
  script({typed("s"), key(KeyId::Escape), key(KeyId::Enter)});
  updateStationList();
  EXPECT_TRUE(screen->steps.empty());
  // ESC at "Quer atualizar pela Internet?" went to the internet.
  EXPECT_EQ(server.connectionCount(), 1);
  EXPECT_TRUE(shownMessage("ODATNENC"));
  EXPECT_EQ(list(), kOldList);
}

TEST_F(StationUpdateTest, AnswerNTakesTheChangeFileAndKeepsFavourites) {
  test::writeFileBytes(file("mudancas.atu"), "[PREFERIDAS]\r\n=\r\n[Rock]\r\nNova=\r\n");
  script({typed("s"), typed("n"), typed(file("mudancas.atu")), key(KeyId::Enter), typed("n")});
  updateStationList();
  EXPECT_TRUE(screen->steps.empty());
  EXPECT_EQ(value("Rock", "Nova"), "<none>");
  EXPECT_EQ(value("PREFERIDAS", "1"), "Suave=http://jazz/suave");
  EXPECT_EQ(value("PREFERIDAS", "3"), "Nova=FFMPEG http://antiga/nova");
  EXPECT_TRUE(shownMessage("ODARQMUD"));
}

}  // namespace
}  // namespace ondaria
