#include "job/driver.h"

#include <cstdio>
#include <cstring>

#include "calendar/dates.h"
#include "calendar/numeric.h"
#include "console/calculator.h"
#include "console/calendar_popup.h"
#include "console/form_input.h"
#include "console/keyboard.h"
#include "documents/print_channel.h"
#include "job/installation_check.h"
#include "job/load_session.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/screen.h"
#include "platform/terminal.h"
#include "revision/lookup_lists.h"
#include "revision/parameters.h"
#include "revision/records.h"
#include "revision/run.h"
#include "session/job_form.h"
#include "session/language.h"
#include "session/session.h"
#include "storage/data_files.h"
#include "storage/record_interface.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

constexpr const char* kUsage =
    "Usage: kestrova [--check | --version | --help]\n"
    "\n"
    "Revises the rents of let units: the suite's menu program starts it with\n"
    "JOBROOT, JOBEXE and JOBTMP set; the operator fills in the revision form.\n"
    "\n"
    "  --check     check the installation: print what the job finds (session,\n"
    "              directories, form) and exit; non-zero when something is wrong\n"
    "  --version   print the version and exit\n"
    "  --help      print this help and exit\n";

// A directory given relative to where the job was started would point
// elsewhere once JOBROOT is the current directory, so the directories are
// made absolute first.
void AnchorSessionDirectories() {
  SessionState& s = Session();
  s.jobRoot = AbsoluteJobPath(s.jobRoot);
  s.jobExe = AbsoluteJobPath(s.jobExe);
  s.jobTmp = AbsoluteJobPath(s.jobTmp);
}

std::string Quoted(std::string_view cp850) { return "\"" + Cp850ToUtf8(cp850) + "\""; }

}  // namespace

void PrepareRevisionForm() {
  // The look-up lists of the form read the job's files.
  FormInputHooks().listLine = RevisionListLine;
  FormInputHooks().handOver = HandOverListChoice;
  InstallRevisionFormHooks();
  SelectColours("n");
  ClearRectangle(1, 1, ScreenRows(), ScreenColumns());
}

void PlaceScreenOneDefaults() {
  const std::string today = DateDigits(Session().sessionDate);
  struct Default {
    int field;
    std::string value;
  };
  const Default defaults[] = {
      {1, "L"},   {2, today}, {3, "1"}, {4, "1"}, {5, "0"},
      {6, "9999"}, {7, "9999"}, {8, "2"}, {11, today},
  };
  for (const Default& d : defaults) PlaceFieldValue(1, d.field, d.value);
}

void PrepareJob() {
  // 2. Who and where the job is.
  LoadSession();
  // 3. The suite's root is the current directory: the help files are
  //    opened without it.
  if (!Session().jobRoot.empty()) {
    AnchorSessionDirectories();
    if (!ChangeDirectory(Session().jobRoot)) {
      FatalError(Session().jobRoot, "the suite's root directory cannot be made current");
    }
  }
  // 4. The job's name names its form and its message catalogue.
  JobName() = "KESTROVA";
  //    One job per session directory: a second one would overwrite the
  //    first one's print script.
  if (!ClaimSessionDirectory()) {
    FatalError(Session().jobTmp, TranslateText("UN ALTRE TREBALL JA FA SERVIR AQUEST DIRECTORI DE SESSIÓ"_cp));
  }
  // 5. The form, with its texts in the session language.
  LoadJobForm();
  // 6. The defaults of screen 1.
  PlaceScreenOneDefaults();
}

void RunJob() {
  // The terminal (or the headless console) first, so that every way out,
  // FatalError included, leaves it as it was found.
  StartConsole();
  // The print program's viewer takes the terminal while the job waits.
  ConsoleHandOver() = {SuspendTerminal, ResumeTerminal};
  // 1. The cursor stays hidden until a field is edited.
  SetCursorVisible(false);
  PrepareJob();
  // Alt-X and Alt-C open the calculator and the calendar over every screen
  // of the job from here on.
  RegisterHotKeyPopups(OpenCalculator, OpenCalendar);
  // 7. The six data files, in the catalogue's order.
  OpenJobFiles();
  // 8. The revision passes, until the operator leaves the form, with the
  //    revision's checks, field descriptions and look-up lists.
  PrepareRevisionForm();
  RevisionRun();
  CloseJob();
}

void CloseJob() {
  // Every byte file the job writes is opened and closed per operation, so
  // the record manager's files are all that is left open here.
  ResetFiles();
  EndProcess(0);
}

