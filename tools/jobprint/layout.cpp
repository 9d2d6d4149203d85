#include "layout.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

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

// Collects the pages of a whole document (LayOutScript).
class DocumentSink : public PageSink {
 public:
  explicit DocumentSink(PrintDocument& document) : document_(document) {}
  void Page(const PrintPage& page, const LayoutState&) override { document_.pages.push_back(page); }

 private:
  PrintDocument& document_;
};

// Keeps the first page handed over and stops caring after it (ReLayOutPage).
class FirstPageSink : public PageSink {
 public:
  explicit FirstPageSink(PrintPage& page) : page_(page) {}
  void Page(const PrintPage& page, const LayoutState&) override {
    if (!done) page_ = page;
    done = true;
  }
  bool done = false;

 private:
  PrintPage& page_;
};

// Calls `record` for each record of the text with its offset; the text's
// last record may lack its line end.
template <typename F>
void ForEachRecord(std::string_view text, std::size_t base, F&& record) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view r = text.substr(start, end - start);
    if (!r.empty() && r.back() == '\r') r.remove_suffix(1);
    if (!record(r, base + start)) return;
    start = end + 1;
  }
}

// Reads a script file in pieces and calls `record` for each record until it
// returns false.  False when the file cannot be opened.
template <typename F>
bool ForEachFileRecord(const std::string& path, std::size_t from, F&& record) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  if (from > 0 && std::fseek(file, static_cast<long>(from), SEEK_SET) != 0) {
    std::fclose(file);
    return false;
  }
  std::string buffer;             // the records not yet handed out
  std::size_t bufferOffset = from;
  char chunk[1 << 16];
  bool going = true;
  while (going) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, file);
    if (n == 0) break;
    buffer.append(chunk, n);
    const std::size_t lastEnd = buffer.rfind('\n');
    if (lastEnd == std::string::npos) continue;
    ForEachRecord(std::string_view(buffer).substr(0, lastEnd + 1), bufferOffset,
                  [&](std::string_view r, std::size_t offset) { return going = record(r, offset); });
    buffer.erase(0, lastEnd + 1);
    bufferOffset += lastEnd + 1;
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (going && !buffer.empty()) ForEachRecord(buffer, bufferOffset, record);
  return !failed;
}

}  // namespace

ScriptLayout::ScriptLayout(PageSink& sink, const LayoutState& start) : sink_(sink), state_(start) {
  // A page laid out again starts after a page that was handed over before:
  // the empty stand-in for it is never handed over.
  standIn_ = state_.hasPage;
}

bool ScriptLayout::PageHasContent() const {
  if (!state_.hasPage) return false;
  for (const PrintLine& l : page_.lines) {
    if (l.text.find_first_not_of(' ') != std::string::npos) return true;
  }
  return false;
}

// Ends the current page when something is on it; the next text opens a
// fresh one at its top.
void ScriptLayout::BreakPage() {
  if (PageHasContent()) state_.pendingPage = true;
  state_.line = 0;
  state_.column = 0;
}

PrintPage& ScriptLayout::CurrentPage() {
  if (!state_.hasPage || state_.pendingPage) {
    // The page before is finished: nothing written from here on reaches it.
    if (state_.hasPage && !standIn_) sink_.Page(page_, pageStart_);
    standIn_ = false;
    pageStart_ = recordStart_;
    page_ = PrintPage();
    page_.length = state_.pageLength;
    page_.condensed = state_.condensed;
    state_.hasPage = true;
    state_.pendingPage = false;
  }
  return page_;
}

void ScriptLayout::Finish() {
  if (!state_.hasPage) {
    recordStart_ = state_;
    CurrentPage();
  }
  sink_.Page(page_, pageStart_);
  state_.hasPage = false;
}

void ScriptLayout::Record(std::string_view r, std::size_t offset) {
  state_.offset = offset;
  recordStart_ = state_;
  if (r.starts_with("DEVICE")) {
    if (!hasDevice_) {
      device_ = std::string(r.substr(6));
      hasDevice_ = true;
    }
  } else if (r.starts_with("PAGE")) {
    const int64_t n = ReadNumber(r.substr(4));
    state_.pageLength = n > 0 ? Clamp(n, 1, kMaxLines) : kDefaultPageLength;
    BreakPage();
    if (!state_.pendingPage && state_.hasPage) page_.length = state_.pageLength;
  } else if (r.starts_with("JUS")) {
    Justification(r.substr(3));
  } else if (r.starts_with("*")) {
    Control(r.substr(1));
  } else {
    Text(r);
  }
}

void ScriptLayout::Justification(std::string_view code) {
  char& mode = state_.justification;
  mode = code.empty() ? 'E' : code[0];
  if (mode == 'N') {
    const std::size_t open = code.find('\\');
    state_.fill =
        open != std::string_view::npos && open + 1 < code.size() && code[open + 1] != '\\' ? code[open + 1] : ' ';
    state_.fillTo =
        Clamp(ReadNumber(code.substr(1, open == std::string_view::npos ? code.size() : open - 1)), 0, kMaxColumns);
  } else if (mode != 'D' && mode != 'C' && mode != 'A') {
    mode = 'E';
  }
}

