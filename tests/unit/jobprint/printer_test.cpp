// What the print program makes of the printing system's answers, the
// office's printer settings, its texts in the session language, and its
// command line.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "cups_printer.h"
#include "messages.h"
#include "outputs.h"
#include "platform/codepage.h"
#include "session/session.h"
#include "support/temp_dir.h"

namespace kestrova::jobprint {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh session in the test's directory: JOBROOT and JOBTMP there, the
// workstation's language and printer section as given.
class PrintSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("JOBROOT", tmp_.Path());
    env_.Set("JOBTMP", tmp_.Path() + "SESSIO/");
    ResetPrintSessionForTesting();
  }
  void TearDown() override { ResetPrintSessionForTesting(); }

  void Workstation(const std::string& language, const std::string& printer) {
    tmp_.Write("SESSIO/TarnTerm.ini", "[Sistema]\r\nIdioma=" + language + "\r\n" + printer);
    tmp_.Write("LOCALE/KESTROVA.LNG",
               Utf8ToCp850("\"Pàgina\",\"Páxina\",\"Pagina\",\"Página\"\r\n"
                           "\"LA IMPRESSORA NO EXISTEIX:\",\"A IMPRESORA NON EXISTE:\",\"L'IMPRIMENTA EXISTÍS PAS:\","
                           "\"LA IMPRESORA NO EXISTE:\"\r\n"));
    LoadPrintSession();
  }

  testing::TempDir tmp_;
  testing::ScopedEnvironment env_;
};

