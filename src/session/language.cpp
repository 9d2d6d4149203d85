#include "session/language.h"

#include "platform/files.h"
#include "session/list_input.h"
#include "session/session.h"

namespace kestrova {
namespace {

struct LanguageState {
  std::string catalogueName;  // kept from the first call on
};

LanguageState& Language() {
  static LanguageState state;
  return state;
}

struct CatalogueRecord {
  std::string catalan, galician, occitan, spanish;
};

// Reads the next whole record.  False at the end of the catalogue, also when
// it ends inside a record: a record cut short is not used.
bool ReadRecord(ListInput& in, CatalogueRecord& record) {
  if (ReadTextItem(in, record.catalan) != ItemStatus::kOk) return false;
  // The end right after the first item is the end of the catalogue.
  if (ListInputAtEnd(in)) return false;
  return ReadTextItem(in, record.galician) == ItemStatus::kOk &&
         ReadTextItem(in, record.occitan) == ItemStatus::kOk &&
         ReadTextItem(in, record.spanish) == ItemStatus::kOk;
}

}  // namespace

std::string& JobName() {
  static std::string name;
  return name;
}

void ResetLanguageForTesting() { Language() = LanguageState{}; }

std::string CataloguePath() {
  const std::string& name =
      Language().catalogueName.empty() ? JobName() : Language().catalogueName;
  return Session().jobRoot + "LOCALE\\" + name + ".LNG";
}

std::string TranslateText(std::string_view text) {
  // 1. Catalan is the job's own language: no file is touched.
  const std::string& language = Session().language;
  if (language == "CAT") return std::string(text);
  // 2. The catalogue keeps the name the job had at the first call.
  if (Language().catalogueName.empty()) Language().catalogueName = JobName();
  // 3-4. A missing catalogue is created empty; one that cannot be created
  //      translates nothing.
  const std::string path = CataloguePath();
  std::string contents;
  if (!PathExists(path)) WriteWholeFile(path, "");
  if (!ReadWholeFile(path, contents)) return std::string(text);
  // 5. The first record whose Catalan item is the text.
  return TranslateWithCatalogue(contents, text, language);
}

std::string TranslateWithCatalogue(std::string_view catalogue, std::string_view text,
                                   std::string_view language) {
  ListInput in = MakeListInput(catalogue);
  CatalogueRecord record;
  while (ReadRecord(in, record)) {
    if (record.catalan != text) continue;
    if (language == "SPA") return record.spanish;
    if (language == "GLG") return record.galician;
    if (language == "OCI") return record.occitan;
    break;
  }
  return std::string(text);
}

int32_t CountCatalogueRecords() {
  std::string contents;
  if (!ReadWholeFile(CataloguePath(), contents)) return -1;
  ListInput in = MakeListInput(contents);
  CatalogueRecord record;
  int32_t count = 0;
  while (ReadRecord(in, record)) ++count;
  return count;
}

}  // namespace kestrova
