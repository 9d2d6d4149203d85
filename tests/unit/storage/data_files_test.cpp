// Opening data files: names, slots, creation from the dictionary, refusals
// and the opening-failure path that ends the job.
#include <cstdio>

#include "platform/codepage.h"
#include "platform/headless.h"
#include "storage_test_support.h"

namespace kestrova::storagetest {
namespace {

class DataFilesTest : public StorageTest {
 protected:
  std::string Name(const std::string& rest) const { return dir_.Path() + rest; }
  bool Exists(const std::string& rest) const { return std::filesystem::exists(dir_.Path() + rest); }
};

TEST(DataFileNameTest, NamesSplitFromTheirEnd) {
  struct Case {
    std::string name, directory, base, extension;
  };
  const Case cases[] = {
      {"DADES\\FinquesV", "DADES\\", "FinquesV", ".dat"},
      {"C:X.Y.Z", "C:", "X", ".Y.Z"},
      {"Plain", "", "Plain", ".dat"},
      {"notes.txt", "", "notes", ".txt"},
      {"a.b\\c", "a.b\\", "c", ".dat"},
      {"/srv/tarn/DADES/Textos", "/srv/tarn/DADES/", "Textos", ".dat"},
      {"DADES\\", "DADES\\", "", ".dat"},
      {".hidden", "", "", ".hidden"},
      {"", "", "", ".dat"},
  };
  for (const Case& c : cases) {
    const DataFileName parts = SplitDataFileName(c.name);
    EXPECT_EQ(parts.directory, c.directory) << c.name;
    EXPECT_EQ(parts.base, c.base) << c.name;
    EXPECT_EQ(parts.extension, c.extension) << c.name;
  }
  EXPECT_EQ(DataFilePath("DADES\\FinquesV"), "DADES\\FinquesV.dat");
}

TEST_F(DataFilesTest, TheDictionaryIsTakenFromTheRootWhateverTheDirectory) {
  EXPECT_EQ(DictionaryPath("C:X.Y.Z"), dir_.Path() + "ddf\\X.xdf");
  EXPECT_EQ(DictionaryPath(Name("DADES\\FinquesV")), dir_.Path() + "ddf\\FinquesV.xdf");
}

TEST_F(DataFilesTest, AMissingFileIsCreatedFromItsDictionaryAndOpened) {
  WriteDictionary("FinquesV", TestFileDescription());
  std::filesystem::create_directories(dir_.Path() + "DADES");
  std::memset(record_, 0xAB, sizeof record_);
  EXPECT_EQ(OpenDataFile(506, Name("DADES\\FinquesV"), Variable()), 0);
  EXPECT_TRUE(Exists("DADES/FinquesV.dat"));
  EXPECT_EQ(Operations(), (std::vector<uint16_t>{0, 14, 0, 15, 15}));
  EXPECT_EQ(Double().calls[0].key.substr(0, Name("DADES\\FinquesV.dat").size() + 1),
            Name("DADES\\FinquesV.dat") + std::string(1, '\0'));
  EXPECT_EQ(Double().calls[0].dataLength, 5u) << "the owner name";
  const FileSlot& s = FileSlots()[40];
  EXPECT_EQ(s.fileNumber, 506);
  EXPECT_EQ(s.recordLength, 20);
  EXPECT_EQ(s.keyValue, std::string(4, '\0'));
  EXPECT_EQ(s.keyNumber, 0);
  EXPECT_EQ(s.lockMode, 0);
  for (uint8_t b : record_) ASSERT_EQ(b, 0xAB) << "opening does not touch the record variable";

  // The same number again: 1002, the first binding stays.
  uint8_t other[64];
  EXPECT_EQ(OpenDataFile(506, Name("DADES\\Other"), {other, sizeof other, 0}), kStatusAlreadyOpen);
  EXPECT_EQ(FileSlots()[40].recordVariable, record_);
  EXPECT_EQ(FileSlots()[39].fileNumber, 0);
}

TEST_F(DataFilesTest, FileNumberZeroIsRefusedAsAlreadyOpen) {
  // Free slots hold number 0, so the number can never be claimed: binding a
  // file to it would leave a slot that looks free and a file that is open.
  WriteDictionary("FinquesV", TestFileDescription());
  std::filesystem::create_directories(dir_.Path() + "DADES");
  EXPECT_EQ(OpenDataFile(0, Name("DADES\\FinquesV"), Variable()), kStatusAlreadyOpen);
  EXPECT_TRUE(Double().calls.empty()) << "nothing reaches the record manager";
  EXPECT_EQ(FindSlot(506), -40) << "every slot still free";
}

TEST_F(DataFilesTest, AFullTableRefusesAFortyFirstFile) {
  for (int16_t i = 1; i <= kLastSlot; ++i)
    FileSlots()[static_cast<std::size_t>(i)].fileNumber = static_cast<int16_t>(1000 + i);
  EXPECT_EQ(OpenDataFile(506, Name("DADES\\FinquesV"), Variable()), kStatusNoFreeSlot);
  EXPECT_TRUE(Double().calls.empty());
  ResetFileSlotsForTesting();
}

TEST_F(DataFilesTest, ADamagedOrMissingDictionaryFailsTheCreateAndLeavesNoFileBehind) {
  const std::string good = TestFileDescription();
  struct Case {
    std::string label;
    std::optional<std::string> dictionary;  // the file's bytes; none: no file
  };
  const Case cases[] = {
      {"missing", std::nullopt},
      {"empty", ""},
      {"one byte", "\x10"},
      {"length over the file", U16(static_cast<uint16_t>(good.size())) + good.substr(0, 20)},
      {"length zero", U16(0) + good},
      {"length over the buffer", U16(3000) + good},
      {"garbage", U16(40) + std::string(40, '\xFF')},
  };
  std::filesystem::create_directories(dir_.Path() + "DADES");
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir_.Path() + "ddf");
    if (c.dictionary) dir_.Write("ddf/Bad.xdf", *c.dictionary);
    const int16_t status = TryOpenDataFile(506, Name("DADES\\Bad"), Variable(), true);
    EXPECT_NE(status, 0) << c.label;
    EXPECT_NE(status, 12) << c.label << ": the create was not even tried";
    EXPECT_EQ(FindSlot(506), -40) << c.label << ": the slot is given back";
    EXPECT_FALSE(Exists("DADES/Bad.dat")) << c.label;
    EXPECT_EQ(Exists("ddf/Bad.xdf"), c.dictionary.has_value()) << c.label;
  }
}