TEST_F(PrintSessionTest, QueueProblemsAreNamed) {
  Workstation("CAT", "");
  const ProgramOutput running{0, "scheduler is running\n"};
  const struct {
    const char* name;
    ProgramOutput scheduler;
    ProgramOutput lpstat;
    std::string expected;  // UTF-8; empty: no problem
  } cases[] = {
      {"idle queue", running, {0, "printer kpdf is idle.  enabled since Tue Dec  8 12:19:49 2026\n"}, ""},
      {"printing queue", running, {0, "printer kpdf now printing kpdf-3.  enabled since Tue\n"}, ""},
      {"unknown queue", running, {1, "lpstat: Invalid destination name in list \"kpdf\".\n"},
       "LA IMPRESSORA NO EXISTEIX: kpdf"},
      {"stopped queue", running, {0, "printer kpdf disabled since Tue Dec  8 12:19:49 2026 -\n\treason unknown\n"},
       "LA IMPRESSORA ESTÀ ATURADA: kpdf"},
      {"no server", {1, "scheduler is not running\n"}, {1, "lpstat: Invalid destination name in list \"kpdf\".\n"},
       "EL SERVIDOR D'IMPRESSIÓ (CUPS) NO RESPON"},
      {"no client", {-1, ""}, {-1, ""}, "NO HI HA SISTEMA D'IMPRESSIÓ (CUPS) PER A LA IMPRESSORA kpdf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Cp850ToUtf8(QueueProblem("kpdf", c.scheduler, c.lpstat)), c.expected) << c.name;
  }
}

TEST_F(PrintSessionTest, ReasonsAndViewerSpeakTheSessionLanguage) {
  Workstation("SPA", "");
  EXPECT_EQ(Cp850ToUtf8(QueueProblem("x", {0, "scheduler is running"}, {1, "Invalid destination"})),
            "LA IMPRESORA NO EXISTE: x");
  PrintPage page;
  EXPECT_EQ(ViewerLines(page, 3, 7, 0, 0, 2, 40)[1].find(" Página 3/7 "), 0u);
  // A text the catalogue lacks stays Catalan.
  EXPECT_EQ(Cp850ToUtf8(Say("LA IMPRESSORA ESTÀ ATURADA:"_cp)), "LA IMPRESSORA ESTÀ ATURADA:");
}

TEST_F(PrintSessionTest, PrinterSettingsFromTheInstallation) {
  const struct {
    const char* name;
    std::string workstation;  // [Impressora] lines of TarnTerm.ini
    std::string suite;        // of Tarn.ini
    PrinterSettings expected;
  } cases[] = {
      {"defaults", "", "", {"A4", 1, true, false}},
      {"the installation's", "", "Paper=Letter\r\nCopies=2\r\nDobleCara=N\r\n", {"Letter", 2, false, false}},
      {"the workstation's first", "Copies=3\r\nNomesText=S\r\n", "Copies=2\r\nPaper=A5\r\n", {"A5", 3, true, true}},
      {"copies kept in range", "Copies=0\r\n", "", {"A4", 1, true, false}},
      {"many copies", "Copies=500\r\n", "", {"A4", 99, true, false}},
  };
  for (const auto& c : cases) {
    tmp_.Write("SESSIO/TarnTerm.ini", "[Sistema]\r\nIdioma=CAT\r\n[Impressora]\r\n" + c.workstation);
    tmp_.Write("Tarn.ini", "[Impressora]\r\n" + c.suite);
    ResetPrintSessionForTesting();
    LoadPrintSession();
    const PrinterSettings s = ReadPrinterSettings();
    EXPECT_EQ(s.paper, c.expected.paper) << c.name;
    EXPECT_EQ(s.copies, c.expected.copies) << c.name;
    EXPECT_EQ(s.duplexLetters, c.expected.duplexLetters) << c.name;
    EXPECT_EQ(s.textOnly, c.expected.textOnly) << c.name;
  }
}

TEST(JobprintQueue, DuplexOnlyWhenTheQueueOffersIt) {
  const struct {
    const char* lpoptions;  // what lpoptions said of the queue
    bool duplex;
  } cases[] = {
      // The driver's options (lpoptions -p QUEUE -l).
      {"PageSize/Media Size: *A4 Letter\nDuplex/2-Sided Printing: *None DuplexNoTumble DuplexTumble\n", true},
      {"PageSize/Media Size: *A4 Letter\n", false},
      {"Duplex/2-Sided Printing: *None\n", false},
      {"", false},
      // The server's attributes (lpoptions -p QUEUE), which also come
      // through a local socket: the duplex bit 0x0010 of printer-type.
      {"copies=1 device-uri=cups-pdf:/ printer-type=8450140 printer-uri-supported=ipp://localhost/printers/kdup\n",
       true},
      {"copies=1 device-uri=cups-pdf:/ printer-type=8450124 printer-uri-supported=ipp://localhost/printers/kpdf\n",
       false},
      {"printer-type=16", true},
      {"printer-type=15 printer-info=duplex", false},
      {"printer-type=", false},
      {"printer-type=x16", false},
      {"old-printer-type=16", false},
      {"lpoptions: Unable to get PPD file for kdup: No printer-uri found\n", false},
  };
  for (const auto& c : cases) EXPECT_EQ(QueueHasDuplex(c.lpoptions), c.duplex) << c.lpoptions;
}

TEST(JobprintQueue, LpGetsTheSettingsAndTheRendering) {
  PrinterSettings s;
  s.copies = 2;
  s.paper = "A4";
  auto joined = [](const std::vector<std::string>& args) {
    std::string out;
    for (const auto& a : args) out += "[" + a + "]";
    return out;
  };
  const std::string pdf = joined(LpArguments("office", "KESTROVA Cartes 01/03/2026", s, true, false, "/t/x.pdf"));
  EXPECT_EQ(pdf, "[-d][office][-t][KESTROVA Cartes 01/03/2026][-n][2][-o][media=A4][-o][sides=two-sided-long-edge]"
                 "[-o][document-format=application/pdf][-o][pdftops-renderer=pdftops][--][/t/x.pdf]");
  const std::string text = joined(LpArguments("lx300", "KESTROVA Informe", PrinterSettings(), false, true, "x.prn"));
  EXPECT_NE(text.find("[sides=one-sided]"), std::string::npos);
  EXPECT_NE(text.find("[document-format=text/plain]"), std::string::npos);
  EXPECT_EQ(text.find("application/pdf"), std::string::npos);
}

// The program itself: its command line, and what it leaves for the job.
struct ProgramRun {
  int code;
  std::string output;
};

ProgramRun RunJobprint(const std::string& arguments) {
  const char* binary = std::getenv("KESTROVA_BINARY_DIR");
  const std::string command = std::string(binary != nullptr ? binary : ".") + "/jobprint " + arguments + " 2>/dev/null";
  ProgramRun run{-1, ""};
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST_F(PrintSessionTest, CommandLine) {
  ASSERT_NE(std::getenv("KESTROVA_BINARY_DIR"), nullptr);
  Workstation("CAT", "");
  const ProgramRun help = RunJobprint("--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.output.find("Usage: jobprint"), std::string::npos);
  EXPECT_NE(help.output.find("--device"), std::string::npos);
  const ProgramRun version = RunJobprint("--version");
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.output.rfind("jobprint ", 0), 0u) << version.output;
  EXPECT_EQ(RunJobprint("--bogus").code, 2);
  EXPECT_EQ(RunJobprint("--device").code, 2);

  // A kept script printed again on another device; the job is told where.
  const std::string script = tmp_.Write("SESSIO/jobprint.tmp", "DEVICEPANTALLA\r\n 1 ,again, 1 \r\n");
  EXPECT_EQ(RunJobprint("--device copia.txt '" + script + "'").code, 0);
  EXPECT_EQ(ReadFile(tmp_.Path() + "SESSIO/copia.txt"), "again\n");
  EXPECT_EQ(ReadFile(tmp_.Path() + "SESSIO/jobprint.msg"), "IMPRESSI\xE0 DESADA A " + tmp_.Path() + "SESSIO/copia.txt\r\n");
  // The script's own device when none is named: the screen, here the
  // standard output (no terminal).
  const ProgramRun shown = RunJobprint("'" + script + "'");
  EXPECT_EQ(shown.code, 0);
  EXPECT_EQ(shown.output, "again\n");

  // A file that cannot be written: the reason for the job, the script kept.
  EXPECT_EQ(RunJobprint("--device /no/such/dir/x.txt '" + script + "'").code, 1);
  EXPECT_EQ(ReadFile(tmp_.Path() + "SESSIO/jobprint.msg"), "NO ES POT CREAR EL FITXER /no/such/dir/x.txt\r\n");
  EXPECT_EQ(ReadFile(script), "DEVICEPANTALLA\r\n 1 ,again, 1 \r\n");
  // A script that is not there.
  EXPECT_EQ(RunJobprint("'" + tmp_.Path() + "SESSIO/none.tmp'").code, 1);
}

}  // namespace
}  // namespace kestrova::jobprint
