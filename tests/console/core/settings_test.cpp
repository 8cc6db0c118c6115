#include "console/core/settings.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "console/core/ini_file.h"
#include "support/temp_files.h"

using namespace ondaria;
namespace fs = std::filesystem;

namespace {

using test::readFileBytes;
using test::writeFileBytes;

std::string readBytes(const fs::path& path) { return readFileBytes(path); }
void writeBytes(const fs::path& path, const std::string& bytes) { writeFileBytes(path, bytes); }

// A private folder per test, with the user and system settings folders pointed
// into it.
class SettingsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    root_ = folder_.path();
    fs::create_directories(user());
    fs::create_directories(system());
    env_.set("XDG_CONFIG_HOME", (root_ / "config").string());
    env_.set("LUMARE_SYSTEM_DIR", system().string());
    resetSettingsState();
  }
  void TearDown() override { resetSettingsState(); }

  fs::path user() const { return root_ / "config" / "lumare"; }
  fs::path system() const { return root_ / "system"; }

  test::TempFolder folder_{"ondaria-settings"};
  test::ScopedEnv env_;
  fs::path root_;
};

}  // namespace

TEST_F(SettingsFiles, SettingsDirectoryPrefersTheUserCopy) {
  EXPECT_EQ(settingsDirectory(), user().string());  // no copy anywhere
  writeBytes(system() / "lumare.INI", "[LUMARE]\r\nX=system\r\n");
  EXPECT_EQ(settingsDirectory(), system().string());
  EXPECT_EQ(readSetting("lumare", "x"), "system");
  writeBytes(user() / "Lumare.ini", "[LUMARE]\r\nX=user\r\n");
  EXPECT_EQ(settingsDirectory(), user().string());
  EXPECT_EQ(readSetting("LUMARE", "X"), "user");
}

TEST_F(SettingsFiles, FallbackCopyIsReadOnlyWhileOn) {
  writeBytes(user() / "Lumare.ini", "[TRADUTOR]\r\nSAPI=S\r\nEMPTY=\r\n");
  writeBytes(system() / "Lumare.ini", "[TRADUTOR]\r\nVOZ=2\r\nEMPTY=old\r\n");
  EXPECT_TRUE(settingsFallback());
  EXPECT_EQ(readSetting("TRADUTOR", "SAPI"), "S");
  EXPECT_EQ(readSetting("TRADUTOR", "VOZ"), "2");
  EXPECT_EQ(readSetting("TRADUTOR", "EMPTY"), "old");  // empty counts as missing
  setSettingsFallback(false);
  EXPECT_EQ(readSetting("TRADUTOR", "VOZ"), "");
  EXPECT_EQ(readSetting("TRADUTOR", "SAPI"), "S");
}

TEST_F(SettingsFiles, DirectoryShorthandsExpand) {
  const std::string prog = programDirectory();
  const std::string settings = user().string();
  writeBytes(user() / "Lumare.ini",
             "[A]\r\nAT=@\r\nVOZES=@@\\vozes\r\nSOM=@\\som\r\nTWO=@@\\a;@@/b\r\n"
             "MIX=@\\x;@@\\y\r\nMAIL=me@home.br\r\nEND=ends@\r\n"
             "[LUMARE]\r\nPGMLUMARE=/opt/lumare\r\n");
  EXPECT_EQ(readSetting("A", "AT"), prog);
  EXPECT_EQ(readSetting("A", "VOZES"), settings + "\\vozes");
  EXPECT_EQ(readSetting("A", "SOM"), "/opt/lumare\\som");
  EXPECT_EQ(readSetting("A", "TWO"), settings + "\\a;" + settings + "/b");
  EXPECT_EQ(readSetting("A", "MIX"), "/opt/lumare\\x;" + settings + "\\y");
  EXPECT_EQ(readSetting("A", "MAIL"), "me@home.br");
  EXPECT_EQ(readSetting("A", "END"), "ends@");

  // PGMLUMARE empty or beginning with "@": the program's own directory.
  for (const char* family : {"", "@", "@\\sub"}) {
    writeBytes(user() / "Lumare.ini",
               std::string("[A]\r\nSOM=@\\som\r\n[LUMARE]\r\nPGMLUMARE=") + family + "\r\n");
    EXPECT_EQ(readSetting("A", "SOM"), prog + "\\som") << family;
  }
  // A family directory that itself holds "@\" is expanded once, not forever.
  writeBytes(user() / "Lumare.ini", "[A]\r\nSOM=@\\som\r\n[LUMARE]\r\nPGMLUMARE=/x@\\y\r\n");
  EXPECT_EQ(readSetting("A", "SOM"), "/x" + prog + "\\y\\som");
}

