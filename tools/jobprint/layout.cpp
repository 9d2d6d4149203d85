#include "layout.h"

#include <algorithm>
#include <cctype>

#include "platform/blanks.h"
#include "platform/codepage.h"

namespace kestrova::jobprint {
namespace {

int Clamp(int64_t value, int low, int high) {
  return static_cast<int>(std::min<int64_t>(std::max<int64_t>(value, low), high));
}

// A number as the script writes it (" 5 ", "-3 "), read leniently: blanks,
// an optional sign, digits; anything after them is ignored.  No digits: 0.
int64_t ReadNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  while (i < text.size() && text[i] == ' ') ++i;
  int64_t n = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    if (n < 1000000000) n = n * 10 + (text[i] - '0');
    ++i;
  }
  return negative ? -n : n;
}


// The text as it stands in a field of its own width under a justification.
std::string Justify(std::string_view text, char mode) {
  const std::size_t width = text.size();
  const std::string_view core = kestrova::TrimBlanks(text);
  switch (mode) {
    case 'D':
      // Every cell is as wide as the next, so a field written to its full
      // width already ends where the field ends: the text stays as written,
      // and the sign place after a masked amount keeps the digits of
      // positive and negative amounts in line.
      return std::string(text);
    case 'C': {
      const std::size_t left = (width - core.size()) / 2;
      return std::string(left, ' ') + std::string(core) + std::string(width - core.size() - left, ' ');
    }
    case 'A': {
      std::vector<std::string_view> words;
      std::size_t i = 0;
      while (i < core.size()) {
        while (i < core.size() && core[i] == ' ') ++i;
        const std::size_t start = i;
        while (i < core.size() && core[i] != ' ') ++i;
        if (i > start) words.push_back(core.substr(start, i - start));
      }
      if (words.size() < 2) return std::string(text);
      std::size_t letters = 0;
      for (auto w : words) letters += w.size();
      const std::size_t gaps = words.size() - 1;
      const std::size_t blanks = width - letters;
      std::string out;
      for (std::size_t k = 0; k < words.size(); ++k) {
        out += words[k];
        if (k < gaps) out.append(blanks / gaps + (k < blanks % gaps ? 1 : 0), ' ');
      }
      return out;
    }
    default:
      return std::string(text);
  }
}

class Layout {
 public:
  PrintDocument Run(std::string_view script) {
    std::size_t start = 0;
    while (start < script.size()) {
      std::size_t end = script.find('\n', start);
      if (end == std::string_view::npos) end = script.size();
      std::string_view record = script.substr(start, end - start);
      if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
      Record(record);
      start = end + 1;
    }
    if (doc_.pages.empty()) doc_.pages.push_back(NewPage());
    return std::move(doc_);
  }

 private:
  PrintPage NewPage() const {
    PrintPage page;
    page.length = pageLength_;
    page.condensed = condensed_;
    return page;
  }

  bool PageHasContent() const {
    if (doc_.pages.empty()) return false;
    for (const PrintLine& l : doc_.pages.back().lines) {
      if (l.text.find_first_not_of(' ') != std::string::npos) return true;
    }
    return false;
  }

  // Ends the current page when something is on it; the next text opens a
  // fresh one at its top.
  void BreakPage() {
    if (PageHasContent()) pendingPage_ = true;
    line_ = 0;
    column_ = 0;
  }

  PrintPage& CurrentPage() {
    if (doc_.pages.empty() || pendingPage_) {
      doc_.pages.push_back(NewPage());
      pendingPage_ = false;
    }
    return doc_.pages.back();
  }

  void Record(std::string_view r) {
    if (r.starts_with("DEVICE")) {
      if (!doc_.hasDevice) {
        doc_.device = std::string(r.substr(6));
        doc_.hasDevice = true;
      }
    } else if (r.starts_with("PAGE")) {
      const int64_t n = ReadNumber(r.substr(4));
      pageLength_ = n > 0 ? Clamp(n, 1, kMaxLines) : kDefaultPageLength;
      BreakPage();
      if (!pendingPage_ && !doc_.pages.empty()) doc_.pages.back().length = pageLength_;
    } else if (r.starts_with("JUS")) {
      Justification(r.substr(3));
    } else if (r.starts_with("*")) {
      Control(r.substr(1));
    } else {
      Text(r);
    }
  }

  void Justification(std::string_view code) {
    justification_ = code.empty() ? 'E' : code[0];
    if (justification_ == 'N') {
      const std::size_t open = code.find('\\');
      fill_ = open != std::string_view::npos && open + 1 < code.size() && code[open + 1] != '\\' ? code[open + 1] : ' ';
      fillTo_ = Clamp(ReadNumber(code.substr(1, open == std::string_view::npos ? code.size() : open - 1)), 0,
                      kMaxColumns);
    } else if (justification_ != 'D' && justification_ != 'C' && justification_ != 'A') {
      justification_ = 'E';
    }
  }

