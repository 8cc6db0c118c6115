#include "console/core/ini_text.h"

#include <gtest/gtest.h>

#include <string>

using namespace ondaria::ini;

namespace {

std::string get(const IniText& ini, const std::string& section, const std::string& key) {
  std::string value;
  return ini.find(section, key, value) ? value : std::string("<absent>");
}

std::string set(const std::string& bytes, const std::string& section, const std::string& key,
                const std::string& value) {
  std::string out;
  EXPECT_EQ(IniText(bytes).setValue(section, key, value, out), Edit::Changed);
  return out;
}

std::string erase(const std::string& bytes, const std::string& section, const std::string& key) {
  std::string out;
  EXPECT_EQ(IniText(bytes).erase(section, key, out), Edit::Changed);
  return out;
}

}  // namespace

TEST(IniText, ReadsLikeTheProfileFunctions) {
  const IniText ini(
      "; comment=not an entry\r\n"
      "orphan=before any section\r\n"
      "  [ Video ]  \r\n"
      "  CorLetra  =  15  \r\n"
      "quoted=\"  spaced  \"\r\n"
      "single='x'\r\n"
      "lonely=\"\r\n"
      "mixed=\"x'\r\n"
      "eq=a=b;c[d]\r\n"
      "no equals sign\r\n"
      "=empty key\r\n"
      "[R\xE1" "dios]\r\n"
      "\xC1gua=1\r\n");
  EXPECT_EQ(get(ini, "VIDEO", "corletra"), "15");
  EXPECT_EQ(get(ini, " video ", " CORLETRA "), "15");
  EXPECT_EQ(get(ini, "video", "quoted"), "  spaced  ");
  EXPECT_EQ(get(ini, "video", "single"), "x");
  EXPECT_EQ(get(ini, "video", "lonely"), "\"");
  EXPECT_EQ(get(ini, "video", "mixed"), "\"x'");
  EXPECT_EQ(get(ini, "video", "eq"), "a=b;c[d]");
  EXPECT_EQ(get(ini, "video", "no equals sign"), "<absent>");
  EXPECT_EQ(get(ini, "video", "; comment"), "<absent>");
  EXPECT_EQ(get(ini, "", "orphan"), "<absent>");
  // Accented letters match across case in cp1252.
  EXPECT_EQ(get(ini, "R\xC1" "DIOS", "\xE1gua"), "1");
  EXPECT_EQ(ini.sectionNames(), (std::vector<std::string>{"Video", "R\xE1" "dios"}));
  EXPECT_EQ(ini.keyNames("video"),
            (std::vector<std::string>{"CorLetra", "quoted", "single", "lonely", "mixed", "eq"}));
}

TEST(IniText, ValuesAreReadWhole) {
  const std::string longValue = "http://exemplo/" + std::string(3000, 'v');
  const IniText ini("[s]\r\nk=" + longValue + "\r\n");
  EXPECT_EQ(get(ini, "s", "k"), longValue);
  EXPECT_EQ(ini.entries("s").front().second, longValue);
}

