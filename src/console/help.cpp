#include "console/help.h"

#include <fstream>
#include <string>

#include "console/keyboard.h"
#include "documents/print_channel.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/screen.h"
#include "session/session.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

constexpr char kHighlight = 30;
constexpr char kUnderline = 31;
constexpr char kReverse = 16;
constexpr int kVisibleCharacters = 76;

// The open help file: its records are read one by one.
struct HelpFile {
  std::ifstream in;
  int64_t recordLength = 80;
  int64_t lines = 0;  // n

  std::string Record(int64_t m) {
    std::string record(static_cast<std::size_t>(recordLength), ' ');
    if (m < 1 || m > lines || !in.is_open()) return record;
    in.clear();
    in.seekg((m - 1) * recordLength);
    in.read(record.data(), recordLength);
    // A short last record: what did not come stays blank.
    const std::streamsize got = in.gcount();
    for (std::size_t i = static_cast<std::size_t>(std::max<std::streamsize>(got, 0)); i < record.size(); ++i) {
      record[i] = ' ';
    }
    return record;
  }
};

struct Viewer {
  HelpFile file;
  int top = 4;
  int left = 1;
  int bottom = 22;
  int right = 80;
  int v = 17;       // visible lines
  int64_t i = 0;    // the line after the last one shown
};

// Showing line m on window row r, switching colours at the control
// characters.
void ShowLine(Viewer& view, int64_t m, int r) {
  SelectColours("n");
  LocateInWindow(r, 2);
  const std::string line = view.file.Record(m);
  if (line.find_first_of(std::string{kHighlight, kUnderline, kReverse}) == std::string::npos) {
    WriteText(std::string_view(line).substr(0, kVisibleCharacters));
    return;
  }
  bool highlight = false, underline = false, reverse = false;
  int written = 0;
  for (char c : line) {
    if (c == kHighlight) {
      highlight = !highlight;
      if (!underline) SelectColours(highlight ? "h" : "n");
    } else if (c == kUnderline) {
      underline = !underline;
      SelectColours(underline ? "u" : "n");
    } else if (c == kReverse) {
      reverse = !reverse;
      SelectColours(reverse ? "r" : "n");
    } else if (written < kVisibleCharacters) {
      WriteText(std::string_view(&c, 1));
      ++written;
    }
  }
}

void ClearInside(const Viewer& view) {
  SelectColours("n");
  ClearRectangle(view.top + 1, view.left + 1, view.bottom - 1, view.right - 1);
}

// Lines from..from + v - 1 on rows 1..v.
void ShowPage(Viewer& view, int64_t from) {
  ClearInside(view);
  for (int r = 1; r <= view.v; ++r) ShowLine(view, from + r - 1, r);
}

void ScrollInside(const Viewer& view, int lines) {
  SelectColours("n");
  ScrollRectangle(view.top + 1, view.left + 1, view.bottom - 1, view.right - 1, lines);
}

// The key loop, until Esc.
void RunViewer(Viewer& view, std::string_view topic) {
  const int64_t n = view.file.lines;
  const int v = view.v;
  int64_t& i = view.i;
  for (;;) {
    const int32_t key = ReadKey();
    if (key == kKeyEscape) return;
    if (key == kKeyF1 && topic != kGeneralHelpTopic) {
      ShowHelp(kGeneralHelpTopic);
    } else if (key == kKeyDown && i <= n) {
      ScrollInside(view, 1);
      ShowLine(view, i, v);
      ++i;
    } else if (key == kKeyUp && i - v > 1) {
      --i;
      ScrollInside(view, -1);
      ShowLine(view, i - v, 1);
    } else if (key == kKeyPgDn && i <= n) {
      if (i + v - 1 > n) i = n - v + 1;
      ShowPage(view, i);
      i += v;
    } else if (key == kKeyPgUp && i - v - 1 > 0) {
      if (i - 2 * v < 1) i = 2 * v;
      ShowPage(view, i - 2 * v + 1);
      i = i - v + 1;
    } else if (key == kKeyHome && i - v - 1 > 0) {
      ShowPage(view, 1);
      i = v + 1;
    } else if (key == kKeyEnd && i <= n) {
      i = n - v + 1;
      ShowPage(view, i);
      i += v;
    }
  }
}

}  // namespace

void ShowHelpFile(std::string_view path, std::string_view topic) {
  Viewer view;
  // 1. The window over the middle of the screen.
  view.bottom = ScreenRows() - 3;
  view.right = ScreenColumns();
  view.v = view.bottom - view.top - 1;
  // 2. The file and its number of lines, to the nearest whole number.
  view.file.recordLength = std::max<int16_t>(ScreenColumns(), 1);
  view.file.in.open(NativePath(path), std::ios::binary);
  if (view.file.in.is_open()) {
    view.file.in.seekg(0, std::ios::end);
    const std::streamoff size = view.file.in.tellg();
    if (size > 0) {
      const int64_t length = view.file.recordLength;
      view.file.lines = (static_cast<int64_t>(size) + length / 2) / length;
    }
  }
  // 3. The framed window.
  SelectColours("+h");
  PushWindow(view.top, view.left, view.bottom, view.right);
  DrawWindowFrame(2);
  SelectColours("n");
  // 4. The first page.
  for (int r = 1; r <= view.v; ++r) ShowLine(view, r, r);
  view.i = view.v + 1;
  // 5. The keys.
  RunViewer(view, topic);
  // 6. Closed again.
  view.file.in.close();
  PopWindow();
  SelectColours("-");
}

namespace {

// The help of a topic in the session's language, when the installation has
// it ("AJUDA\SPA\" + topic), else the Catalan one.
std::string HelpFileName(std::string_view topic, std::string_view extension) {
  const std::string& language = Session().language;
  if (language == "SPA" || language == "GLG" || language == "OCI") {
    const std::string translated = "AJUDA\\" + language + "\\" + std::string(topic) + std::string(extension);
    if (PathExists(Session().jobRoot + translated)) return translated;
  }
  return "AJUDA\\" + std::string(topic) + std::string(extension);
}

}  // namespace

void ShowHelp(std::string_view topic) {
  const SessionState& s = Session();
  // 1. On "WIN" the page goes to the start program; its result is its own
  //    business.
  if (s.platform == "WIN") {
    const std::string page = s.jobRoot + HelpFileName(topic, ".HTM");
    // A text browser needs the terminal as the print program does: it gets
    // it in its normal mode, and the job's screen is redrawn afterwards.
    ConsoleHandOverHooks& hooks = ConsoleHandOver();
    if (hooks.suspend != nullptr) hooks.suspend();
    RunProgramAndWait(NativePath(s.jobExe + "BRUMEL"), {NativePath(page)});
    if (hooks.resume != nullptr) hooks.resume();
    return;
  }
  // 2. Otherwise the text viewer.
  ShowHelpFile(HelpFileName(topic, ".HLP"), topic);
}

}  // namespace kestrova
