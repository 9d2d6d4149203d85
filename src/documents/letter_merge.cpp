// The letter merge, in three parts: the template level (directives, styles,
// includes, language blocks), the field merge of one text line from the
// data file, and the line output (paragraph layout, page breaks,
// attribute switches and justification records).
#include "documents/letter_merge.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

#include "documents/print_channel.h"
#include "platform/blanks.h"
#include "platform/files.h"
#include "session/session.h"
#include "windows/paragraph.h"

namespace kestrova {
namespace {

constexpr char kDirectiveByte = '\x7f';
constexpr char kValueEndByte = '\xff';
constexpr int16_t kDefaultPageLength = 66;
// Below 10 lines the page break at page length - 8 and the position lines'
// cycle of page length - 6 would leave no body to write on.
constexpr int16_t kShortestPage = 10;
constexpr int16_t kLongestPage = 1000;
constexpr int16_t kWidestRight = 250;
// The column the header text ends at: the width of a letter page.
constexpr int kHeaderEnd = 95;
// A value that brings its own marker back in would merge for ever; a line
// stops merging after this many values or past this length.
constexpr int kMaxSubstitutionsPerLine = 1000;
constexpr std::size_t kMaxMergedLine = 1 << 20;

struct Style {
  int16_t left = 1;
  int16_t right = 95;
  int16_t indent = 0;
  char align = 'I';
};

// The settings of one template level: nothing of them reaches an include
// or comes back from one.
struct Level {
  std::vector<Style> styles{Style{}};
  std::size_t current = 0;
  int16_t pageLength = kDefaultPageLength;
  int16_t topMargin = 0;
  std::string header;
  bool transform = false;
  bool inBlock = false;
  std::string language;
  std::string dataFile;
  // The data file's text and lines, read at the first line that merges a
  // field: nothing writes the file while its letter is merged.
  bool dataRead = false;
  std::string data;
  std::vector<std::string_view> dataLines;
};

int16_t Fail(int16_t status, std::string_view name) {
  LastMergeFailure() = MergeFailure{status, std::string(name)};
  return status;
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

int16_t Clamp16(int32_t value, int32_t low, int32_t high) {
  return static_cast<int16_t>(std::clamp(value, low, high));
}

// Lines of a file, with or without their CR; a last line without a line
// end is still a line.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = next;
  }
  return lines;
}

// The session language as the language blocks read it.
std::string BlockLanguage() {
  const std::string& code = Session().language;
  if (code == "SPA" || code == "GLG" || code == "OCI") return code;
  return "CAT";
}

// ---- Line output -----------------------------------------------------------

void StartLetterPage(const Level& level) {
  int16_t& pageCount = LetterPageCount();
  pageCount = static_cast<int16_t>(pageCount + 1);
  StartPage(level.pageLength);
  if (pageCount == 1) PrintControl("@");
  PrintControl("e");
  const int16_t top = std::min<int16_t>(level.topMargin, static_cast<int16_t>(level.pageLength - kShortestPage));
  PrintAt(0, "", top);
  const int column = std::max(1, kHeaderEnd - static_cast<int>(level.header.size()));
  PrintAt(static_cast<int16_t>(column), level.header, 2);
}

bool PageIsFull(const Level& level) { return PrintChannel().pageLine > level.pageLength - 8; }

// The style a line is laid out in, with its margins held on the page.
Style EffectiveStyle(const Level& level) {
  Style s = level.current < level.styles.size() ? level.styles[level.current] : Style{};
  if (s.left == 0 && s.right == 0) s = Style{};
  s.left = Clamp16(s.left, 1, kWidestRight);
  s.right = Clamp16(s.right, s.left, kWidestRight);
  return s;
}

struct LineWriter {
  char align;
  int16_t right;

