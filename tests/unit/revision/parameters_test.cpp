// The revision form's check hook, its field descriptions, list lines and
// hand-over, on the job's own form and catalogue and an in-memory set of
// concepts, texts and indices.
#include "revision/parameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calendar/date_texts.h"
#include "calendar/numeric.h"
#include "calendar/picture_mask.h"
#include "console/form_input.h"
#include "platform/codepage.h"
#include "platform/screen.h"
#include "revision/lookup_lists.h"
#include "revision/records.h"
#include "session/job_form.h"
#include "session/language.h"
#include "session/session.h"
#include "support/temp_dir.h"
#include "unit/revision/form_session.h"
#include "unit/revision/memory_records.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

using testing::AddRecord;
using testing::Date;
using testing::IndexRecord;
using testing::InstallFile;

// What the operator saw: the text of each message window, read when the
// message waits for its key, and the number of keys it took.
std::vector<std::string>& Messages() {
  static std::vector<std::string> messages;
  return messages;
}

std::string Trim(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

void AnswerMessage(ScreenState& screen, int timeoutMs) {
  if (timeoutMs == 0) return;  // a flush: nothing is pending
  // A one-line message near row 12 has its text on row 10, between the
  // frame's sides.
  std::string row = ScreenRowText(10);
  const std::string side = "│";
  const std::size_t first = row.find(side);
  const std::size_t last = row.rfind(side);
  if (first != std::string::npos && last > first) {
    row = row.substr(first + side.size(), last - first - side.size());
  }
  Messages().push_back(Trim(row));
  screen.input.push_back({InputKind::kKey, kKeyEnter});
}

// The confirmation screen as the operator answers it.
struct Confirmation {
  int calls = 0;
  std::string fieldOnEntry;
  std::string answer = "S";
  int32_t keyOnEntry = 0;
  int32_t endKey = kKeyEnter;
};
Confirmation& Confirm() {
  static Confirmation c;
  return c;
}
void ScriptedConfirmation(int16_t screen, int32_t& key) {
  ++Confirm().calls;
  Confirm().fieldOnEntry = JobForm().screens[static_cast<std::size_t>(screen - 1)].fields[0].value;
  Confirm().keyOnEntry = key;
  PlaceFieldValue(screen, 1, Confirm().answer);
  key = Confirm().endKey;
}

class ParametersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::StartRevisionSession(dir_.Path());
    ResetDateSettingsForTesting();
    ResetSeparatorsForTesting();
    ResetRecordsForTesting();
    dir_.Write("LOCALE/KESTROVA.LNG", InstallFile("LOCALE/KESTROVA.LNG"));
    ASSERT_TRUE(ParseJobForm(InstallFile("FORMS/KESTROVA.JPN")).ok);
    Screen().backend.waitInput = AnswerMessage;
    Messages().clear();
    Confirm() = Confirmation();
    ConfirmationScreenRunner() = ScriptedConfirmation;

    testing::InstallMemoryRecords();
    AddRecord(kConceptTypeFile, testing::ConceptRecord(1, "LLOGUER", 0));
    AddRecord(kConceptTypeFile, testing::ConceptRecord(2, "AUGMENTS", 1));
    AddRecord(kConceptTypeFile, testing::ConceptRecord(5, "ESCALA", 9));
    AddRecord(kConceptTypeFile, testing::ConceptRecord(133, "REPERCUSSIO", 1));
    AddRecord(kConceptTypeFile, testing::ConceptRecord(140, "ENDARRERIMENTS", 9));
    AddRecord(kTextFile, testing::TextRecord("CARTA1", "Carta d'actualitzacio"));
    AddRecord(kPriceIndexFile, IndexRecord('I', "202312", 117.5));
    AddRecord(kPriceIndexFile, IndexRecord('I', "202401", 103.2506));
    AddRecord(kPriceIndexFile, IndexRecord('P', "202402", 3.0));
    // One unit, 1.1, so the form's range is not empty.
    AddRecord(kUnitFile, testing::UnitBytes({}));

    // A form that passes: report mode, 15/01/2024, regime 1, the whole
    // range, increase concept 2, no arrears.
    Fill({"L", "15012024", "1", "1", "0", "999", "999", "2", "0", "", "15012024", ""});
  }
  void TearDown() override {
    ResetRevisionRecordAccessForTesting();
    ResetScreenForTesting();
  }

  static void Fill(const std::vector<std::string>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      PlaceFieldValue(1, static_cast<int>(i) + 1, values[i]);
    }
  }
  static std::string Field(int screen, int field) {
    return JobForm().screens[static_cast<std::size_t>(screen - 1)]
        .fields[static_cast<std::size_t>(field - 1)]
        .value;
  }
  static int16_t Check(int32_t key = kKeyEnter) { return ValidateRevisionParameters(1, key); }

  testing::TempDir dir_;
};

