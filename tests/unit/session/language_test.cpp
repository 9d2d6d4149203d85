#include "session/language.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "session/job_form.h"
#include "session/list_input.h"
#include "session/session.h"

namespace kestrova {
namespace {

class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("kestrova-language-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "LOCALE");
    ResetSessionForTesting();
    ResetLanguageForTesting();
    Session().jobRoot = root_.string() + "/";
    JobName() = "KESTROVA";
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  void WriteCatalogue(std::string_view text) { ASSERT_TRUE(WriteWholeFile(CataloguePath(), text)); }
  std::filesystem::path root_;
};

constexpr std::string_view kCatalogue =
    "\"Data\",\"Data GL\",\"Data OC\",\"Fecha\"\r\n"
    "\"Règim\",\"Réxime\",\"Regim\",\"Régimen\"\r\n"
    "\"Data\",\"second GL\",\"second OC\",\"second ES\"\r\n"
    "\"Buit\",\"\",\"\",\"\"\r\n"
    "\"Amb, coma\",\"Con, coma GL\",\"Amb, coma OC\",\"Con, coma\"\r\n";

TEST_F(LanguageTest, ItemOrderAndExactMatching) {
  WriteCatalogue(Utf8ToCp850(kCatalogue));
  const struct {
    const char* language;
    const char* text;
    const char* want;
  } cases[] = {
      {"SPA", "Data", "Fecha"},       // the first of two records wins
      {"GLG", "Data", "Data GL"},
      {"OCI", "Data", "Data OC"},     // third item, not the fourth
      {"SPA", "Règim", "Régimen"},
      {"SPA", "Amb, coma", "Con, coma"},
      {"SPA", "Buit", ""},           // an empty translation is used
      {"SPA", "data", "data"},       // letter case counts
      {"SPA", "Data ", "Data "},     // so do trailing blanks
      {"SPA", "Absent", "Absent"},
      {"   ", "Data", "Data"},       // blank or unknown language: Catalan
      {"ENG", "Data", "Data"},
      {"spa", "Data", "Data"},
  };
  for (const auto& c : cases) {
    Session().language = c.language;
    EXPECT_EQ(TranslateText(Utf8ToCp850(c.text)), Utf8ToCp850(c.want)) << c.language << " " << c.text;
  }
}

TEST_F(LanguageTest, CatalanTouchesNoFile) {
  Session().language = "CAT";
  Session().jobRoot = "/nonexistent/root/";
  EXPECT_EQ(TranslateText("Data"), "Data");
  EXPECT_FALSE(PathExists(CataloguePath()));
}

TEST_F(LanguageTest, MissingCatalogueIsCreatedEmpty) {
  Session().language = "   ";
  EXPECT_FALSE(PathExists(CataloguePath()));
  EXPECT_EQ(TranslateText("Data"), "Data");
  std::string contents = "x";
  ASSERT_TRUE(ReadWholeFile(CataloguePath(), contents));
  EXPECT_EQ(contents, "");
  EXPECT_EQ(CountCatalogueRecords(), 0);
}

TEST_F(LanguageTest, NameIsKeptFromTheFirstCall) {
  Session().language = "SPA";
  WriteCatalogue("\"Data\",\"g\",\"o\",\"Fecha\"\r\n");
  EXPECT_EQ(TranslateText("Data"), "Fecha");
  JobName() = "ALTRE";
  EXPECT_EQ(TranslateText("Data"), "Fecha");
}

TEST_F(LanguageTest, TheCatalogueIsReadOncePerSessionInEveryLanguage) {
  for (const char* language : {"SPA", "GLG", "OCI", "ENG"}) {
    ResetLanguageForTesting();
    Session().language = language;
    WriteCatalogue("\"Data\",\"g1\",\"o1\",\"s1\"\r\n");
    const std::string first = TranslateText("Data");
    // A catalogue changed or removed during the session is not read again.
    WriteCatalogue("\"Data\",\"g2\",\"o2\",\"s2\"\r\n");
    EXPECT_EQ(TranslateText("Data"), first) << language;
    std::filesystem::remove(NativePath(CataloguePath()));
    EXPECT_EQ(TranslateText("Data"), first) << language;
    EXPECT_FALSE(PathExists(CataloguePath())) << language << ": not created again either";
  }
}

TEST_F(LanguageTest, DamagedCataloguesKeepTheRecordsBeforeTheDamage) {
  Session().language = "SPA";
  const struct {
    const char* what;
    std::string text;
    const char* key;
    const char* want;
    int records;
  } cases[] = {
      {"unterminated quote", "\"A\",\"g\",\"o\",\"a\"\r\n\"B\",\"g\",\"o\",\"b", "A", "a", 2},
      {"short last record", "\"A\",\"g\",\"o\",\"a\"\r\n\"B\",\"g\"\r\n", "B", "B", 1},
      {"byte 26 inside", std::string("\"A\",\"g\",\"o\",\"a\"\r\n\x1a\"B\",\"g\",\"o\",\"b\"\r\n"), "B", "B", 1},
      {"end right after the key", "\"A\",\"g\",\"o\",\"a\"\r\n\"B\"", "A", "a", 1},
      {"no line end at the end", "\"A\",\"g\",\"o\",\"a\"", "A", "a", 1},
  };
  for (const auto& c : cases) {
    ResetLanguageForTesting();  // the catalogue is read once per session
    WriteCatalogue(c.text);
    EXPECT_EQ(TranslateText(c.key), c.want) << c.what;
    EXPECT_EQ(CountCatalogueRecords(), c.records) << c.what;
  }
}

TEST_F(LanguageTest, InstalledCatalogueIsWellFormed) {
  // Every record of the catalogue we ship has four non-empty items and a
  // Catalan key that appears once.
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  if (source == nullptr) GTEST_SKIP() << "KESTROVA_SOURCE_DIR not set";
  std::string utf8;
  ASSERT_TRUE(ReadWholeFile(std::string(source) + "/install/LOCALE/KESTROVA.LNG", utf8));
  const std::string text = Utf8ToCp850(utf8, '\0');
  EXPECT_EQ(text.find('\0'), std::string::npos) << "a character outside code page 850";
  WriteCatalogue(text);
  const int32_t records = CountCatalogueRecords();
  EXPECT_GT(records, 10);
  std::size_t lines = 0;
  for (std::size_t i = 0; i < text.size(); ++i) lines += text[i] == '\n' && i > 0 && text[i - 1] != '\n';
  EXPECT_EQ(static_cast<std::size_t>(records), lines) << "one record a line";
}

TEST_F(LanguageTest, EveryTextOfTheFormHasARecord) {
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  if (source == nullptr) GTEST_SKIP() << "KESTROVA_SOURCE_DIR not set";
  std::string catalogue, form;
  ASSERT_TRUE(ReadWholeFile(std::string(source) + "/install/LOCALE/KESTROVA.LNG", catalogue));
  ASSERT_TRUE(ReadWholeFile(std::string(source) + "/install/FORMS/KESTROVA.JPN", form));
  std::vector<std::string> keys;
  const std::string cp850 = Utf8ToCp850(catalogue);
  ListInput in = MakeListInput(cp850);
  for (std::string item; ReadTextItem(in, item) == ItemStatus::kOk;) {
    keys.push_back(item);
    for (int i = 0; i < 3; ++i) ReadTextItem(in, item);
  }
  Session().language = "CAT";
  ResetJobFormForTesting();
  ASSERT_TRUE(ParseJobForm(Utf8ToCp850(form)).ok);
  auto known = [&keys](const std::string& text) {
    return text.empty() || std::find(keys.begin(), keys.end(), text) != keys.end();
  };
  for (const FormScreen& screen : JobForm().screens) {
    for (int16_t j = 0; j < screen.fieldCount; ++j) {
      const FormField& f = screen.fields[static_cast<std::size_t>(j)];
      EXPECT_TRUE(known(f.label)) << Cp850ToUtf8(f.label);
      EXPECT_TRUE(known(f.help)) << Cp850ToUtf8(f.help);
    }
  }
  for (const FormList& list : JobForm().lists) EXPECT_TRUE(known(list.title)) << Cp850ToUtf8(list.title);
}

}  // namespace
}  // namespace kestrova
