#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "messages.h"
#include "outputs.h"
#include "platform/codepage.h"

namespace kestrova::jobprint {
namespace {

enum class Key { kNone, kUp, kDown, kLeft, kRight, kPageUp, kPageDown, kHome, kEnd, kQuit };

// UTF-8 text cut or padded to a number of screen columns (one per code
// point: the pages hold code page 850 characters only).
std::string FitColumns(const std::string& utf8, int columns) {
  std::string out;
  int shown = 0;
  std::size_t i = 0;
  while (i < utf8.size() && shown < columns) {
    std::size_t len = 1;
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b >= 0xF0) len = 4;
    else if (b >= 0xE0) len = 3;
    else if (b >= 0xC0) len = 2;
    out.append(utf8, i, len);
    i += len;
    ++shown;
  }
  out.append(static_cast<std::size_t>(columns - shown), ' ');
  return out;
}

volatile sig_atomic_t resized = 0;

void NoteResize(int) { resized = 1; }

// A byte of input within the time (-1: waiting as long as it takes, which
// costs no CPU), -1 when none came or a resize interrupted the wait, -2 at
// the end of input.
int ReadByte(int timeoutMs) {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return -1;
  unsigned char c = 0;
  if (read(STDIN_FILENO, &c, 1) != 1) return -2;  // end of input
  return c;
}

Key ReadKey(bool& ended) {
  // Nothing changes on screen until a key comes or the terminal is resized,
  // so the viewer sleeps in the wait.
  const int c = ReadByte(-1);
  if (c == -2) {
    ended = true;
    return Key::kQuit;
  }
  if (c == -1) return Key::kNone;  // a resize: the screen is drawn again
  if (c == 'q' || c == 'Q') return Key::kQuit;
  if (c != 27) return Key::kNone;
  const int c1 = ReadByte(50);
  if (c1 < 0) return Key::kQuit;  // Esc alone
  if (c1 != '[' && c1 != 'O') return Key::kNone;
  std::string seq;
  for (int k = 0; k < 8; ++k) {
    const int n = ReadByte(50);
    if (n < 0) break;
    seq += static_cast<char>(n);
    if ((n >= 'A' && n <= 'Z') || n == '~') break;
  }
  if (seq == "A") return Key::kUp;
  if (seq == "B") return Key::kDown;
  if (seq == "C") return Key::kRight;
  if (seq == "D") return Key::kLeft;
  if (seq == "5~") return Key::kPageUp;
  if (seq == "6~") return Key::kPageDown;
  if (seq == "H" || seq == "1~" || seq == "7~") return Key::kHome;
  if (seq == "F" || seq == "4~" || seq == "8~") return Key::kEnd;
  return Key::kNone;
}

void WriteAll(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// Keeps where each page starts, not the page.
class IndexSink : public PageSink {
 public:
  void Page(const PrintPage&, const LayoutState& start) override { starts.push_back(start); }
  std::vector<LayoutState> starts;
};

}  // namespace

std::vector<std::string> ViewerLines(const PrintPage& page, int number, int count, int top, int left, int rows,
                                     int columns) {
  std::vector<std::string> out;
  for (int r = 0; r < rows - 1; ++r) {
    const std::size_t k = static_cast<std::size_t>(top + r);
    std::string text;
    if (k < page.lines.size()) {
      const std::string& bytes = page.lines[k].text;
      if (static_cast<std::size_t>(left) < bytes.size()) text = Cp850ToUtf8(std::string_view(bytes).substr(left));
    }
    out.push_back(FitColumns(text, columns));
  }
  const std::string status = " " + Say("Pàgina"_cp) + " " + std::to_string(number) + "/" +
                             (count > 0 ? std::to_string(count) : std::string("...")) + "   " +
                             Say("RePàg/AvPàg: pàgines   fletxes: desplaçar   Esc o q: tornar"_cp);
  out.push_back(FitColumns(Cp850ToUtf8(status), columns));
  return out;
}

std::string ViewOnTerminal(const std::string& scriptPath) {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return "no terminal to show the pages on";
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return "the terminal cannot be set up";
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw);
  struct sigaction resize{};
  resize.sa_handler = NoteResize;  // no SA_RESTART: the wait for a key ends
  struct sigaction savedResize{};
  sigaction(SIGWINCH, &resize, &savedResize);
  WriteAll("\x1b[?1049h\x1b[?25l");

  // Only the page shown is laid out; the index of where pages start comes
  // from one pass over the script, after the first page is on screen.
  std::vector<LayoutState> starts{LayoutState()};
  int pages = 0;
  PrintPage shown;
  int shownNumber = -1;
  int page = 0, top = 0, left = 0;
  bool ended = false;
  for (;;) {
    if (shownNumber != page) {
      if (!ReLayOutPage(scriptPath, starts[static_cast<std::size_t>(page)], shown)) shown = PrintPage();
      shownNumber = page;
    }
    winsize ws{};
    int rows = 25, columns = 80;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 1 && ws.ws_col > 0) {
      rows = ws.ws_row;
      columns = ws.ws_col;
    }
    const int length = static_cast<int>(shown.lines.size());
    const int lastTop = std::max(0, length - (rows - 1));
    top = std::clamp(top, 0, lastTop);
    std::string frame = "\x1b[H";
    const auto lines = ViewerLines(shown, page + 1, pages, top, left, rows, columns);
    for (std::size_t r = 0; r < lines.size(); ++r) {
      if (r + 1 == lines.size()) frame += "\x1b[7m";
      frame += lines[r];
      if (r + 1 < lines.size()) frame += "\r\n";
    }
    frame += "\x1b[0m";
    WriteAll(frame);

    if (pages == 0) {
      IndexSink index;
      ScriptLayout layout(index);
      FeedScriptFile(scriptPath, layout);
      layout.Finish();
      starts = std::move(index.starts);
      pages = static_cast<int>(starts.size());
      continue;  // the status line now has the page count
    }

    resized = 0;
    const Key key = ReadKey(ended);
    if (key == Key::kQuit) break;
    switch (key) {
      case Key::kUp:
        if (top > 0) --top;
        else if (page > 0) { --page; top = 1 << 20; }
        break;
      case Key::kDown:
        if (top < lastTop) ++top;
        else if (page + 1 < pages) { ++page; top = 0; }
        break;
      case Key::kLeft: left = std::max(0, left - 10); break;
      case Key::kRight: left = std::min(kMaxColumns, left + 10); break;
      case Key::kPageUp: if (page > 0) { --page; top = 0; } break;
      case Key::kPageDown: if (page + 1 < pages) { ++page; top = 0; } break;
      case Key::kHome: page = 0; top = 0; left = 0; break;
      case Key::kEnd: page = pages - 1; top = 0; break;
      default: break;
    }
  }
  WriteAll("\x1b[0m\x1b[?25h\x1b[?1049l");
  sigaction(SIGWINCH, &savedResize, nullptr);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  (void)ended;
  return std::string();
}

}  // namespace kestrova::jobprint