TEST(FieldNumberTest, NearestHalvesToEvenWithin16Bits) {
  const struct {
    const char* text;
    int16_t value;
  } cases[] = {
      {"", 0},      {"   ", 0},     {"  7", 7},         {"2.5", 2},         {"3.5", 4},
      {"-2.5", -2}, {"1,5", 2},     {"12x", 12},        {"abc", 0},         {"+3", 3},
      {"99999", 32767}, {"-99999", -32768}, {"99999999999999999999", 32767},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FieldNumber(c.text), c.value);
  }
}

TEST_F(ParametersTest, FormFieldsBecomeParameters) {
  Fill({"A", "07062024", "3", "12", "4", "15", "999", "2", "12", "7", "01072024", "CARTA1"});
  FillRevisionParameters();
  const RevisionParameters& p = Revision();
  EXPECT_EQ(p.Mode, "A");
  EXPECT_EQ(p.ApplicationDate, Date("20240607"));
  EXPECT_EQ(p.Regime, 3);
  // Estate 12 unit 4 as 0012 0004, packed two digits a byte.
  EXPECT_EQ(p.FromKey, std::string({'\x80', '\x8c', '\x80', '\x84'}));
  EXPECT_EQ(p.ToKey, PackDigits("00150999"));
  EXPECT_EQ(p.IncreaseConcept, 2);
  EXPECT_EQ(p.ArrearsMonths, 12);
  EXPECT_EQ(p.ArrearsConcept, 7);
  EXPECT_EQ(p.LetterDate, Date("20240701"));
  EXPECT_EQ(p.TextCode, "CARTA1  ");
  // A blank unit number is unit 0; the key keeps its 4 bytes.
  Fill({"A", "07062024", "3", "12", "", "15", "  "});
  FillRevisionParameters();
  EXPECT_EQ(Revision().FromKey, PackDigits("00120000"));
  EXPECT_EQ(Revision().ToKey, PackDigits("00150000"));
}

TEST_F(ParametersTest, AGoodFormIsConfirmed) {
  int32_t key = kKeyEnter;
  EXPECT_EQ(ValidateRevisionParameters(1, key), 0);
  EXPECT_TRUE(Messages().empty());
  // The confirmation field starts blank, runs on the hook's key, and the
  // key that ended it comes back.
  EXPECT_EQ(Confirm().calls, 1);
  EXPECT_EQ(Confirm().fieldOnEntry, " ");
  EXPECT_EQ(Confirm().keyOnEntry, kKeyEnter);
  EXPECT_EQ(key, kKeyEnter);
  // Regime 1: the index of 01/2024, in thousandths: 103.2506 -> 103251.
  EXPECT_EQ(Revision().IndexDate, Date("20240101"));
  EXPECT_EQ(Revision().IndexValue, 103251);
}

TEST_F(ParametersTest, OnlyAnSOnTheConfirmationAccepts) {
  Confirm().answer = "N";
  Confirm().endKey = kKeyPgUp;
  int32_t key = kKeyEnter;
  EXPECT_EQ(ValidateRevisionParameters(1, key), -1);
  EXPECT_EQ(key, kKeyPgUp);
  Confirm().answer = "";
  EXPECT_EQ(Check(), -1);
  Confirm().answer = "S";
  EXPECT_EQ(Check(), 0);
}

TEST_F(ParametersTest, EscapeAndOtherScreensAreNotChecked) {
  Fill({"N", "15022023", "2", "1", "0", "999", "999", "9", "3", "77", "", "NOHIHA"});
  int32_t key = kKeyEscape;
  EXPECT_EQ(ValidateRevisionParameters(1, key), 0);
  key = kKeyEnter;
  EXPECT_EQ(ValidateRevisionParameters(2, key), 0);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Confirm().calls, 0);
  EXPECT_EQ(Revision().Mode, " ");  // nothing was read
}

