#include "windows/paragraph.h"

#include <cctype>
#include <cstdlib>

namespace kestrova {
namespace {

bool IsAttribute(char c) { return static_cast<unsigned char>(c) < 32; }

std::size_t AttributeCount(std::string_view line) {
  std::size_t n = 0;
  for (char c : line) n += IsAttribute(c) ? 1 : 0;
  return n;
}

// Takes the characters of one line from `p`: as many as fit in `room`
// columns, attribute bytes carried along; then backs the cut off to a word
// boundary.  Returns the cut (the position after the taken characters).
// With `oneWord` the line ends at the first blank after a word.
std::size_t FindCut(const std::string& text, std::size_t p, int room, bool oneWord) {
  std::size_t q = p;
  int used = 0;
  bool inWord = false;
  while (q < text.size() && (IsAttribute(text[q]) || used < room)) {
    if (oneWord && inWord && text[q] == ' ') return q;
    if (!IsAttribute(text[q])) ++used;
    inWord = inWord || text[q] != ' ';
    ++q;
  }
  if (oneWord) return q;  // a word longer than the line: cut at its end
  if (q < text.size() && text[q] != ' ') {
    // Inside a word: go back to just before the last blank, if there is one.
    for (std::size_t b = q; b > p; --b) {
      if (text[b - 1] == ' ') return b - 1;
    }
  }
  return q;
}

// Inserts blanks into the gaps of `line` after its first `skip` characters,
// one at a time after the next run of blanks, until it is `target` long.
void Justify(std::string& line, std::size_t skip, std::size_t target) {
  if (line.find(' ', skip) == std::string::npos) return;
  std::size_t pos = skip;
  while (line.size() < target) {
    std::size_t gap = line.find(' ', pos);
    if (gap == std::string::npos) gap = line.find(' ', skip);  // again from the left
    while (gap < line.size() && line[gap] == ' ') ++gap;        // past the run
    line.insert(gap, 1, ' ');
    pos = gap + 1;
  }
}

void Pad(std::string& line, std::size_t target, char align, bool lastLine, int16_t indent) {
  if (line.size() >= target) return;
  const std::size_t missing = target - line.size();
  switch (align) {
    case 'E':
    case 'L':
    case 'I':
      line.append(missing, ' ');
      break;
    case 'N':
      line.append(missing, '-');
      break;
    case 'D':
    case 'R':
      line.insert(0, missing, ' ');
      break;
    case 'C':
      line.insert(0, missing / 2, ' ');
      line.append((missing + 1) / 2, ' ');
      break;
    case 'A':
    case 'B':
      if (!lastLine) Justify(line, static_cast<std::size_t>(std::abs(indent)), target);
      break;
    default:
      break;
  }
}

}  // namespace

void FormatParagraph(std::string& text, int16_t indent, int16_t width, std::string_view align) {
  const char mode = align.empty() ? '\0' : static_cast<char>(std::toupper(
                                               static_cast<unsigned char>(align.front())));
  std::string output;
  // No column at all: no line can hold anything.
  if (width <= 0) {
    text.clear();
    return;
  }
  std::size_t p = 0;
  int lead = indent > 0 ? indent : 0;
  while (p < text.size()) {
    // 1-2. The characters of this line, cut at a word boundary.  When the
    //      indent leaves no room, the line starts at the left and holds one
    //      word (cut only when longer than the width): no line is ever
    //      wider than the width, and short words stay whole.
    int room = width - lead;
    const bool noRoom = room <= 0;
    if (noRoom) {
      lead = 0;
      room = width;
    }
    std::size_t cut = FindCut(text, p, room, noRoom);
    std::size_t end = cut;
    if (cut == text.size() || IsAttribute(text[cut])) {
      while (end > p && text[end - 1] == ' ') --end;
    }
    // 3. Lead blanks and the taken characters.
    std::string line(static_cast<std::size_t>(lead), ' ');
    line.append(text, p, end - p);
    // 5 (early): where the next line starts decides whether this is the last.
    p = cut;
    while (p < text.size() && text[p] == ' ') ++p;
    // 4. Padding; attribute bytes take no column.
    const std::size_t target = static_cast<std::size_t>(width > 0 ? width : 0) +
                               AttributeCount(line);
    Pad(line, target, mode, p >= text.size(), indent);
    output += line;
    // 6. Following lines hang by the indent's magnitude.
    lead = indent < 0 ? -indent : 0;
  }
  text = std::move(output);
}

}  // namespace kestrova