void ScriptLayout::Control(std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '@':
        state_.condensed = false;
        state_.attributes = 0;
        if (state_.hasPage && !state_.pendingPage && !PageHasContent()) page_.condensed = false;
        break;
      case 'e':
        BreakPage();
        break;
      case 'q':
        state_.condensed = true;
        if (state_.hasPage && !state_.pendingPage) page_.condensed = true;
        break;
      case 'b':
        state_.attributes ^= kBold;
        break;
      case 'u':
        state_.attributes ^= kUnderline;
        break;
      case 'i':
        state_.attributes ^= kItalic;
        break;
      default:
        break;
    }
  }
}

void ScriptLayout::Text(std::string_view r) {
  const std::size_t first = r.find(',');
  const std::size_t last = r.rfind(',');
  if (first == std::string_view::npos || last == first) return;  // not a text record
  // A column past the widest line puts its text off the page.
  const int column = Clamp(ReadNumber(r.substr(0, first)), 0, kMaxColumns + 1);
  const std::string_view raw = r.substr(first + 1, last - first - 1);
  const int lineFeeds = Clamp(ReadNumber(r.substr(last + 1)), -kMaxLines, kMaxLines);

  if (state_.line >= state_.pageLength) {  // the page is full: the text opens the next one
    state_.pendingPage = true;
    state_.line = 0;
  }
  if (column > 0) state_.column = column - 1;
  std::string text = Justify(raw, state_.justification);
  if (state_.justification == 'N' && state_.column + static_cast<int>(text.size()) < state_.fillTo) {
    text.append(static_cast<std::size_t>(state_.fillTo - state_.column) - text.size(), state_.fill);
  }
  Put(text);
  state_.column = std::min(state_.column + static_cast<int>(raw.size()), kMaxColumns);

  if (lineFeeds != 0) {
    state_.line = std::max(0, state_.line + lineFeeds);
    state_.column = 0;
    state_.justification = 'E';
  }
}

void ScriptLayout::Put(const std::string& text) {
  PrintPage& page = CurrentPage();
  const int line = state_.line;
  const int column = state_.column;
  if (text.empty() || line >= page.length || column >= kMaxColumns) return;
  if (static_cast<int>(page.lines.size()) <= line) page.lines.resize(static_cast<std::size_t>(line) + 1);
  PrintLine& l = page.lines[static_cast<std::size_t>(line)];
  const std::size_t end = std::min<std::size_t>(static_cast<std::size_t>(column) + text.size(), kMaxColumns);
  if (l.text.size() < end) {
    l.text.resize(end, ' ');
    l.attributes.resize(end, 0);
  }
  for (std::size_t k = static_cast<std::size_t>(column); k < end; ++k) {
    char c = text[k - static_cast<std::size_t>(column)];
    const auto b = static_cast<unsigned char>(c);
    if (b < 32 || b == 127 || b == 255) c = ' ';
    l.text[k] = c;
    l.attributes[k] = state_.attributes;
  }
}

void FeedScript(std::string_view script, ScriptLayout& layout) {
  ForEachRecord(script, 0, [&](std::string_view r, std::size_t offset) {
    layout.Record(r, offset);
    return true;
  });
}

bool FeedScriptFile(const std::string& path, ScriptLayout& layout) {
  return ForEachFileRecord(path, 0, [&](std::string_view r, std::size_t offset) {
    layout.Record(r, offset);
    return true;
  });
}

bool ReadScriptDevice(const std::string& path, std::string& device) {
  device.clear();
  return ForEachFileRecord(path, 0, [&](std::string_view r, std::size_t) {
    if (!r.starts_with("DEVICE")) return true;
    device = std::string(r.substr(6));
    return false;
  });
}

PrintDocument LayOutScript(std::string_view script) {
  PrintDocument document;
  DocumentSink sink(document);
  ScriptLayout layout(sink);
  FeedScript(script, layout);
  layout.Finish();
  document.device = layout.Device();
  document.hasDevice = layout.HasDevice();
  return document;
}

bool ReLayOutPage(const std::string& path, const LayoutState& start, PrintPage& page) {
  FirstPageSink sink(page);
  ScriptLayout layout(sink, start);
  const bool read = ForEachFileRecord(path, start.offset, [&](std::string_view r, std::size_t offset) {
    layout.Record(r, offset);
    return !sink.done;
  });
  if (!read) return false;
  if (!sink.done) layout.Finish();
  return true;
}

std::string LineAsUtf8(const PrintLine& line) {
  std::string_view text = line.text;
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return Cp850ToUtf8(text);
}

std::string PageText(const PrintPage& page) {
  std::string out;
  std::size_t count = page.lines.size();
  while (count > 0 && page.lines[count - 1].text.find_first_not_of(' ') == std::string::npos) --count;
  for (std::size_t k = 0; k < count; ++k) out += LineAsUtf8(page.lines[k]) + "\n";
  return out;
}

std::string RenderText(const PrintDocument& document) {
  std::string out;
  for (std::size_t p = 0; p < document.pages.size(); ++p) {
    if (p > 0) out += "\f\n";
    out += PageText(document.pages[p]);
  }
  return out;
}

int WidestLine(const PrintPage& page) {
  int widest = 0;
  for (const PrintLine& l : page.lines) {
    const std::size_t end = l.text.find_last_not_of(' ');
    if (end != std::string::npos) widest = std::max(widest, static_cast<int>(end) + 1);
  }
  return widest;
}

int WidestLine(const PrintDocument& document) {
  int widest = 1;
  for (const PrintPage& page : document.pages) widest = std::max(widest, WidestLine(page));
  return widest;
}

}  // namespace kestrova::jobprint