  void Control(std::string_view text) {
    for (const char c : text) {
      switch (c) {
        case '@':
          condensed_ = false;
          attributes_ = 0;
          if (!doc_.pages.empty() && !pendingPage_ && !PageHasContent()) doc_.pages.back().condensed = false;
          break;
        case 'e':
          BreakPage();
          break;
        case 'q':
          condensed_ = true;
          if (!doc_.pages.empty() && !pendingPage_) doc_.pages.back().condensed = true;
          break;
        case 'b':
          attributes_ ^= kBold;
          break;
        case 'u':
          attributes_ ^= kUnderline;
          break;
        case 'i':
          attributes_ ^= kItalic;
          break;
        default:
          break;
      }
    }
  }

  void Text(std::string_view r) {
    const std::size_t first = r.find(',');
    const std::size_t last = r.rfind(',');
    if (first == std::string_view::npos || last == first) return;  // not a text record
    // A column past the widest line puts its text off the page.
    const int column = Clamp(ReadNumber(r.substr(0, first)), 0, kMaxColumns + 1);
    const std::string_view raw = r.substr(first + 1, last - first - 1);
    const int lineFeeds = Clamp(ReadNumber(r.substr(last + 1)), -kMaxLines, kMaxLines);

    if (line_ >= pageLength_) {  // the page is full: the text opens the next one
      pendingPage_ = true;
      line_ = 0;
    }
    if (column > 0) column_ = column - 1;
    std::string text = Justify(raw, justification_);
    if (justification_ == 'N' && column_ + static_cast<int>(text.size()) < fillTo_) {
      text.append(static_cast<std::size_t>(fillTo_ - column_) - text.size(), fill_);
    }
    Put(text);
    column_ = std::min(column_ + static_cast<int>(raw.size()), kMaxColumns);

    if (lineFeeds != 0) {
      line_ = std::max(0, line_ + lineFeeds);
      column_ = 0;
      justification_ = 'E';
    }
  }

  void Put(const std::string& text) {
    PrintPage& page = CurrentPage();
    if (text.empty() || line_ >= page.length || column_ >= kMaxColumns) return;
    if (static_cast<int>(page.lines.size()) <= line_) page.lines.resize(static_cast<std::size_t>(line_) + 1);
    PrintLine& l = page.lines[static_cast<std::size_t>(line_)];
    const std::size_t end = std::min<std::size_t>(static_cast<std::size_t>(column_) + text.size(), kMaxColumns);
    if (l.text.size() < end) {
      l.text.resize(end, ' ');
      l.attributes.resize(end, 0);
    }
    for (std::size_t k = static_cast<std::size_t>(column_); k < end; ++k) {
      char c = text[k - static_cast<std::size_t>(column_)];
      const auto b = static_cast<unsigned char>(c);
      if (b < 32 || b == 127 || b == 255) c = ' ';
      l.text[k] = c;
      l.attributes[k] = attributes_;
    }
  }

  PrintDocument doc_;
  bool pendingPage_ = false;
  int pageLength_ = kDefaultPageLength;
  int line_ = 0;
  int column_ = 0;
  char justification_ = 'E';
  char fill_ = ' ';
  int fillTo_ = 0;
  bool condensed_ = false;
  uint8_t attributes_ = 0;
};

}  // namespace

PrintDocument LayOutScript(std::string_view script) { return Layout().Run(script); }

std::string LineAsUtf8(const PrintLine& line) {
  std::string_view text = line.text;
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return Cp850ToUtf8(text);
}

std::string RenderText(const PrintDocument& document) {
  std::string out;
  for (std::size_t p = 0; p < document.pages.size(); ++p) {
    if (p > 0) out += "\f\n";
    const auto& lines = document.pages[p].lines;
    std::size_t count = lines.size();
    while (count > 0 && LineAsUtf8(lines[count - 1]).empty()) --count;
    for (std::size_t k = 0; k < count; ++k) out += LineAsUtf8(lines[k]) + "\n";
  }
  return out;
}

int WidestLine(const PrintDocument& document) {
  int widest = 1;
  for (const PrintPage& page : document.pages) {
    for (const PrintLine& l : page.lines) {
      const std::size_t end = l.text.find_last_not_of(' ');
      if (end != std::string::npos) widest = std::max(widest, static_cast<int>(end) + 1);
    }
  }
  return widest;
}

}  // namespace kestrova::jobprint
