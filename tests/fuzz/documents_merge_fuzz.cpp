// Letter templates and merge data files are written by users with a text
// editor: any bytes in either must merge without a crash, a hang, or a
// write anywhere but the print script.
//
// Input: two bytes giving where the template ends, one byte choosing the
// session language, then the template's bytes and the data file's.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "documents/letter_merge.h"
#include "documents/print_channel.h"
#include "platform/files.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string root = [] {
    char pattern[] = "/tmp/kestrova-fuzz-merge-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return std::string(made != nullptr ? made : "/tmp") + "/";
  }();
  if (size < 3) return 0;
  const std::size_t body = size - 3;
  const std::size_t split = body == 0 ? 0 : ((static_cast<std::size_t>(data[0]) << 8) | data[1]) % (body + 1);
  static const char* const kLanguages[] = {"CAT", "SPA", "GLG", "OCI", "ENG", "   "};
  const char* language = kLanguages[data[2] % 6];
  const std::string bytes(reinterpret_cast<const char*>(data) + 3, body);

  kestrova::Session().jobRoot = root;
  kestrova::Session().jobTmp = root;
  kestrova::Session().language = language;
  kestrova::MakeDirectories(root + "TEXTOS");
  kestrova::WriteWholeFile(root + "TEXTOS/F.txt", bytes.substr(0, split));
  // The template may include itself or the other one.
  kestrova::WriteWholeFile(root + "TEXTOS/G.txt", "@+F\r\n");
  kestrova::WriteWholeFile(root + "merge.tmp", bytes.substr(split));

  kestrova::OpenPrintJob("X");
  (void)kestrova::MergeTemplate("F", root + "merge.tmp", -1);
  (void)kestrova::MergeTemplate("G", "", -1);
  kestrova::ClosePrintJob();
  return 0;
}
