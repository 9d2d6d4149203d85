#include "session/language.h"

#include <functional>
#include <map>

#include "platform/files.h"
#include "session/list_input.h"
#include "session/session.h"

namespace kestrova {
namespace {

struct CatalogueRecord {
  std::string catalan, galician, occitan, spanish;
};

struct LanguageState {
  std::string catalogueName;  // kept from the first call on
  // The catalogue as read by the first translation of the session, by its
  // Catalan items; of two records with the same one, the first.
  bool catalogueRead = false;
  std::map<std::string, CatalogueRecord, std::less<>> catalogue;
};

LanguageState& Language() {
  static LanguageState state;
  return state;
}

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

std::string_view ItemFor(const CatalogueRecord& record, std::string_view language,
                         std::string_view text) {
  if (language == "SPA") return record.spanish;
  if (language == "GLG") return record.galician;
  if (language == "OCI") return record.occitan;
  return text;
}

// Reads the catalogue once: a missing one is created empty, and one that
// cannot be read translates nothing for the rest of the session.
void ReadCatalogue(LanguageState& state) {
  state.catalogueRead = true;
  const std::string path = CataloguePath();
  std::string contents;
  if (!PathExists(path)) WriteWholeFile(path, "");
  if (!ReadWholeFile(path, contents)) return;
  ListInput in = MakeListInput(contents);
  CatalogueRecord record;
  while (ReadRecord(in, record)) state.catalogue.emplace(record.catalan, record);
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
  LanguageState& state = Language();
  if (state.catalogueName.empty()) state.catalogueName = JobName();
  // 3-4. Read once per session, whatever the language.
  if (!state.catalogueRead) ReadCatalogue(state);
  // 5. The first record whose Catalan item is the text.
  const auto found = state.catalogue.find(text);
  if (found == state.catalogue.end()) return std::string(text);
  return std::string(ItemFor(found->second, language, text));
}

std::string TranslateWithCatalogue(std::string_view catalogue, std::string_view text,
                                   std::string_view language) {
  ListInput in = MakeListInput(catalogue);
  CatalogueRecord record;
  while (ReadRecord(in, record)) {
    if (record.catalan == text) return std::string(ItemFor(record, language, text));
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
