#include "documents/print_channel.h"

#include <cctype>
#include <charconv>
#include <cstdlib>

#include "platform/blanks.h"
#include "platform/files.h"
#include "platform/host.h"
#include "session/session.h"

namespace kestrova {
namespace {

// Records are collected and appended in blocks: a report of a hundred
// thousand leases would otherwise open and close the script for every line.
constexpr std::size_t kFlushSize = 64 * 1024;

void FlushPending() {
  PrintState& p = PrintChannel();
  if (p.pending.empty()) return;
  if (!AppendToFile(p.path, p.pending)) {
    p.open = false;
    p.pending.clear();
    FatalError(p.path, "the print script cannot be written");
  }
  p.pending.clear();
}

void EndRecord(PrintState& p) {
  p.pending.append("\r\n");
  if (p.pending.size() >= kFlushSize) FlushPending();
}

void WriteRecord(std::string_view record) {
  PrintState& p = PrintChannel();
  if (!p.open) return;  // nothing to write to: calls outside a print run are lost, not fatal
  p.pending.append(record);
  EndRecord(p);
}

// A number as ScriptNumber writes it, straight onto the pending records.
void AppendScriptNumber(std::string& out, int32_t value) {
  const int64_t v = value;
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, v < 0 ? -v : v).ptr;
  out.push_back(v < 0 ? '-' : ' ');
  out.append(digits, end);
  out.push_back(' ');
}

// Control characters never reach the script through a text record.
char Printable(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 32 || b == 127 || b == 255 ? ' ' : c;
}


// The absolute integer part of the number that starts the text: optional
// blanks, an optional sign, digits.  Saturates rather than overflows.
int32_t AbsoluteLeadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  int64_t n = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    n = n * 10 + (text[i] - '0');
    if (n > INT32_MAX) n = INT32_MAX;
    ++i;
  }
  return static_cast<int32_t>(n);
}

}  // namespace

PrintState& PrintChannel() {
  static PrintState state;
  return state;
}

void ResetPrintChannelForTesting() { PrintChannel() = PrintState{}; }

ConsoleHandOverHooks& ConsoleHandOver() {
  static ConsoleHandOverHooks hooks;
  return hooks;
}

std::string PrintScriptPath() { return Session().jobTmp + std::string(kPrintScriptName); }

std::string ScriptNumber(int32_t value) {
  std::string text;
  AppendScriptNumber(text, value);
  return text;
}

std::string NormaliseJustification(std::string_view code) {
  const std::string trimmed(TrimBlanks(code));
  const char first = trimmed.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(trimmed[0])));
  switch (first) {
    case 'C':
      return "C";
    case 'D':
    case 'R':
      return "D";
    case 'A':
    case 'B':
      return "A";
    case 'N': {
      const int32_t n = AbsoluteLeadingInteger(std::string_view(trimmed).substr(1));
      std::string mask;
      const std::size_t open = trimmed.find('\\');
      if (open != std::string::npos) {
        const std::size_t close = trimmed.find('\\', open + 1);
        mask = close == std::string::npos ? trimmed.substr(open) : trimmed.substr(open, close - open + 1);
      }
      // The script number already ends with its blank: the mask follows it
      // directly ("N 96 \-\"), as the suite's print programs read it.
      return "N" + ScriptNumber(n) + mask;
    }
    default:
      return "E";
  }
}

void OpenPrintJob(std::string_view device) {
  PrintState& p = PrintChannel();
  p = PrintState{};
  p.path = PrintScriptPath();
  // The file is created now, so a missing or read-only JOBTMP shows before
  // the walk rather than after it.
  if (!WriteWholeFile(p.path, "")) FatalError(p.path, "the print script cannot be created");
  p.open = true;
  WriteRecord("DEVICE" + std::string(device));
}

void StartPage(int16_t length) {
  WriteRecord("PAGE" + ScriptNumber(length));
  PrintState& p = PrintChannel();
  p.pageLength = length;
  p.pageLine = 0;
  p.pageColumn = 0;
}

void SetJustification(std::string_view code) { WriteRecord("JUS" + NormaliseJustification(code)); }

void PrintControl(std::string_view text) { WriteRecord("*" + std::string(text)); }

void PrintAt(int16_t column, std::string_view text, int16_t lineFeeds) {
  PrintState& p = PrintChannel();
  // 1. A full page starts a new one of the same length.
  if (p.pageLine >= p.pageLength) StartPage(p.pageLength);
  // 2. The text record, made up where it waits to be written.
  if (p.open) {
    AppendScriptNumber(p.pending, column);
    p.pending.push_back(',');
    for (char c : text) p.pending.push_back(Printable(c));
    p.pending.push_back(',');
    AppendScriptNumber(p.pending, lineFeeds);
    EndRecord(p);
  }
  // 3. Counters (16-bit, as the script's reader counts them).
  if (lineFeeds != 0) {
    p.pageLine = static_cast<int16_t>(p.pageLine + lineFeeds);
    p.pageColumn = 0;
  } else {
    if (column != 0) p.pageColumn = column;
    p.pageColumn = static_cast<int16_t>(p.pageColumn + static_cast<int16_t>(text.size()));
  }
}

void ClosePrintJob() {
  PrintState& p = PrintChannel();
  if (!p.open) return;
  FlushPending();
  p.open = false;
}

int RunPrintProgram() {
  const std::string program = NativePath(Session().jobExe + "JOBPRINT");
  if (!PathExists(Session().jobExe + "JOBPRINT")) return kPrintProgramMissing;
  // A word left by an earlier run must not be taken for this run's.
  RemoveFile(Session().jobTmp + "jobprint.msg");
  ConsoleHandOverHooks& hooks = ConsoleHandOver();
  if (hooks.suspend != nullptr) hooks.suspend();
  const int code = RunProgramAndWait(program, {NativePath(PrintScriptPath())});
  if (hooks.resume != nullptr) hooks.resume();
  return code == 0 ? kPrintProgramDone : kPrintProgramFailed;
}

std::string PrintProgramMessage() {
  std::string text;
  if (!ReadWholeFile(Session().jobTmp + "jobprint.msg", text)) return std::string();
  text = text.substr(0, text.find_first_of("\r\n"));
  // Only printable bytes reach the message window.
  for (char& c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 32 || b == 127 || b == 255) c = ' ';
  }
  return text;
}

}  // namespace kestrova