TEST_F(DataFilesTest, RecordsThatDoNotFitTheVariableAreRefused) {
  WriteDictionary("Short", TestFileDescription());
  std::filesystem::create_directories(dir_.Path() + "DADES");
  struct Case {
    int32_t capacity, minimum;
    int16_t status;
  };
  const Case cases[] = {
      {64, 21, kStatusRecordLengthMismatch}, {19, 0, kStatusRecordLengthMismatch}, {20, 20, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(TryOpenDataFile(507, Name("DADES\\Short"), {record_, c.capacity, c.minimum}, true),
              c.status);
    ResetFiles();
  }
  // Without createMissing a missing file is only reported.
  EXPECT_EQ(TryOpenDataFile(507, Name("DADES\\Absent"), Variable(), false), 12);
  EXPECT_FALSE(Exists("DADES/Absent.dat"));
}

TEST_F(DataFilesTest, AFileHeldByAnotherClientIsWaitedFor) {
  int opens = 0;
  Double().answer = [&opens](uint16_t operation, char* data, uint32_t* length, char*, uint8_t) {
    if (operation == 0) return static_cast<int16_t>(++opens < 3 ? 85 : 0);
    // The description: 20-byte records, one 4-byte key.
    const std::string d = Description(20, {{{1, 4}}});
    std::memcpy(data, d.data(), d.size());
    *length = static_cast<uint32_t>(d.size());
    return int16_t{0};
  };
  EXPECT_EQ(TryOpenDataFile(506, Name("DADES\\Busy"), Variable(), true), 0);
  EXPECT_EQ(pauses_, (std::vector<int32_t>{3000, 3000}));
}

TEST_F(DataFilesTest, TheFailureMessageIsInTheSessionLanguage) {
  struct Case {
    std::string language, text;
  };
  const Case cases[] = {
      {"SPA", "NO SE PUEDE ACCEDER AL FICHERO "},
      {"GLG", "NOM SE PODE ACEDER AO FICHEIRO "},
      {"OCI", std::string("NON SE PÒT ACCEDIR ATH FICHÈR "_cp)},
      {"CAT", "NO ES POT ACCEDIR AL FITXER "},
      {"   ", "NO ES POT ACCEDIR AL FITXER "},
  };
  for (const Case& c : cases) {
    Session().language = c.language;
    EXPECT_EQ(OpeningFailureMessage("C:\\T\\DADES\\X", 46), c.text + "C:\\T\\DADES\\X (46)");
  }
}

TEST_F(DataFilesTest, APermissionRefusalSaysSoAndNamesTheLockFile) {
  Session().language = "CAT";
  const std::string name = "C:\\T\\DADES\\X";
  EXPECT_EQ(OpeningFailureMessage(name, 94), "NO ES POT ACCEDIR AL FITXER " + name + " (94): " +
                                                 std::string("SENSE PERMÍS D'ESCRIPTURA A "_cp) +
                                                 DataFilePath(name) + "-lock");
  EXPECT_EQ(OpeningFailureMessage(name, 2), "NO ES POT ACCEDIR AL FITXER " + name + " (2)");
}

// The failure path, in a child process: the backend's input wait shows what
// is on the screen when the job waits for its key.
void PrintRowTwelveAndPressAKey(ScreenState& screen, int timeoutMs) {
  if (timeoutMs == 0) return;  // only a look: no key is waiting
  for (int row = 10; row <= 14; ++row) std::fprintf(stderr, "[%s]\n", ScreenRowText(row).c_str());
  std::fprintf(stderr, "beeps %d\n", screen.beeps);
  screen.input.push_back(InputEvent{});
}

TEST_F(DataFilesTest, AnOpeningFailureShowsTheMessageWaitsForAKeyAndEndsTheJob) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::filesystem::create_directories(dir_.Path() + "DADES");
  dir_.Write("DADES/FinquesV.dat", "not a record file");
  EXPECT_EXIT(
      {
        Screen().backend.waitInput = &PrintRowTwelveAndPressAKey;
        OpenDataFile(506, "DADES\\FinquesV", Variable());
      },
      ::testing::ExitedWithCode(kOpeningFailureExitCode),
      "NO ES POT ACCEDIR AL FITXER DADES\\\\FinquesV \\(2\\).*beeps 1");
  // Keys typed before the message are discarded; an input that has ended
  // ends the job all the same, with the failure's exit code.
  EXPECT_EXIT(
      {
        StartHeadlessConsole({InputEvent{}, InputEvent{}});
        OpenDataFile(506, "DADES\\FinquesV", Variable());
      },
      ::testing::ExitedWithCode(kOpeningFailureExitCode), "");
}

}  // namespace
}  // namespace kestrova::storagetest