// Every check runs and shows its own message, in order; the form stays open
// and the confirmation is not asked.
TEST_F(ParametersTest, EveryFailedCheckShowsItsMessageInOrder) {
  // Increase concept 4 undefined, arrears concept 7 undefined with 3 months,
  // letters with an unknown text, regime 2 in a month without an index.
  const std::vector<std::string> undefined = {
      "N", "15022024", "2", "1", "0", "999", "999", "4", "3", "7", "", "NOHIHA"};
  // Increase concept 1 is the rent (class 0); arrears concept 5 (key byte
  // 133) is an increment (class 1).
  const std::vector<std::string> wrongClass = {
      "L", "15012024", "1", "1", "0", "999", "999", "1", "2", "5", "", ""};
  const struct {
    const std::vector<std::string>& values;
    const char* language;
    std::vector<std::string> messages;
  } cases[] = {
      {undefined, "CAT",
       {"NO EXISTEIX EL CONCEPTE D'AUGMENT 4", "NO EXISTEIX EL CONCEPTE D'ENDARRERIMENTS 7",
        "NO EXISTEIX EL TEXT NOHIHA", "NO EXISTEIX L'ÍNDEX DE 1/2/2024"}},
      {undefined, "SPA",
       {"NO EXISTE EL CONCEPTO DE AUMENTO 4", "NO EXISTE EL CONCEPTO DE ATRASOS 7",
        "NO EXISTE EL TEXTO NOHIHA", "NO EXISTE EL ÍNDICE DE 1/2/2024"}},
      {wrongClass, "CAT",
       {"EL CONCEPTE LLOGUER NO ÉS DE TIPUS INCREMENTS",
        "EL CONCEPTE REPERCUSSIO NO ÉS DE TIPUS ALTRES"}},
      {wrongClass, "GLG",
       {"O CONCEPTO LLOGUER NON É DE TIPO INCREMENTOS",
        "O CONCEPTO REPERCUSSIO NON É DE TIPO OUTROS"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.language) + " " + c.messages.front());
    Fill(c.values);
    Session().language = c.language;
    Messages().clear();
    EXPECT_EQ(Check(), -1);
    EXPECT_EQ(Messages(), c.messages);
    EXPECT_EQ(Confirm().calls, 0);
    EXPECT_EQ(Windows().depth, 0);  // every message closed
  }
}

