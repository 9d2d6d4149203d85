// The operating-system half of the terminal console: raw mode, the size,
// reading input, writing frames, signals, and putting everything back.
#include "platform/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/headless.h"
#include "platform/host.h"
#include "platform/terminal_input.h"

namespace kestrova {
namespace {

// Mouse presses in SGR form, bracketed paste, ESC-prefixed Alt, the
// alternate screen (the shell's screen comes back at the end).
constexpr char kEnterSequence[] =
    "\x1b[?1049h\x1b[?1000h\x1b[?1006h\x1b[?2004h\x1b[?1036h\x1b[0m\x1b[2J";
// Written from signal handlers too, so it is a constant.
constexpr char kLeaveSequence[] =
    "\x1b[0m\x1b[?1000l\x1b[?1006l\x1b[?2004l\x1b[?1036l\x1b[0 q\x1b[?25h\x1b[?1049l";

struct TerminalState {
  bool active = false;  // raw mode is on and must be undone
  int inFd = 0, outFd = 1;
  struct termios saved {};
  TerminalView view;
  TerminalDecoder decoder;
  int columns = 80, rows = 25;
  bool hungUp = false;
  bool lent = false;  // handed to another program; ResumeTerminal takes it back
};

TerminalState& Terminal() {
  static TerminalState state;
  return state;
}

// Set by the signal handlers, read by the input wait.
volatile sig_atomic_t gWaiting = 0;
volatile sig_atomic_t gEndRequested = 0;
volatile sig_atomic_t gResized = 0;
volatile sig_atomic_t gResumed = 0;

void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Terminal().hungUp = true;  // the terminal is gone: nothing more to show
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void ReadSize() {
  TerminalState& t = Terminal();
  struct winsize ws {};
  if (::ioctl(t.outFd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    t.columns = ws.ws_col;
    t.rows = ws.ws_row;
  }
}

bool TooSmall() { return Terminal().columns < kScreenColumns || Terminal().rows < kScreenRows; }

void ShowOnTerminal(const ScreenState& screen) {
  TerminalState& t = Terminal();
  if (!t.active || t.hungUp) return;
  std::string frame;
  if (TooSmall()) {
    if (t.view.valid || t.view.cursorShape != 0) {
      frame = "\x1b[?25l" + SizeNotice(t.columns, t.rows);
      t.view = TerminalView{};
      t.view.cursorShape = 0;
    }
  } else {
    if (!t.view.valid) frame = "\x1b[0m\x1b[2J";
    frame += RenderScreen(t.view, screen);
  }
  if (!frame.empty()) WriteAll(t.outFd, frame.data(), frame.size());
}

void SetRawMode() {
  TerminalState& t = Terminal();
  struct termios raw = t.saved;
  // Every key reaches the job: Ctrl-C, Ctrl-Z, Ctrl-S are keys, not signals
  // or flow control; bytes arrive one by one, unechoed and unchanged.
  raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  raw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
  raw.c_cflag |= CS8;
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  ::tcsetattr(t.inFd, TCSAFLUSH, &raw);
  WriteAll(t.outFd, kEnterSequence, sizeof kEnterSequence - 1);
  t.view = TerminalView{};
}

// Waits for input and decodes it; see ScreenBackend::waitInput.
void WaitTerminalInput(ScreenState& screen, int timeoutMs) {
  TerminalState& t = Terminal();
  std::vector<InputEvent> events;
  for (;;) {
    if (gResized || gResumed) {
      if (gResumed) SetRawMode();
      gResized = 0;
      gResumed = 0;
      ReadSize();
      t.view.valid = false;
      ShowOnTerminal(screen);
    }
    if (gEndRequested || t.hungUp) {
      screen.input.push_back({InputKind::kEnd});
      return;
    }
    // A sequence begun but not finished is given the Escape delay to
    // complete, unless the caller asked to wait less.
    const int pendingWait = DecoderWaitMs(t.decoder);
    const bool waitingForRest = pendingWait >= 0 && (timeoutMs < 0 || pendingWait <= timeoutMs);
    const int wait = waitingForRest ? pendingWait : timeoutMs;
    struct pollfd pfd {t.inFd, POLLIN, 0};
    gWaiting = 1;
    const int ready = gEndRequested ? -1 : ::poll(&pfd, 1, wait);
    gWaiting = 0;
    if (ready < 0) {
      if (errno == EINTR || gEndRequested) continue;
      t.hungUp = true;
      continue;
    }
    if (ready == 0) {
      if (!waitingForRest) return;  // the caller's time is up
      DecodeTerminalTimeout(t.decoder, events);
      for (const InputEvent& e : events) screen.input.push_back(e);
      if (!events.empty() || timeoutMs >= 0) return;
      continue;
    }
    char buffer[4096];
    const ssize_t n = ::read(t.inFd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      // End of input or a hang-up (EIO): the job ends, it does not spin.
      t.hungUp = true;
      continue;
    }
    DecodeTerminalInput(t.decoder, std::string_view(buffer, static_cast<std::size_t>(n)), events);
    for (const InputEvent& e : events) screen.input.push_back(e);
    if (!events.empty() || timeoutMs == 0) return;
  }
}

void BeepTerminal() {
  if (Terminal().active) WriteAll(Terminal().outFd, "\a", 1);
}

void SendRawToTerminal(std::string_view bytes) {
  if (Terminal().active && !Terminal().hungUp) WriteAll(Terminal().outFd, bytes.data(), bytes.size());
}

void OnEndSignal(int signal) {
  // Waiting for a key: the wait reports the end of input and the job ends
  // on its normal path, its files put right.  Busy: the terminal is put
  // back and the signal ends the process as it would have.
  gEndRequested = 1;
  if (gWaiting) return;
  // Lent to the print program's viewer: the viewer goes first, then the
  // terminal is put back as the job found it, whatever the viewer left.
  EndWaitedProgram();
  TerminalState& t = Terminal();
  if (t.lent) {
    t.lent = false;
    t.active = true;
  }
  RestoreTerminal();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void OnCrashSignal(int signal) {
  RestoreTerminal();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void OnStop(int) {
  RestoreTerminal();
  Terminal().active = true;  // still ours: set up again on SIGCONT
  ::signal(SIGTSTP, SIG_DFL);
  ::raise(SIGTSTP);
}

void OnContinue(int) {
  struct sigaction sa {};
  sa.sa_handler = OnStop;
  ::sigaction(SIGTSTP, &sa, nullptr);
  gResumed = 1;
}

void OnResize(int) { gResized = 1; }

void InstallSignalHandlers() {
  struct sigaction sa {};
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: the input wait must wake up
  sa.sa_handler = OnEndSignal;
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) ::sigaction(s, &sa, nullptr);
  sa.sa_handler = OnCrashSignal;
  sa.sa_flags = static_cast<int>(SA_RESETHAND);
  for (int s : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) ::sigaction(s, &sa, nullptr);
  sa.sa_flags = 0;
  sa.sa_handler = OnStop;
  ::sigaction(SIGTSTP, &sa, nullptr);
  sa.sa_handler = OnContinue;
  ::sigaction(SIGCONT, &sa, nullptr);
  sa.sa_handler = OnResize;
  ::sigaction(SIGWINCH, &sa, nullptr);
}

}  // namespace

void RestoreTerminal() {
  TerminalState& t = Terminal();
  if (!t.active) return;
  t.active = false;
  // Late mouse reports must not reach the shell.
  ::tcflush(t.inFd, TCIFLUSH);
  WriteAll(t.outFd, kLeaveSequence, sizeof kLeaveSequence - 1);
  ::tcsetattr(t.inFd, TCSAFLUSH, &t.saved);
}

void SuspendTerminal() {
  TerminalState& t = Terminal();
  if (!t.active) return;
  RestoreTerminal();
  t.lent = true;
}

void ResumeTerminal() {
  TerminalState& t = Terminal();
  if (!t.lent) return;
  t.lent = false;
  t.active = true;
  SetRawMode();
  ReadSize();
  t.view.valid = false;
  ShowOnTerminal(Screen());
}

bool StartTerminalConsole() {
  TerminalState& t = Terminal();
  if (t.active) return true;
  if (!::isatty(t.inFd) || !::isatty(t.outFd)) return false;
  if (::tcgetattr(t.inFd, &t.saved) != 0) return false;
  t.active = true;
  // EndProcess and FatalError run the exit hooks; std::exit from anywhere
  // else still runs atexit.
  RegisterExitHook(RestoreTerminal);
  std::atexit(RestoreTerminal);
  InstallSignalHandlers();
  SetRawMode();
  ReadSize();
  ScreenState& screen = Screen();
  screen.backend = ScreenBackend{};
  screen.backend.show = ShowOnTerminal;
  screen.backend.waitInput = WaitTerminalInput;
  screen.backend.beep = BeepTerminal;
  screen.backend.sendRaw = SendRawToTerminal;
  // SGR reports name three buttons; whether a mouse is really there the
  // terminal does not say.
  screen.mouseButtons = 3;
  ShowOnTerminal(screen);
  return true;
}

void StartConsole() {
  if (GetEnvironment("KESTROVA_CONSOLE") == "headless") {
    StartHeadlessConsoleFromEnvironment();
    return;
  }
  if (!StartTerminalConsole()) {
    FatalError("", "the job needs a terminal (KESTROVA_CONSOLE=headless runs it without one)");
  }
}

}  // namespace kestrova
