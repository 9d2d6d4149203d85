#include "messages.h"

#include "job/load_session.h"
#include "platform/files.h"
#include "session/language.h"
#include "session/session.h"

namespace kestrova::jobprint {
namespace {

struct Catalogue {
  bool loaded = false;
  std::string text;  // the catalogue file, code page 850
};

Catalogue& PrintCatalogue() {
  static Catalogue catalogue;
  return catalogue;
}

}  // namespace

void LoadPrintSession() {
  Catalogue& c = PrintCatalogue();
  if (c.loaded) return;
  c.loaded = true;
  LoadSession();
  JobName() = "KESTROVA";
  // Read once and never created: the print program also runs by hand,
  // outside any installation, and must leave no catalogue behind.
  if (Session().language != "CAT" && !Session().jobRoot.empty()) ReadWholeFile(CataloguePath(), c.text);
}

std::string Say(std::string_view catalan) {
  const Catalogue& c = PrintCatalogue();
  if (!c.loaded || c.text.empty()) return std::string(catalan);
  return TranslateWithCatalogue(c.text, catalan, Session().language);
}

void ResetPrintSessionForTesting() {
  PrintCatalogue() = Catalogue();
  ResetSessionForTesting();
  ResetLanguageForTesting();
}

}  // namespace kestrova::jobprint