// Files as Linux editors and old systems write them: each edit is compared byte
// for byte with the file the editor would have written.
TEST(IniText, EncodingsAndLineEndsSurviveEdits) {
  struct Case {
    const char* what;
    std::string file;
    TextEncoding encoding;
    std::string section, key, expectRead;  // what the program reads (cp1252)
    std::string newValue;                  // written to section/key
    std::string expectFile;                // the file afterwards
  };
  const std::string bom = "\xEF\xBB\xBF";
  const Case cases[] = {
      {"UTF-8 without a mark", "[Not\xC3\xAD" "cias]\nR\xC3\xA1" "dio=a\nZ=\xF0\x9F\x93\xBB\n",
       TextEncoding::Utf8, "Not\xED" "cias", "R\xE1" "dio", "a", "\xE7",
       "[Not\xC3\xAD" "cias]\nR\xC3\xA1" "dio=\xC3\xA7\nZ=\xF0\x9F\x93\xBB\n"},
      {"UTF-8 with a mark: the first section is found", bom + "[VIDEO]\r\nTABCORES=1,2\r\n",
       TextEncoding::Utf8Bom, "VIDEO", "TABCORES", "1,2", "\xC1",
       bom + "[VIDEO]\r\nTABCORES=\xC3\x81\r\n"},
      {"a new section in a file with a mark", bom + "[a]\nk=1\n", TextEncoding::Utf8Bom, "a", "k",
       "1", "2", bom + "[a]\nk=2\n"},
      {"Windows-1252", "[Not\xED" "cias]\r\nR\xE1" "dio=a\r\n", TextEncoding::Cp1252,
       "Not\xED" "cias", "R\xE1" "dio", "a", "\xE7", "[Not\xED" "cias]\r\nR\xE1" "dio=\xE7\r\n"},
      {"ASCII is Windows-1252", "[a]\r\nk=v\r\n", TextEncoding::Cp1252, "a", "k", "v", "\xE1",
       "[a]\r\nk=\xE1\r\n"},
      {"invalid UTF-8 is Windows-1252", "[a]\nk=\xC3(\n", TextEncoding::Cp1252, "a", "k", "\xC3(", "x",
       "[a]\nk=x\n"},
      {"lines ending in CR alone", "[a]\rk=1\rm=c\r", TextEncoding::Cp1252, "a", "m", "c", "d",
       "[a]\rk=1\rm=d\r"},
      {"a new key after a last line ending in CR", "[a]\rk=c\r", TextEncoding::Cp1252, "a", "k", "c",
       "c", "[a]\rk=c\r"},
      {"a mixture of line ends", "[a]\r\nk=1\rm=2\nn=3", TextEncoding::Cp1252, "a", "n", "3", "4",
       "[a]\r\nk=1\rm=2\nn=4"},
  };
  for (const Case& c : cases) {
    const IniText ini(c.file);
    EXPECT_EQ(ini.encoding(), c.encoding) << c.what;
    EXPECT_EQ(get(ini, c.section, c.key), c.expectRead) << c.what;
    std::string out;
    const Edit edit = ini.setValue(c.section, c.key, c.newValue, out);
    if (c.expectFile == c.file) {
      EXPECT_EQ(edit, Edit::Unchanged) << c.what;
      continue;
    }
    ASSERT_EQ(edit, Edit::Changed) << c.what;
    EXPECT_EQ(out, c.expectFile) << c.what;
    EXPECT_EQ(get(IniText(out, ini.encoding()), c.section, c.key), c.newValue) << c.what;
  }

  // Keys and sections the program adds are written in the file's encoding.
  std::string out;
  ASSERT_EQ(IniText(bom + "[a]\nk=1\n").setValue("Not\xED" "cias", "R\xE1" "dio", "\xE9", out),
            Edit::Changed);
  EXPECT_EQ(out, bom + "[a]\nk=1\n[Not\xC3\xAD" "cias]\nR\xC3\xA1" "dio=\xC3\xA9\n");
  ASSERT_EQ(IniText("[a]\rk=1\r").setValue("a", "n", "2", out), Edit::Changed);
  EXPECT_EQ(out, "[a]\rk=1\rn=2\r");
  // Erasing keeps the mark; a character cp1252 cannot hold reads as "?" and
  // stays untouched in the file.
  ASSERT_EQ(IniText(bom + "[a]\nx=\xF0\x9F\x93\xBB\nk=1\n").erase("a", "k", out), Edit::Changed);
  EXPECT_EQ(out, bom + "[a]\nx=\xF0\x9F\x93\xBB\n");
  EXPECT_EQ(get(IniText(out), "a", "x"), "?");
}

