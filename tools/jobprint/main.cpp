// jobprint: the suite's print program.  The job writes its print script
// ("jobprint.tmp" in JOBTMP) and runs this program on it; the script's
// device record says where the pages go:
//   a name ending in ".txt"  that text file (UTF-8, form feeds between pages)
//   a name ending in ".pdf"  that PDF file (A4, monospaced)
//   "PANTALLA" or nothing    a full-screen viewer in the terminal
//   any other name           the CUPS printer of that name, through lp
// Relative file names are taken in the script's directory (JOBTMP).
//
//   jobprint [SCRIPT]        SCRIPT defaults to $JOBTMP/jobprint.tmp
//
// Exit code 0 when the pages reached their device, 1 otherwise (with the
// reason on the standard error).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "layout.h"
#include "outputs.h"
#include "platform/blanks.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/host.h"

namespace {

using namespace kestrova::jobprint;

int Fail(const std::string& message) {
  std::fprintf(stderr, "jobprint: %s\n", message.c_str());
  return 1;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}


std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

// The full path of a program found on PATH, or empty.
std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return dir + "/" + program;
  }
  return std::string();
}

int SendToPrinter(const PrintDocument& document, const std::string& printer, const std::string& directory) {
  const std::string lp = FindOnPath("lp");
  if (lp.empty()) {
    return Fail("no printing system (CUPS) is installed, so printer \"" + printer +
                "\" cannot be reached; set the output device to a .txt or .pdf file, or PANTALLA");
  }
  const std::string file = directory + "jobprint.prn";
  if (!WriteText(file, RenderText(document))) return Fail("cannot write " + file);
  const int code = kestrova::RunProgramAndWait(lp, {"-s", "-d", printer, file});
  if (code != 0) return Fail("lp could not print on \"" + printer + "\" (exit code " + std::to_string(code) + ")");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scriptPath;
  if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::puts("Usage: jobprint [SCRIPT]\nPrints the job's print script (default $JOBTMP/jobprint.tmp) on the device\n"
              "its DEVICE record names: FILE.txt, FILE.pdf, PANTALLA (the screen) or a CUPS printer.");
    return 0;
  }
  if (argc > 1) {
    scriptPath = argv[1];
  } else {
    const char* tmp = std::getenv("JOBTMP");
    if (tmp == nullptr || *tmp == '\0') return Fail("JOBTMP is not set and no script was named");
    scriptPath = kestrova::NativePath(kestrova::Utf8ToCp850(tmp));
    if (scriptPath.back() != '/') scriptPath += '/';
    scriptPath += "jobprint.tmp";
  }
  std::ifstream in(scriptPath, std::ios::binary);
  if (!in) return Fail("cannot read the print script " + scriptPath);
  std::stringstream contents;
  contents << in.rdbuf();
  const PrintDocument document = LayOutScript(contents.str());

  const std::string device(kestrova::TrimBlanks(kestrova::Cp850ToUtf8(document.device)));
  const std::string lower = Lower(device);
  const std::string directory = DirectoryOf(scriptPath);
  const bool isFile = lower.size() > 4 && (lower.ends_with(".txt") || lower.ends_with(".pdf"));
  if (isFile) {
    const std::string path = device.front() == '/' ? device : directory + device;
    if (lower.ends_with(".pdf")) {
      const std::string problem = WritePdf(document, path);
      return problem.empty() ? 0 : Fail(problem);
    }
    return WriteText(path, RenderText(document)) ? 0 : Fail("cannot write " + path);
  }
  if (lower.empty() || lower == "pantalla") {
    const std::string problem = ViewOnTerminal(document);
    if (problem.empty()) return 0;
    // Without a terminal (a pipe, a test) the pages go to the standard output.
    std::fputs(RenderText(document).c_str(), stdout);
    return 0;
  }
  return SendToPrinter(document, device, directory);
}