  // Sends the justification for the segment and the segment itself.
  void Flush(std::string& segment, bool lineEnd) const {
    std::string code = "E";
    if (align == 'D' || align == 'R' || align == 'C' || align == 'A' || align == 'B') {
      code = std::string(1, align);
    } else if (align == 'N' && !segment.empty()) {
      code = lineEnd ? "N " + std::to_string(right + 1) + " \\-\\" : "A";
      segment.resize(TrimTrailingBlanks(segment).size());
    }
    SetJustification(code);
    PrintAt(0, segment, lineEnd ? 1 : 0);
    segment.clear();
  }
};

void OutputLine(Level& level, std::string line) {
  // 1. The style: a leading selector byte changes it for this line and the
  //    ones after.  A selector for a style not defined is the default.
  if (!line.empty() && line[0] >= 1 && line[0] <= 9) {
    level.current = static_cast<std::size_t>(line[0] - 1);
    line.erase(0, 1);
  }
  const Style style = EffectiveStyle(level);
  int left = style.indent < 0 ? std::max(1, style.left + style.indent) : style.left;
  const char align = static_cast<char>(std::toupper(static_cast<unsigned char>(style.align)));
  if (align == 'I') {
    const std::size_t blanks = line.size() - TrimLeadingBlanks(line).size();
    left = std::min<int>(left + static_cast<int>(blanks), kWidestRight);
    line.erase(0, blanks);
  }
  const int width = std::max(1, style.right - left + 1);
  // 2. A new page first when none is started or this one is full.
  if (LetterPageCount() == 0 || PageIsFull(level)) StartLetterPage(level);
  // 3. The paragraph; the printer draws the fill of "N" lines itself.
  FormatParagraph(line, style.indent, static_cast<int16_t>(width), align == 'N' ? "I" : std::string(1, align));
  // 4. To the left margin.
  PrintAt(static_cast<int16_t>(left), "", 0);
  // 5. Output lines of `width` characters, attribute switches in between.
  LineWriter writer{align, style.right};
  std::string segment;
  int collected = 0;
  for (const char c : line) {
    const auto b = static_cast<unsigned char>(c);
    if (b == 16 || b == 17 || b == 18) {
      writer.Flush(segment, false);
      PrintControl(b == 16 ? "b" : b == 17 ? "u" : "i");
      continue;
    }
    // Other control bytes take no column in the layout and would print as
    // stray blanks.
    if (b < 32) continue;
    if (collected == width) {
      writer.Flush(segment, true);
      if (PageIsFull(level)) StartLetterPage(level);
      PrintAt(static_cast<int16_t>(left), "", 0);
      collected = 0;
    }
    segment += c;
    ++collected;
  }
  // 6. A justified paragraph's last line is left-aligned.
  if (writer.align == 'A' || writer.align == 'B') writer.align = 'E';
  writer.Flush(segment, true);
}

// ---- Position lines --------------------------------------------------------

void MoveToLine(Level& level, std::string_view number) {
  const int32_t period = level.pageLength - 6;
  const int64_t n = static_cast<int64_t>(DecimalValue(number)) - 1;
  const int64_t target = ((n % period) + period) % period + 1;
  if (LetterPageCount() == 0) StartLetterPage(level);
  // Lines already written stay where they are: the text goes on below them.
  const int64_t feeds = target - PrintChannel().pageLine - 1;
  if (feeds > 0) PrintAt(0, "", static_cast<int16_t>(feeds));
}

// ---- Field merge -----------------------------------------------------------

// The value lines of field `name` (upper case) in the data file's text, or
// false when no header names it.  A value without its byte 255 runs to the
// end of the file.
bool FindField(const std::vector<std::string_view>& lines, std::string_view name, std::vector<std::string>& value) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty() || line[0] != kDirectiveByte) continue;
    if (UpperAscii(TrimTrailingBlanks(line.substr(1))) != name) continue;
    value.clear();
    for (std::size_t j = i + 1; j < lines.size(); ++j) {
      const std::size_t end = lines[j].find(kValueEndByte);
      value.emplace_back(lines[j].substr(0, end));
      if (end != std::string_view::npos) return true;
    }
    if (value.empty()) value.emplace_back();
    return true;
  }
  return false;
}

