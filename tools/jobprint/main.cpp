// jobprint: the suite's print program.  The job writes its print script
// ("jobprint.tmp" in JOBTMP) and runs this program on it; the script's
// device record says where the pages go:
//   a name ending in ".txt"  that text file (UTF-8, form feeds between pages)
//   a name ending in ".pdf"  that PDF file (A4, monospaced)
//   "PANTALLA" or nothing    a full-screen viewer in the terminal
//   any other name           the CUPS queue of that name (cups_printer.h)
// Relative file names are taken in the script's directory (JOBTMP).
//
// Exit code 0 when the pages reached their device, 1 otherwise, 2 for a
// command line it cannot read.  What happened is left for the job in
// "jobprint.msg" beside the script (one line, code page 850, the session
// language): the reason printing failed, or the full path of the file
// written; a failure also goes to the standard error.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cups_printer.h"
#include "layout.h"
#include "messages.h"
#include "outputs.h"
#include "platform/blanks.h"
#include "session/session.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace {

using namespace kestrova::jobprint;
using kestrova::operator""_cp;

constexpr const char* kUsage =
    "Usage: jobprint [--device NAME] [SCRIPT]\n"
    "       jobprint --help | --version\n"
    "\n"
    "Prints the job's print script (default $JOBTMP/jobprint.tmp) on the device\n"
    "its DEVICE record names, or on NAME:\n"
    "  FILE.txt   a text file (a relative name is taken beside the script)\n"
    "  FILE.pdf   a PDF file (A4; the report's condensed pages in landscape)\n"
    "  PANTALLA   the screen (the standard output without a terminal)\n"
    "  other      the CUPS printer queue of that name, sent as PDF through lp\n"
    "\n"
    "The script is never removed, so a kept script can be printed again:\n"
    "  jobprint --device informe.pdf $JOBTMP/jobprint.tmp\n"
    "Exit code 0 when printed, 1 when not (the reason on the standard error\n"
    "and in jobprint.msg beside the script), 2 for a wrong command line.\n";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// What the job shows after the run, beside the script.
void LeaveMessage(const std::string& directory, const std::string& text) {
  kestrova::WriteWholeFile(kestrova::Utf8ToCp850(directory) + "jobprint.msg", text + "\r\n");
}

int Fail(const std::string& directory, const std::string& reason) {
  std::fprintf(stderr, "jobprint: %s\n", kestrova::Cp850ToUtf8(reason).c_str());
  LeaveMessage(directory, reason);
  return 1;
}

int WroteFile(const std::string& directory, const std::string& path) {
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(path, error).lexically_normal();
  LeaveMessage(directory, Say("IMPRESSIÓ DESADA A"_cp) + " " + kestrova::Utf8ToCp850(error ? path : full.string()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scriptPath;
  std::string deviceOverride;
  bool hasDeviceOverride = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("jobprint %s\n", KESTROVA_VERSION);
      return 0;
    }
    if (arg == "--device" || arg == "-d") {
      if (i + 1 >= argc) {
        std::fputs("jobprint: --device needs a device name\n", stderr);
        return 2;
      }
      deviceOverride = argv[++i];
      hasDeviceOverride = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "jobprint: unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    } else if (scriptPath.empty()) {
      scriptPath = arg;
    } else {
      std::fprintf(stderr, "jobprint: one script at a time\n%s", kUsage);
      return 2;
    }
  }
  LoadPrintSession();
  if (scriptPath.empty()) {
    const char* tmp = std::getenv("JOBTMP");
    if (tmp == nullptr || *tmp == '\0') {
      std::fputs("jobprint: JOBTMP is not set and no script was named\n", stderr);
      return 2;
    }
    scriptPath = kestrova::NativePath(kestrova::Utf8ToCp850(tmp));
    if (scriptPath.back() != '/') scriptPath += '/';
    scriptPath += "jobprint.tmp";
  }
  const std::string directory = DirectoryOf(scriptPath);
  std::remove((directory + "jobprint.msg").c_str());

  // The device: the script's first device record, unless one is named.
  std::string device = deviceOverride;
  if (!hasDeviceOverride) {
    std::string named;
    if (!ReadScriptDevice(scriptPath, named)) {
      return Fail(directory, Say("NO ES POT LLEGIR EL GUIÓ D'IMPRESSIÓ"_cp) + " " + kestrova::Utf8ToCp850(scriptPath));
    }
    device = kestrova::Cp850ToUtf8(named);
  }
  device = std::string(kestrova::TrimBlanks(device));
  const std::string lower = Lower(device);
  const bool isFile = lower.size() > 4 && (lower.ends_with(".txt") || lower.ends_with(".pdf"));
  if (isFile) {
    const std::string path = device.front() == '/' ? device : directory + device;
    const std::string problem = lower.ends_with(".pdf") ? WritePdfFile(scriptPath, path) : WriteTextFile(scriptPath, path);
    return problem.empty() ? WroteFile(directory, path) : Fail(directory, problem);
  }
  if (lower.empty() || lower == "pantalla") {
    if (ViewOnTerminal(scriptPath).empty()) return 0;
    // Without a terminal (a pipe, a test) the pages go to the standard output.
    const std::string problem = WriteTextFile(scriptPath, "-");
    return problem.empty() ? 0 : Fail(directory, problem);
  }
  const std::string problem = PrintOnQueue(scriptPath, device, directory);
  return problem.empty() ? 0 : Fail(directory, problem);
}