TEST(IniText, DuplicateSectionsAndKeysActAsOne) {
  const std::string file =
      "[A]\r\nk=first\r\nx=1\r\n[B]\r\nk=b\r\n[a]\r\nK=second\r\ny=2\r\n";
  const IniText ini(file);
  EXPECT_EQ(ini.sectionNames(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(ini.keyNames("A"), (std::vector<std::string>{"k", "x", "y"}));
  EXPECT_EQ(get(ini, "a", "k"), "first");
  EXPECT_EQ(get(ini, "a", "y"), "2");
  using Entries = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(ini.entries("a"), (Entries{{"k", "first"}, {"x", "1"}, {"y", "2"}}));
  EXPECT_EQ(ini.entries("c"), Entries{});
  // Replacing changes the copy that is read; erasing removes every copy.
  EXPECT_EQ(set(file, "A", "K", "new"), "[A]\r\nk=new\r\nx=1\r\n[B]\r\nk=b\r\n[a]\r\nK=second\r\ny=2\r\n");
  const std::string erased = erase(file, "a", "k");
  EXPECT_EQ(erased, "[A]\r\nx=1\r\n[B]\r\nk=b\r\n[a]\r\ny=2\r\n");
  EXPECT_EQ(get(IniText(erased), "a", "k"), "<absent>");
  EXPECT_EQ(erase(file, "A", ""), "[B]\r\nk=b\r\n");
}

TEST(IniText, EditsKeepUntouchedBytes) {
  // LF and CR LF lines, a stray CR, a NUL byte, a very long line and no final
  // line end: all of them survive an edit elsewhere in the file.
  const std::string longLine(100 * 1024, 'L');
  std::string file = "junk line\n[s]\r\nk = old value ; not a comment\r\n" + longLine +
                     "\r\nz=a\rb\n" + std::string("nul=\0x", 6) + "\r\n[t]\r\nlast=1";
  EXPECT_EQ(set(file, "s", "K", "new"),
            "junk line\n[s]\r\nk =new\r\n" + longLine + "\r\nz=a\rb\n" +
                std::string("nul=\0x", 6) + "\r\n[t]\r\nlast=1");
  // A new key goes after the last entry of the section, the line before it
  // gaining the line end it lacked.
  EXPECT_EQ(set(file, "t", "new", "v"),
            "junk line\n[s]\r\nk = old value ; not a comment\r\n" + longLine + "\r\nz=a\rb\n" +
                std::string("nul=\0x", 6) + "\r\n[t]\r\nlast=1\nnew=v\n");
  EXPECT_EQ(get(IniText(file), "s", "nul"), std::string("\0x", 2));
}

TEST(IniText, NewKeysAndSectionsAreAppendedInPlace) {
  const std::string file = "[a]\r\nx=1\r\n\r\n; about b\r\n[b]\r\n";
  EXPECT_EQ(set(file, "A", "y", "2"), "[a]\r\nx=1\r\ny=2\r\n\r\n; about b\r\n[b]\r\n");
  EXPECT_EQ(set(file, "b", "y", "2"), "[a]\r\nx=1\r\n\r\n; about b\r\n[b]\r\ny=2\r\n");
  EXPECT_EQ(set(file, "c", "y", "2"), file + "[c]\r\ny=2\r\n");
  EXPECT_EQ(set("[a]", "c", "y", "2"), "[a]\r\n[c]\r\ny=2\r\n");
  EXPECT_EQ(set("", "c", "y", "2"), "[c]\r\ny=2\r\n");
  // An LF-only file gets LF lines.
  EXPECT_EQ(set("[a]\nx=1\n", "c", "y", "2"), "[a]\nx=1\n[c]\ny=2\n");
}

TEST(IniText, AwkwardValuesRoundTrip) {
  const std::string values[] = {
      "a=b", "[x]", "]", ";semi", "  lead", "trail  ", "\t tab \t", "\"quoted\"", "'single'",
      "\"", "''", "caf\xE9 \x80 \xFF", "", "FFMPEG  http://x/y?a=1&b=[2]",
  };
  for (const std::string& value : values) {
    const std::string out = set("[s]\r\nother=keep\r\n", "s", "key", value);
    EXPECT_EQ(get(IniText(out), "s", "key"), value) << out;
    EXPECT_EQ(get(IniText(out), "s", "other"), "keep");
  }
  // Plain values are written as they are; only values that would change on
  // reading are quoted.
  EXPECT_EQ(set("", "s", "k", "a=b;c"), "[s]\r\nk=a=b;c\r\n");
  EXPECT_EQ(set("", "s", "k", " x"), "[s]\r\nk=\" x\"\r\n");
}

TEST(IniText, NamesTheLayoutCannotHoldAreRefused) {
  const IniText ini("[s]\r\nk=v\r\n");
  std::string out = "untouched";
  const std::pair<std::string, std::string> refused[] = {
      {"s", "a=b"}, {"s", ";k"}, {"s", "[k"}, {"s", ""}, {"s", "   "}, {"s", "a\nb"},
      {"", "k"},    {"a\rb", "k"}, {std::string("a\0b", 3), "k"},
  };
  for (const auto& [section, key] : refused)
    EXPECT_EQ(ini.setValue(section, key, "v", out), Edit::Refused) << section << "/" << key;
  EXPECT_EQ(ini.setValue("s", "k", "line\r\nbreak", out), Edit::Refused);
  EXPECT_EQ(ini.setValue("s", "k", std::string("nul\0", 4), out), Edit::Refused);
  EXPECT_EQ(out, "untouched");
  // Allowed oddities: "]" in a section name, "]" or "=" later in a key.
  for (const auto& [section, key] : {std::pair<std::string, std::string>{"a]b", "k"}, {"s", "k]"}}) {
    const std::string written = set("[s]\r\nk=v\r\n", section, key, "1");
    EXPECT_EQ(get(IniText(written), section, key), "1") << written;
    EXPECT_EQ(get(IniText(written), "s", "k"), "v");
  }
}

TEST(IniText, UnchangedEditsReportSo) {
  const IniText ini("[s]\r\nk=v\r\n");
  std::string out;
  EXPECT_EQ(ini.setValue("S", "K", "v", out), Edit::Unchanged);
  EXPECT_EQ(ini.erase("s", "missing", out), Edit::Unchanged);
  EXPECT_EQ(ini.erase("missing", "", out), Edit::Unchanged);
}

TEST(IniText, NameListsStopAtTheLimit) {
  // 127999 characters of list hold exactly this many 9-character names (8
  // letters and a terminating zero), plus the final zero.
  const size_t fit = (kNameListLimit - 1) / 9;
  std::string file = "[s]\r\n";
  for (size_t i = 0; i < fit + 5; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "k%07zu", i);
    file += std::string(name) + "=1\r\n";
  }
  const auto keys = IniText(file).keyNames("s");
  ASSERT_EQ(keys.size(), fit);
  EXPECT_EQ(keys.back().size(), 8u);  // never a cut name
}

TEST(IniText, MalformedFilesDoNotCrash) {
  const std::string inputs[] = {
      "", "\n", "\r\n\r\n", "[", "]", "[]", "[]\r\nk=v", "=", "==", "[s", "[s]]]", "[ ]\r\nk=v",
      std::string("\0\0[\0]\0=\0", 9), "\r", "[s]\r\n=\r\n k \r\n"};
  for (const std::string& in : inputs) {
    const IniText ini(in);
    std::string out, value;
    ini.find("s", "k", value);
    ini.sectionNames();
    ini.keyNames("s");
    EXPECT_NE(ini.setValue("s", "k", "v", out), Edit::Refused);
    EXPECT_EQ(get(IniText(out), "s", "k"), "v") << in;
  }
}