bool IsNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Replaces the line's markers by their values; the first lines of a
// multi-line value are printed on the way, and what is left is returned in
// `line` for the caller to print.
int16_t MergeFields(Level& level, std::string& line) {
  if (!level.dataRead) {
    if (!ReadWholeFile(level.dataFile, level.data)) return Fail(kMergeDataMissing, level.dataFile);
    level.dataLines = SplitLines(level.data);
    level.dataRead = true;
  }
  const std::vector<std::string_view>& lines = level.dataLines;
  std::vector<std::string> value;
  std::size_t pos = 0;
  for (int substitutions = 0; substitutions < kMaxSubstitutionsPerLine && line.size() <= kMaxMergedLine;) {
    const std::size_t marker = line.find_first_of("@#", pos);
    if (marker == std::string::npos) break;
    std::size_t end = marker + 1;
    while (end < line.size() && IsNameCharacter(line[end])) ++end;
    const std::string name = UpperAscii(std::string_view(line).substr(marker + 1, end - marker - 1));
    if (name.empty() || !FindField(lines, name, value)) {
      pos = marker + 1;
      continue;
    }
    ++substitutions;
    const bool trimmed = line[marker] == '@';
    for (std::string& v : value) {
      if (trimmed) v = std::string(TrimBlanks(v));
    }
    std::size_t at = marker;
    if (value.size() > 1) {
      OutputLine(level, line.substr(0, marker) + value.front());
      for (std::size_t k = 1; k + 1 < value.size(); ++k) OutputLine(level, value[k]);
      line.erase(0, end);
      end = 0;
      at = 0;
    }
    const std::string& last = value.back();
    line.replace(at, end - at, last);
    // A marker the value brings in is merged in its turn.
    pos = at + (last.empty() ? 0 : 1);
  }
  return kMergeDone;
}

// ---- Template level --------------------------------------------------------

// The included template's name: from the third character to the first
// character that cannot be part of a file name.
std::string IncludeName(std::string_view line) {
  constexpr std::string_view kStops = "\" *+,./:;<=>?[\\]|";
  std::size_t end = 2;
  while (end < line.size() && kStops.find(line[end]) == std::string_view::npos &&
         static_cast<unsigned char>(line[end]) <= 126) {
    ++end;
  }
  return std::string(line.substr(2, end - 2));
}

Style ParseStyle(std::string_view line) {
  auto field = [&line](std::size_t from, std::size_t count) {
    return from < line.size() ? DecimalValue(line.substr(from, count)) : 0;
  };
  Style s;
  s.left = Clamp16(field(1, 2), -99, 99);
  s.right = Clamp16(field(3, 2), -99, 99);
  s.indent = Clamp16(field(5, 3), -99, 999);
  s.align = line.back();
  return s;
}

void Directive(Level& level, std::string_view line) {
  const char kind = line.size() > 1 ? line[1] : '\0';
  const std::string_view rest = line.size() > 2 ? line.substr(2) : std::string_view();
  switch (kind) {
    case 'P': {
      const int32_t n = DecimalValue(rest);
      level.pageLength = n <= 0 ? kDefaultPageLength : Clamp16(n, kShortestPage, kLongestPage);
      break;
    }
    case 'S':
      level.topMargin = Clamp16(DecimalValue(rest), 0, kLongestPage);
      break;
    case 'L':
      level.header = std::string(rest);
      break;
    case 'A':
    case 'T':
      break;
    case 'C':
      level.transform = rest.empty();
      break;
    case 'I':
      level.inBlock = UpperAscii(rest.substr(0, std::min<std::size_t>(3, rest.size()))) == level.language;
      break;
    default:
      level.styles.push_back(ParseStyle(line));
      break;
  }
}

int16_t MergeLevel(std::string_view templateName, std::string_view dataFile, int16_t flag, int depth);