TEST_F(SettingsFiles, ProgramDirectoryHoldsTheRunningProgram) {
  const std::string dir = programDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '/');
  EXPECT_TRUE(fs::is_regular_file(fs::path(dir) / "test_console_core"));
}

TEST(SettingsPaths, NativePathSeparatorsAndNames) {
  EXPECT_EQ(nativePath("a\\b/c\\d.ini"), "a/b/c/d.ini");
  EXPECT_EQ(nativePath("/m\xFAsica\\S\xE3o"), "/m\xC3\xBAsica/S\xC3\xA3o");
  EXPECT_EQ(nativePath(nativePath("/m\xFAsica\\S\xE3o")), nativePath("/m\xFAsica\\S\xE3o"));
}

TEST_F(SettingsFiles, WritesMakeCrLfFilesAndListsFollow) {
  const std::string file = (root_ / "ondaria.ini").string();
  EXPECT_EQ(readProfileString("MPB", "X", "dflt", file), "dflt");
  EXPECT_TRUE(profileSectionNames(file).empty());
  EXPECT_TRUE(writeProfileString("MPB", "R\xE1" "dio A", "http://a/", file));
  EXPECT_TRUE(writeProfileString("Jazz", "B", "http://b/", file));
  EXPECT_TRUE(writeProfileString("mpb", "C", "FFMPEG http://c/", file));
  EXPECT_EQ(readBytes(file),
            "[MPB]\r\nR\xE1" "dio A=http://a/\r\nC=FFMPEG http://c/\r\n[Jazz]\r\nB=http://b/\r\n");
  EXPECT_EQ(profileSectionNames(file), (std::vector<std::string>{"MPB", "Jazz"}));
  EXPECT_EQ(profileKeyNames("mpb", file), (std::vector<std::string>{"R\xE1" "dio A", "C"}));
  EXPECT_EQ(readProfileString("MPB", "R\xC1" "DIO A", "", file), "http://a/");

  EXPECT_TRUE(eraseProfileEntry("MPB", "c", file));
  EXPECT_TRUE(eraseProfileEntry("MPB", "not there", file));
  EXPECT_TRUE(eraseProfileEntry("JAZZ", "", file));
  EXPECT_EQ(readBytes(file), "[MPB]\r\nR\xE1" "dio A=http://a/\r\n");
  // Refused names leave the file alone.
  EXPECT_FALSE(writeProfileString("MPB", "a=b", "x", file));
  EXPECT_FALSE(writeProfileString("MPB", "k", "two\r\nlines", file));
  EXPECT_EQ(readBytes(file), "[MPB]\r\nR\xE1" "dio A=http://a/\r\n");
}