std::string InstallationReport() {
  const SessionState& s = Session();
  std::string out;
  auto line = [&out](const std::string& key, const std::string& value) {
    out += key + ": " + value + "\n";
  };
  line("JOBROOT", Cp850ToUtf8(s.jobRoot));
  line("JOBEXE", Cp850ToUtf8(s.jobExe));
  line("JOBTMP", Cp850ToUtf8(s.jobTmp));
  line("terminal", Cp850ToUtf8(s.terminalDirectory));
  line("title", Quoted(s.title));
  line("menu_option", Cp850ToUtf8(s.menuOption));
  line("language", Quoted(s.language));
  line("platform", s.platform);
  line("session_date", UnpackDigits(s.sessionDate));
  line("output", Cp850ToUtf8(s.output));
  std::string colours;
  for (const ColourPair& pair : s.colourTable) {
    if (!colours.empty()) colours += ' ';
    colours += std::to_string(pair.foreground) + "/" + std::to_string(pair.background);
  }
  line("colours", colours);
  for (std::size_t i = 0; i < s.letterhead.size(); ++i) {
    line("letterhead" + std::to_string(i + 1), Cp850ToUtf8(s.letterhead[i]));
  }
  const JobFormState& form = JobForm();
  line("form", NativePath(JobFormPath()));
  line("screens", std::to_string(form.screenCount));
  line("fields_screen1", std::to_string(form.screens.empty() ? 0 : form.screens[0].fieldCount));
  line("lists", std::to_string(form.listCount));
  if (!form.screens.empty()) {
    const FormScreen& screen = form.screens[0];
    for (int16_t j = 0; j < screen.fieldCount; ++j) {
      line("field1." + std::to_string(j + 1), Quoted(screen.fields[static_cast<std::size_t>(j)].value));
    }
  }
  const int32_t records = CountCatalogueRecords();
  line("catalogue", NativePath(CataloguePath()) +
                        (records < 0 ? " (missing)" : " (" + std::to_string(records) + " records)"));
  return out;
}

std::string DataFileReport(bool& allOpen) {
  std::string out;
  allOpen = true;
  for (const JobFile& file : JobFileCatalogue()) {
    // Looked at, never created: the check leaves the installation as it is.
    const std::string name = Session().jobRoot + std::string(file.name);
    const int16_t status = TryOpenDataFile(file.number, name, JobFileVariable(file), false);
    char key[16];
    std::snprintf(key, sizeof key, "file.%03d", file.number);
    out += std::string(key) + ": " + NativePath(DataFilePath(name)) + " status " +
           std::to_string(status) + " records " + std::to_string(RecordCount(file.number));
    // A missing file is no problem when the job will create it at start
    // from its dictionary, as it does with every file it cannot find.
    const bool createdAtStart = status == 12 && MissingFileCanBeCreated(name);
    if (createdAtStart) out += " (missing: created at start from " + NativePath(DictionaryPath(name)) + ")";
    if (status != 0 && !createdAtStart) allOpen = false;
    out += "\n";
  }
  ResetFiles();
  return out;
}

int RunInstallationCheck() {
  // Without a root nothing else can be found: say which variable is
  // missing rather than which file.
  const std::string root = GetEnvironment("JOBROOT");
  if (root.empty() || !IsDirectory(root)) {
    std::printf("problem: %s\n", root.empty() ? "JOBROOT is not set: the suite's root (Tarn.ini, FORMS, DADES) "
                                                "cannot be found"
                                              : ("JOBROOT: no such directory: " + Cp850ToUtf8(root)).c_str());
    return 1;
  }
  PrepareJob();
  bool allOpen = false;
  std::string report = InstallationReport() + DataFileReport(allOpen);
  const std::vector<std::string> problems = SessionProblems();
  for (const std::string& problem : problems) report += "problem: " + problem + "\n";
  std::fputs(report.c_str(), stdout);
  std::fflush(stdout);
  return allOpen && problems.empty() ? 0 : 1;
}

int JobMain(int argc, char** argv) {
  if (argc > 1) {
    const char* option = argv[1];
    if (std::strcmp(option, "--version") == 0) {
      std::printf("kestrova %s\n", KESTROVA_VERSION);
      return 0;
    }
    if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(option, "--check") == 0 && argc == 2) return RunInstallationCheck();
    std::fprintf(stderr, "kestrova: unknown option '%s'\n\n%s", option, kUsage);
    return 2;
  }
  RunJob();
}

}  // namespace kestrova
