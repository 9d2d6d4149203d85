#include "cups_printer.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "messages.h"
#include "outputs.h"
#include "platform/blanks.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "session/session.h"

namespace kestrova::jobprint {
namespace {

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The installation's value of a printer key: the workstation first.
std::string PrinterValue(std::string_view key) {
  std::string value(TrimBlanks(ReadIniValue(Session().jobTmp + "TarnTerm.ini", "Impressora", key)));
  if (value.empty()) value = std::string(TrimBlanks(ReadIniValue(Session().jobRoot + "Tarn.ini", "Impressora", key)));
  return value;
}

bool IsYes(const std::string& value) { return !value.empty() && (value[0] == 'S' || value[0] == 's'); }
bool IsNo(const std::string& value) { return !value.empty() && (value[0] == 'N' || value[0] == 'n'); }

// The first line of a client's message, without the client's name.
std::string FirstLine(const std::string& output) {
  std::string line = output.substr(0, output.find('\n'));
  for (const char* client : {"lp: ", "lpstat: "}) {
    if (line.rfind(client, 0) == 0) line.erase(0, std::string(client).size());
  }
  return Utf8ToCp850(std::string(TrimBlanks(line)));
}

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%d/%m/%Y", &local);
  return text;
}

}  // namespace

PrinterSettings ReadPrinterSettings() {
  PrinterSettings s;
  const std::string paper = PrinterValue("Paper");
  if (!paper.empty()) s.paper = paper;
  const int32_t copies = DecimalValue(PrinterValue("Copies"));
  if (copies >= 1) s.copies = copies > 99 ? 99 : copies;
  s.duplexLetters = !IsNo(PrinterValue("DobleCara"));
  s.textOnly = IsYes(PrinterValue("NomesText"));
  return s;
}