TEST_F(SettingsFiles, FileNamesMatchWithoutCaseAndBareNamesLiveInTheSystemFolder) {
  writeBytes(root_ / "ONDARIA.INI", "[A]\r\nk=1\r\n");
  const std::string lower = (root_ / "ondaria.ini").string();
  EXPECT_EQ(readProfileString("a", "k", "", lower), "1");
  EXPECT_TRUE(writeProfileString("a", "k", "2", lower));
  EXPECT_FALSE(fs::exists(lower));
  EXPECT_EQ(readBytes(root_ / "ONDARIA.INI"), "[A]\r\nk=2\r\n");

  EXPECT_TRUE(writeProfileString("s", "k", "v", "Bare.ini"));
  EXPECT_EQ(readBytes(system() / "Bare.ini"), "[s]\r\nk=v\r\n");
  // Backslashes separate folders too.
  const std::string windowsStyle = root_.string() + "\\ONDARIA.INI";
  EXPECT_EQ(readProfileString("a", "k", "", windowsStyle), "2");
}

TEST_F(SettingsFiles, OutsideChangesAreSeenEvenWithinOneClockTick) {
  const fs::path file = root_ / "list.ini";
  // Where file times advance once per clock tick, a file rewritten in place
  // within the tick keeps size, inode and time. Pinning the time to one value
  // in the current tick's future makes every rewrite look like that.
  timespec pinned{};
  clock_gettime(CLOCK_REALTIME, &pinned);
  pinned.tv_sec += 30;
  const timespec times[2] = {pinned, pinned};
  for (int i = 0; i < 20; ++i) {
    const std::string value = std::to_string(10 + i);
    writeBytes(file, "[s]\r\nk=" + value + "\r\n");
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    ASSERT_EQ(readProfileString("s", "k", "", file.string()), value);
  }
  writeBytes(file, "[s]\r\nk=99\r\nk2=x\r\n");
  EXPECT_EQ(profileKeyNames("s", file.string()), (std::vector<std::string>{"k", "k2"}));
}

TEST_F(SettingsFiles, WriteFailuresLeaveEverythingAsItWas) {
  EXPECT_FALSE(writeProfileString("s", "k", "v", (root_ / "missing" / "x.ini").string()));
  EXPECT_FALSE(fs::exists(root_ / "missing"));
  // A folder where the file should be: unreadable, so never written over.
  fs::create_directories(root_ / "dir.ini");
  EXPECT_FALSE(writeProfileString("s", "k", "v", (root_ / "dir.ini").string()));
  EXPECT_FALSE(eraseProfileEntry("s", "", (root_ / "dir.ini").string()));
  EXPECT_EQ(readProfileString("s", "k", "d", (root_ / "dir.ini").string()), "d");
  EXPECT_TRUE(fs::is_directory(root_ / "dir.ini"));
}

TEST_F(SettingsFiles, ReadOnlyFolderOrFileRefusesWrites) {
  const fs::path ro = root_ / "ro";
  fs::create_directories(ro);
  writeBytes(ro / "a.ini", "[s]\r\nk=old\r\n");
  const fs::path rw = root_ / "rw";
  fs::create_directories(rw);
  writeBytes(rw / "b.ini", "[s]\r\nk=old\r\n");
  ::chmod(root_.c_str(), 0755);
  ::chmod(ro.c_str(), 0555);
  ::chmod((ro / "a.ini").c_str(), 0666);  // only the folder forbids
  ::chmod(rw.c_str(), 0777);
  ::chmod((rw / "b.ini").c_str(), 0444);

  // Root may write anywhere, so the writer runs as an ordinary user then.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(10);
    int code = 0;
    if (writeProfileString("s", "k", "new", (ro / "a.ini").string())) code |= 1;
    if (writeProfileString("s", "k", "new", (ro / "c.ini").string())) code |= 2;
    if (writeProfileString("s", "k", "new", (rw / "b.ini").string())) code |= 4;
    if (readProfileString("s", "k", "", (ro / "a.ini").string()) != "old") code |= 8;
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readBytes(ro / "a.ini"), "[s]\r\nk=old\r\n");
  EXPECT_EQ(readBytes(rw / "b.ini"), "[s]\r\nk=old\r\n");
  EXPECT_FALSE(fs::exists(ro / "c.ini"));
  EXPECT_EQ(std::distance(fs::directory_iterator(rw), fs::directory_iterator{}), 1);
}