// The arrears concept is checked only with arrears months, the letter text
// only for letters.
TEST_F(ParametersTest, ArrearsConceptAndLetterTextAreCheckedOnlyWhenUsed) {
  const struct {
    const char* name;
    std::vector<std::string> values;
  } cases[] = {
      {"an unknown arrears concept without months",
       {"L", "15012024", "1", "1", "0", "999", "999", "2", "0", "77", "", ""}},
      // 12 is key byte 140.
      {"a coded arrears concept of class 9 with months",
       {"L", "15012024", "1", "1", "0", "999", "999", "2", "3", "12", "", ""}},
      {"an unknown text without letters",
       {"A", "15012024", "1", "1", "0", "999", "999", "2", "0", "", "", "NOHIHA"}},
      {"a known text with letters",
       {"N", "15012024", "1", "1", "0", "999", "999", "2", "0", "", "", "CARTA1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fill(c.values);
    EXPECT_EQ(Check(), 0);
    EXPECT_TRUE(Messages().empty());
  }
}

TEST_F(ParametersTest, IndexOfTheApplicationMonth) {
  const struct {
    const char* name;
    const char* regime;
    const char* application;
    bool found;
    const char* indexDate;
    double indexValue;
  } cases[] = {
      {"regime 2, the exact month", "2", "31012024", true, "20240101", 103251},
      {"regime 2 refuses a month without an index", "2", "15022024", false, "", 0},
      {"regime 1 takes the last earlier month", "1", "15022024", true, "20240101", 103251},
      {"regime 3 takes the last earlier month", "3", "28122023", true, "20231201", 117500},
      {"no month on or before", "1", "15062020", false, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fill({"L", c.application, c.regime});
    FillRevisionParameters();
    ASSERT_EQ(FindRevisionIndex(), c.found);
    if (!c.found) continue;
    EXPECT_EQ(Revision().IndexDate, Date(c.indexDate));
    EXPECT_EQ(Revision().IndexValue, c.indexValue);
  }
}

TEST_F(ParametersTest, FieldDescriptions) {
  Fill({"L", "15062024", "1", "1", "0", "999", "999", "2", "0", "5", "", "CARTA1"});
  auto padded = [](std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
  };
  EXPECT_EQ(FieldDescription(1, 8), padded("AUGMENTS", 20));
  // Coded concept 5 is key byte 133, not the numbered concept 5.
  EXPECT_EQ(FieldDescription(1, 10), padded("REPERCUSSIO", 20));
  EXPECT_EQ(FieldDescription(1, 12), padded("Carta d'actualitzacio", 40));
  EXPECT_EQ(FieldDescription(1, 2), padded("15/6/2024", 30));
  EXPECT_EQ(FieldDescription(1, 9), "");  // no description area
  EXPECT_EQ(FieldDescription(1, 99), "");

  Fill({"L", "15062024", "1", "1", "0", "999", "999", "4", "0", "9", "", "NOHIHA"});
  EXPECT_EQ(FieldDescription(1, 8), "*** conc.no def. ***");
  EXPECT_EQ(FieldDescription(1, 12), padded("*** text inexistent ***", 40));
  Session().language = "SPA";
  EXPECT_EQ(FieldDescription(1, 12), padded("*** texto inexistente ***", 40));
}

// The list hooks of the form read the record the browser has just read
// into its file's buffer.
TEST_F(ParametersTest, ListLinesAndHandOver) {
  auto load = [](RecordBytes& buffer, const std::string& bytes) {
    buffer.fill(0);
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
  };
  std::string line;
  std::string estate;
  testing::PutBytes(estate, 0, PackDigits("0012").data(), 2);
  testing::PutText(estate, 8, "CARRER MAJOR 1", 30);
  load(Records().estate.bytes, estate);
  ASSERT_TRUE(RevisionListLine(1, line));
  // Four digits: estates 12 and 1012 must not read the same.
  EXPECT_EQ(line, "0012  CARRER MAJOR 1                ");
  HandOverListChoice(1, 1, 6);
  EXPECT_EQ(Field(1, 6), "12  ");

  std::string unit(343, ' ');
  testing::PutBytes(unit, 0, PackDigits("00120034").data(), 4);
  testing::PutText(unit, 8, "GARCIA LOPEZ*JOAN", 30);
  testing::PutText(unit, 38, "2n 1a", 10);
  load(Records().unit.bytes, unit);
  ASSERT_TRUE(RevisionListLine(2, line));
  // The unit's estate shows on its line: choosing it changes the estate.
  EXPECT_EQ(line, "0012.0034  GARCIA LOPEZ*JOAN               2n 1a     ");
  HandOverListChoice(3, 1, 7);
  EXPECT_EQ(Field(1, 6), "12  ");
  EXPECT_EQ(Field(1, 7), "34  ");

  load(Records().text.bytes, testing::TextRecord("CARTA1", "Carta"));
  ASSERT_TRUE(RevisionListLine(4, line));
  EXPECT_EQ(line, "CARTA1    Carta                                   ");
  HandOverListChoice(4, 1, 12);
  EXPECT_EQ(Field(1, 12), "CARTA1  ");

  // Coded concept 05 is the key byte 133; numbered concept 2 the byte 2.
  load(Records().conceptType.bytes, testing::ConceptRecord(133, "REPERCUSSIO", 1));
  ASSERT_TRUE(RevisionListLine(6, line));
  EXPECT_EQ(line, "05  REPERCUSSIO         ");
  HandOverListChoice(6, 1, 10);
  EXPECT_EQ(Field(1, 10), "5 ");
  load(Records().conceptType.bytes, testing::ConceptRecord(2, "AUGMENTS", 1));
  HandOverListChoice(5, 1, 8);
  EXPECT_EQ(Field(1, 8), "2  ");

  EXPECT_FALSE(RevisionListLine(9, line));
}

// F4 opens a list at what the field holds, or at what was just typed into
// it; a unit list at the estate of the field before it.
TEST_F(ParametersTest, ListsOpenAtTheFieldsKey) {
  struct Case {
    int16_t list;
    int16_t field;
    std::string key;
  } cases[] = {
      {1, 4, PackDigits("0020")},
      {2, 5, PackDigits("00200003")},
      {3, 7, PackDigits("10200000")},
      {4, 12, "CARTA1"},
      {5, 8, NumberedConceptKey(2)},
      {6, 10, CodedConceptKey(5)},
      {5, 9, ""},  // field 9 is blank: from the first record
  };
  Fill({"L", "15012024", "1", "20", "3", "1020", "", "2", "", "5", "", "CARTA1"});
  for (const Case& c : cases) {
    EXPECT_EQ(RevisionListStart(c.list, 1, c.field), c.key) << c.list << " " << c.field;
  }
  // Typed and not yet stored: the list opens there.
  LastEdit() = LastEditState{"7   ", 0x3E00, 5};
  EXPECT_EQ(RevisionListStart(2, 1, 5), PackDigits("00200007"));
  LastEdit() = LastEditState{};
}

// Estate and unit numbers say what they name; an empty field says nothing.
TEST_F(ParametersTest, EstateAndUnitDescriptions) {
  std::string estate;
  testing::PutBytes(estate, 0, PackDigits("0001").data(), 2);
  testing::PutText(estate, 8, "CARRER MAJOR 1", 30);
  AddRecord(kEstateFile, estate);
  std::string unit = testing::UnitBytes({});
  testing::PutText(unit, 8, "GARCIA LOPEZ*JOAN", 30);
  testing::PutText(unit, 38, "2n 1a", 10);
  testing::MemoryFiles()[kUnitFile].records.clear();
  AddRecord(kUnitFile, unit);
  auto padded = [](std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
  };
  struct Case {
    const char* estate;
    const char* unit;
    std::string estateText;
    std::string unitText;
  } cases[] = {
      {"1", "1", padded("CARRER MAJOR 1", 30), padded("JOAN GARCIA LOPEZ  2n 1a", 42)},
      // Range bounds need not be records: no complaint, nothing shown.
      {"2", "1", std::string(30, ' '), std::string(42, ' ')},
      {"1", "9", padded("CARRER MAJOR 1", 30), std::string(42, ' ')},
      {"", "", std::string(30, ' '), std::string(42, ' ')},
  };
  for (const Case& c : cases) {
    Fill({"L", "15012024", "1", c.estate, c.unit});
    EXPECT_EQ(FieldDescription(1, 4), c.estateText) << c.estate;
    EXPECT_EQ(FieldDescription(1, 5), c.unitText) << c.estate << "." << c.unit;
  }
  // Blank concept and text fields are not "undefined": they are empty.
  Fill({"L", "15012024", "1", "1", "0", "9999", "9999", "", "0", "", "", ""});
  EXPECT_EQ(FieldDescription(1, 8), std::string(20, ' '));
  EXPECT_EQ(FieldDescription(1, 10), std::string(20, ' '));
  EXPECT_EQ(FieldDescription(1, 12), std::string(40, ' '));
}

// A range that holds no unit, inverted or not, is refused with its own
// message, and the cursor goes back to "Des de".
TEST_F(ParametersTest, EmptyOrInvertedRangesAreRefused) {
  const struct {
    const char* fromEstate;
    const char* fromUnit;
    const char* toEstate;
    const char* toUnit;
    int16_t result;
  } cases[] = {
      {"1", "0", "9999", "9999", 0},
      {"1", "1", "1", "1", 0},
      {"5", "0", "1", "0", -1},   // inverted
      {"1", "2", "1", "1", -1},   // inverted inside one estate
      {"2", "0", "3", "9999", -1},  // no unit there
      {"", "", "", "", -1},         // blank
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fromEstate) + "." + c.fromUnit + "-" + c.toEstate + "." + c.toUnit);
    Fill({"L", "15012024", "1", c.fromEstate, c.fromUnit, c.toEstate, c.toUnit, "2", "0", "", "15012024", ""});
    Messages().clear();
    FormFaultField() = 0;
    EXPECT_EQ(Check(), c.result);
    if (c.result != 0) {
      EXPECT_EQ(Messages(), std::vector<std::string>{"NO HI HA CAP DEPARTAMENT ENTRE «DES DE» I «FINS A»"});
      EXPECT_EQ(FormFaultField(), 4);
    }
  }
  Session().language = "SPA";
  Fill({"L", "15012024", "1", "5", "0", "1", "0", "2", "0", "", "15012024", ""});
  Messages().clear();
  EXPECT_EQ(Check(), -1);
  EXPECT_EQ(Messages(), std::vector<std::string>{"NO HAY NINGÚN DEPARTAMENTO ENTRE «DESDE» Y «HASTA»"});
}

// The first failed check names the field the operator is sent back to.
TEST_F(ParametersTest, TheFirstFailedCheckNamesItsField) {
  const struct {
    std::vector<std::string> values;
    int16_t field;
  } cases[] = {
      {{"N", "15022024", "2", "1", "0", "999", "999", "4", "3", "7", "", "NOHIHA"}, 8},
      {{"N", "15012024", "1", "1", "0", "999", "999", "2", "3", "7", "", "NOHIHA"}, 10},
      {{"N", "15012024", "1", "1", "0", "999", "999", "2", "0", "", "", "NOHIHA"}, 12},
      {{"L", "15022024", "2", "1", "0", "999", "999", "2", "0", "", "", ""}, 2},
  };
  for (const auto& c : cases) {
    Fill(c.values);
    FormFaultField() = 0;
    EXPECT_EQ(Check(), -1);
    EXPECT_EQ(FormFaultField(), c.field) << c.values[7];
  }
}

}  // namespace
}  // namespace kestrova