ProgramOutput RunAndCollect(const std::string& program, const std::vector<std::string>& arguments) {
  ProgramOutput result;
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return result;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    return result;
  }
  if (pid == 0) {
    ::dup2(pipeEnds[1], STDOUT_FILENO);
    ::dup2(pipeEnds[1], STDERR_FILENO);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    // The clients' messages are read, so they must come in one language.
    ::setenv("LC_ALL", "C", 1);
    ::execvp(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipeEnds[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
    if (n > 0) {
      result.output.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeEnds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return result;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 127) result.code = WEXITSTATUS(status);
  return result;
}

std::string QueueProblem(const std::string& queue, const ProgramOutput& scheduler, const ProgramOutput& lpstat) {
  const std::string name = Utf8ToCp850(queue);
  if (scheduler.code == -1 || lpstat.code == -1) {
    return Say("NO HI HA SISTEMA D'IMPRESSIÓ (CUPS) PER A LA IMPRESSORA"_cp) + " " + name;
  }
  const std::string& out = lpstat.output;
  if (Contains(scheduler.output, "not running") || Contains(out, "Scheduler is not running") ||
      Contains(out, "Unable to connect")) {
    return Say("EL SERVIDOR D'IMPRESSIÓ (CUPS) NO RESPON"_cp);
  }
  if (lpstat.code != 0 || Contains(out, "Invalid destination") || Contains(out, "not found") ||
      Contains(out, "No destinations")) {
    return Say("LA IMPRESSORA NO EXISTEIX:"_cp) + " " + name;
  }
  if (Contains(out, " disabled")) return Say("LA IMPRESSORA ESTÀ ATURADA:"_cp) + " " + name;
  return std::string();
}

bool QueueHasDuplex(const std::string& lpoptions) {
  // The server's printer-type, among the queue's attributes.
  constexpr long kDuplexBit = 0x0010;
  constexpr std::string_view kPrinterType = "printer-type=";
  for (std::size_t at = lpoptions.find(kPrinterType); at != std::string::npos;
       at = lpoptions.find(kPrinterType, at + 1)) {
    if (at > 0 && lpoptions[at - 1] != ' ' && lpoptions[at - 1] != '\n') continue;
    const char* digits = lpoptions.c_str() + at + kPrinterType.size();
    char* end = nullptr;
    const long type = std::strtol(digits, &end, 10);
    if (end != digits && (type & kDuplexBit) != 0) return true;
  }
  // The driver's options.
  std::size_t start = 0;
  while (start < lpoptions.size()) {
    std::size_t end = lpoptions.find('\n', start);
    if (end == std::string::npos) end = lpoptions.size();
    const std::string line = lpoptions.substr(start, end - start);
    if (line.rfind("Duplex", 0) == 0 || line.rfind("sides", 0) == 0) {
      if (Contains(line, "DuplexNoTumble") || Contains(line, "two-sided-long-edge")) return true;
    }
    start = end + 1;
  }
  return false;
}

std::vector<std::string> LpArguments(const std::string& queue, const std::string& title, const PrinterSettings& settings,
                                     bool duplex, bool text, const std::string& file) {
  std::vector<std::string> args{"-d", queue, "-t", title, "-n", std::to_string(settings.copies),
                                "-o", "media=" + settings.paper};
  if (duplex) {
    args.insert(args.end(), {"-o", "sides=two-sided-long-edge"});
  } else {
    args.insert(args.end(), {"-o", "sides=one-sided"});
  }
  // The PDF's pages carry their own size and orientation.  Queues whose
  // driver takes PostScript get it from Poppler, which keeps the text as
  // text in a fraction of the size that drawing every glyph would take.
  if (text) {
    args.insert(args.end(), {"-o", "document-format=text/plain"});
  } else {
    args.insert(args.end(), {"-o", "document-format=application/pdf", "-o", "pdftops-renderer=pdftops"});
  }
  args.push_back("--");
  args.push_back(file);
  return args;
}

namespace {

// The server's attributes first: they answer over a local socket too, where
// the driver's options cannot be read.
bool QueuePrintsTwoSided(const std::string& queue) {
  return QueueHasDuplex(RunAndCollect("lpoptions", {"-p", queue}).output) ||
         QueueHasDuplex(RunAndCollect("lpoptions", {"-p", queue, "-l"}).output);
}

}  // namespace

std::string PrintOnQueue(const std::string& scriptPath, const std::string& queue, const std::string& workDirectory) {
  // 1. The queue must be there and running: a job sent to a stopped queue
  //    would wait there unseen.
  const std::string problem =
      QueueProblem(queue, RunAndCollect("lpstat", {"-r"}), RunAndCollect("lpstat", {"-p", queue}));
  if (!problem.empty()) return problem;

  // 2. The rendering the queue takes.
  const PrinterSettings settings = ReadPrinterSettings();
  MeasureSink measure;
  std::string file;
  if (settings.textOnly) {
    file = workDirectory + "jobprint.prn";
    const std::string failed = WriteTextFile(scriptPath, file);
    if (!failed.empty()) return failed;
    ScriptLayout layout(measure);
    FeedScriptFile(scriptPath, layout);
    layout.Finish();
  } else {
    file = workDirectory + "jobprint.prn.pdf";
    const std::string failed = WritePdfFile(scriptPath, file, &measure);
    if (!failed.empty()) return failed;
  }

  // 3. The job: the report has condensed pages; letters have none and go on
  //    both sides of the sheet when the queue can.
  const bool letters = measure.condensedPages == 0;
  const std::string title =
      Cp850ToUtf8("KESTROVA " + Say(letters ? "Cartes"_cp : "Informe"_cp) + " " + Today());
  const bool duplex = letters && settings.duplexLetters && QueuePrintsTwoSided(queue);
  const ProgramOutput lp = RunAndCollect("lp", LpArguments(queue, title, settings, duplex, settings.textOnly, file));
  // lp hands the file's contents to the server, which keeps its own copy.
  std::remove(file.c_str());
  if (lp.code == -1) return Say("NO HI HA SISTEMA D'IMPRESSIÓ (CUPS) PER A LA IMPRESSORA"_cp) + " " + Utf8ToCp850(queue);
  if (lp.code != 0) return Say("EL SERVIDOR D'IMPRESSIÓ HA REFUSAT LA FEINA:"_cp) + " " + FirstLine(lp.output);
  return std::string();
}

}  // namespace kestrova::jobprint
