// What the tests of the revision form share: the installation's own files
// read from the source tree, and a fresh session on the job's form.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/codepage.h"
#include "platform/screen.h"
#include "revision/parameters.h"
#include "session/job_form.h"
#include "session/language.h"
#include "session/session.h"
#include "windows/windows.h"

namespace kestrova::testing {

// An installation file, from its UTF-8 source into the code page the job
// reads.
inline std::string InstallFile(const std::string& relative) {
  const char* dir = std::getenv("KESTROVA_SOURCE_DIR");
  const std::string here = __FILE__;
  const std::string source = dir != nullptr ? dir : here.substr(0, here.rfind("/tests/"));
  std::ifstream in(source + "/install/" + relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return Utf8ToCp850(text.str());
}

// Session, catalogue, form, screen, windows and parameters as a new job
// KESTROVA finds them, in Catalan with the default colours, its root and
// temporary files in `dir`.  The form itself is not read yet.
inline void StartRevisionSession(const std::string& dir) {
  ResetSessionForTesting();
  ResetLanguageForTesting();
  ResetJobFormForTesting();
  ResetScreenForTesting();
  ResetWindowsForTesting();
  ResetRevisionParametersForTesting();
  Session().jobRoot = dir;
  Session().jobTmp = dir;
  Session().colourTable = ParseColourText(kDefaultColourText);
  Session().language = "CAT";
  JobName() = "KESTROVA";
}

}  // namespace kestrova::testing
