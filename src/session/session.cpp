#include "session/session.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <limits>

#include "platform/blanks.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/host.h"

namespace kestrova {
namespace {

bool SameName(std::string_view a, std::string_view b) { return UpperAnsi(a) == UpperAnsi(b); }

}  // namespace

SessionState& Session() {
  static SessionState state;
  return state;
}

void ResetSessionForTesting() { Session() = SessionState{}; }

int32_t DecimalValue(std::string_view text) {
  text = TrimLeadingBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int32_t>::max()) {
      return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

std::string ReadIniValue(std::string_view file, std::string_view section, std::string_view key) {
  // 1. The file is read whole and closed at once, so nothing is held open
  //    between reads and other workstations may rewrite it at any time.
  std::string contents;
  if (!ReadWholeFile(file, contents)) return {};

  const std::string wantedSection = UpperAnsi(TrimBlanks(section));
  const std::string wantedKey = UpperAnsi(TrimBlanks(key));
  std::string value;
  bool found = false;
  bool done = false;
  std::size_t pos = 0;
  // 2. Line by line until the key is found or the section ends.  A line
  //    ends at CR LF, LF or a lone CR: files edited on the suite's Windows
  //    workstations, on this system and on old editors all turn up.  (The
  //    empty "line" between a CR and its LF is skipped as blank.)
  while (!done && pos < contents.size()) {
    std::size_t end = contents.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = contents.size();
    std::string_view line(contents.data() + pos, end - pos);
    pos = end + 1;

    // The comment is cut first, so a ";" can never be part of a value.
    const std::size_t semicolon = line.find(';');
    if (semicolon != std::string_view::npos) line = line.substr(0, semicolon);
    line = TrimLeadingBlanks(line);
    // Blank lines.
    if (TrimBlanks(line).empty()) continue;

    if (!found) {
      // Looking for the section header; other lines are ignored.
      if (line.front() != '[') continue;
      std::string_view name = line.substr(1);
      const std::size_t close = name.find(']');
      if (close != std::string_view::npos) name = name.substr(0, close);
      if (UpperAnsi(TrimBlanks(name)) == wantedSection) found = true;
      continue;
    }
    // Inside the section: the next header ends the search, so only the
    // first block of a section written twice is seen; the first match
    // of the key wins.
    if (line.front() == '[') break;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (SameName(TrimTrailingBlanks(line.substr(0, equals)), wantedKey)) {
      value = std::string(line.substr(equals + 1));
      done = true;
    }
  }
  // 4. Quotes go only when both are there.
  if (value.size() > 1 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::string GetWorkstationName() { return ComputerName(); }

std::string SuiteIniPath() { return Session().jobRoot + "Tarn.ini"; }

std::array<ColourPair, 5> ParseColourText(std::string_view text) {
  auto twoDigits = [&](std::size_t from) -> int16_t {
    // Characters missing from a short text count as empty: value 0.
    std::string_view part = from < text.size() ? text.substr(from, 2) : std::string_view();
    return static_cast<int16_t>(DecimalValue(part));
  };
  std::array<ColourPair, 5> table{};
  for (std::size_t p = 0; p < table.size(); ++p) {
    table[p].foreground = twoDigits(4 * p);
    table[p].background = twoDigits(4 * p + 2);
  }
  return table;
}

bool ClaimSessionDirectory() {
  static int claim = -1;
  if (claim >= 0) return true;
  const std::string path = NativePath(Session().jobTmp + "KESTROVA.LCK");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  claim = fd;  // kept open, and so locked, until the process ends
  return true;
}

}  // namespace kestrova