int16_t TextLine(Level& level, std::string line) {
  // Stored text: every printable byte turned about its middle.
  if (level.transform) {
    for (char& c : line) {
      const auto b = static_cast<unsigned char>(c);
      if (b >= 33 && b <= 222) c = static_cast<char>(255 - b);
    }
  }
  const std::string_view unpadded = TrimLeadingBlanks(line);
  if (unpadded.starts_with("@.") || unpadded.starts_with("#.")) {
    MoveToLine(level, unpadded.substr(2));
    return kMergeDone;
  }
  if (!level.dataFile.empty() && line.find_first_of("@#") != std::string::npos) {
    const int16_t status = MergeFields(level, line);
    if (status != kMergeDone) return status;
  }
  OutputLine(level, std::move(line));
  return kMergeDone;
}

// The templates a pass of letters has read, by file, while one runs.
struct TemplatePass {
  bool running = false;
  std::map<std::string, std::string> texts;
};
TemplatePass& Templates() {
  static TemplatePass pass;
  return pass;
}

// The template's text: from the file, or, during a pass, as the pass first
// read it.  A template that cannot be read is not kept.
bool ReadTemplate(std::string_view templateName, std::string& text) {
  const std::string path = TemplatePath(templateName);
  TemplatePass& pass = Templates();
  if (pass.running) {
    if (const auto kept = pass.texts.find(path); kept != pass.texts.end()) {
      text = kept->second;
      return true;
    }
  }
  if (!ReadWholeFile(path, text)) return false;
  if (pass.running) pass.texts.emplace(path, text);
  return true;
}

int16_t MergeLevel(std::string_view templateName, std::string_view dataFile, int16_t flag, int depth) {
  if (depth > kMaxIncludeDepth) return Fail(kMergeIncludesTooDeep, TrimTrailingBlanks(templateName));
  std::string text;
  if (!ReadTemplate(templateName, text)) {
    return Fail(kMergeTemplateMissing, TrimTrailingBlanks(templateName));
  }
  Level level;
  level.language = BlockLanguage();
  level.dataFile = std::string(dataFile);
  for (const std::string_view line : SplitLines(text)) {
    if (!line.empty() && line[0] == kDirectiveByte) {
      Directive(level, line);
      continue;
    }
    if (line.starts_with("@+") || line.starts_with("#+")) {
      const int16_t status = MergeLevel(IncludeName(line), dataFile, flag, depth + 1);
      if (status != kMergeDone) return status;
      if (line[0] == '#') LetterPageCount() = 0;
      continue;
    }
    if (!level.inBlock) continue;
    const int16_t status = TextLine(level, std::string(line));
    if (status != kMergeDone) return status;
  }
  return kMergeDone;
}

}  // namespace

MergeFailure& LastMergeFailure() {
  static MergeFailure failure;
  return failure;
}

int16_t& LetterPageCount() {
  static int16_t pageCount = 0;
  return pageCount;
}

void ResetLetterMergeForTesting() {
  LetterPageCount() = 0;
  LastMergeFailure() = MergeFailure{};
  EndTemplatePass();
}

void StartTemplatePass() {
  Templates().texts.clear();
  Templates().running = true;
}

void EndTemplatePass() { Templates() = TemplatePass{}; }

std::string TemplatePath(std::string_view templateName) {
  const std::string_view name = TrimTrailingBlanks(templateName);
  const bool isPath = (name.size() > 1 && name[1] == ':') || name.find_first_of("\\/") != std::string_view::npos;
  if (isPath) return std::string(name) + ".txt";
  return Session().jobRoot + "TEXTOS\\" + std::string(name) + ".txt";
}

int16_t MergeTemplate(std::string_view templateName, std::string_view dataFile, int16_t flag) {
  const bool outermost = LetterPageCount() == 0;
  const int16_t status = MergeLevel(templateName, dataFile, flag, 0);
  if (outermost) LetterPageCount() = 0;
  return status;
}

}  // namespace kestrova