TEST_F(SettingsFiles, WriterKilledBeforeTheRenameLeavesTheOldFile) {
  const fs::path file = root_ / "ondaria.ini";
  const std::string old = "; keep me\r\n[MPB]\r\nA=http://a/\r\n";
  writeBytes(file, old);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ini::setIniWriteHook([&](const std::string& temp) {
      const char ready = 'r';
      if (::write(pipeFds[1], &ready, 1) != 1) ::_exit(3);
      for (;;) ::pause();
    });
    writeProfileString("MPB", "B", "http://b/", file.string());
    ::_exit(2);  // never reached: killed inside the hook
  }
  ::close(pipeFds[1]);
  char ready = 0;
  ASSERT_EQ(::read(pipeFds[0], &ready, 1), 1);
  ::close(pipeFds[0]);
  // The complete new file is waiting beside the old one.
  bool sawTemp = false;
  for (const auto& entry : fs::directory_iterator(root_)) {
    if (entry.path() == file || !entry.is_regular_file()) continue;
    sawTemp = true;
    EXPECT_EQ(readBytes(entry.path()), old + "B=http://b/\r\n");
  }
  EXPECT_TRUE(sawTemp);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(readBytes(file), old);
  EXPECT_EQ(readProfileString("MPB", "B", "none", file.string()), "none");
  // The next write works and leaves the leftover temporary file alone.
  EXPECT_TRUE(writeProfileString("MPB", "C", "http://c/", file.string()));
  EXPECT_EQ(readBytes(file), old + "C=http://c/\r\n");
}

TEST_F(SettingsFiles, WritesKeepModeAndFollowLinks) {
  const fs::path real = root_ / "real.ini";
  writeBytes(real, "[s]\r\nk=1\r\n");
  ::chmod(real.c_str(), 0640);
  fs::create_symlink(real, root_ / "link.ini");
  EXPECT_TRUE(writeProfileString("s", "k", "2", (root_ / "link.ini").string()));
  EXPECT_TRUE(fs::is_symlink(root_ / "link.ini"));
  EXPECT_EQ(readBytes(real), "[s]\r\nk=2\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(SettingsFiles, LargeStationListReadsWhole) {
  const fs::path file = root_ / "big.ini";
  std::string bytes;
  for (int c = 0; c < 200; ++c) {
    bytes += "[CAT" + std::to_string(c) + "]\r\n";
    for (int s = 0; s < 100; ++s)
      bytes += "Radio " + std::to_string(c) + "-" + std::to_string(s) + "=http://h/" +
               std::to_string(c * 100 + s) + "\r\n";
  }
  writeBytes(file, bytes);
  ASSERT_EQ(profileSectionNames(file.string()).size(), 200u);
  const auto keys = profileKeyNames("cat150", file.string());
  ASSERT_EQ(keys.size(), 100u);
  for (size_t i = 0; i < keys.size(); ++i)
    ASSERT_EQ(readProfileString("CAT150", keys[i], "", file.string()),
              "http://h/" + std::to_string(15000 + i));
  const auto entries = readProfileSection("Cat150", file.string());
  ASSERT_EQ(entries.size(), 100u);
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].first, keys[i]);
    EXPECT_EQ(entries[i].second, "http://h/" + std::to_string(15000 + i));
  }
  EXPECT_TRUE(readProfileSection("no such category", file.string()).empty());
  EXPECT_TRUE(readProfileSection("CAT1", (root_ / "missing.ini").string()).empty());
  // A write into the middle changes one line only.
  EXPECT_TRUE(writeProfileString("CAT7", "Radio 7-3", "x", file.string()));
  const std::string after = readBytes(file);
  const std::string oldLine = "Radio 7-3=http://h/703\r\n";
  std::string expected = bytes;
  expected.replace(expected.find(oldLine), oldLine.size(), "Radio 7-3=x\r\n");
  EXPECT_EQ(after, expected);
}
