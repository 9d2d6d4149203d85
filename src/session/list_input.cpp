#include "session/list_input.h"

namespace kestrova {
namespace {

constexpr char kEndMark = 26;

bool AtEnd(const ListInput& in) { return in.endMarkSeen || in.pos >= in.text.size(); }

char Peek(ListInput& in) {
  if (in.pos < in.text.size() && in.text[in.pos] == kEndMark) in.endMarkSeen = true;
  return AtEnd(in) ? '\0' : in.text[in.pos];
}

// Consumes a line end at the current position (CR, CR LF, or a bare LF).
bool ConsumeLineEnd(ListInput& in) {
  const char c = Peek(in);
  if (c == '\r') {
    ++in.pos;
    if (Peek(in) == '\n') ++in.pos;
    ++in.line;
    return true;
  }
  if (c == '\n') {
    ++in.pos;
    ++in.line;
    return true;
  }
  return false;
}

// After an item: consume the comma or the line end that closes it.
void ConsumeSeparator(ListInput& in) {
  if (Peek(in) == ',') {
    ++in.pos;
    return;
  }
  ConsumeLineEnd(in);
}

}  // namespace

ListInput MakeListInput(std::string_view text) {
  ListInput in;
  in.text = text;
  return in;
}

bool ListInputAtEnd(const ListInput& in) {
  ListInput copy = in;
  Peek(copy);
  return AtEnd(copy);
}

void SkipCommentLines(ListInput& in) {
  while (Peek(in) == '\'') {
    while (!AtEnd(in) && Peek(in) != '\r' && Peek(in) != '\n') ++in.pos;
    ConsumeLineEnd(in);
  }
}

ItemStatus ReadTextItem(ListInput& in, std::string& item) {
  item.clear();
  // Blanks (and dropped tabs and line feeds that follow a CR) before the item.
  for (;;) {
    const char c = Peek(in);
    if (c == ' ' || c == '\t') {
      ++in.pos;
    } else if (c == '\n' && in.pos > 0 && in.text[in.pos - 1] == '\r') {
      ++in.pos;
    } else {
      break;
    }
  }
  in.itemLine = in.line;
  if (AtEnd(in)) return ItemStatus::kEnd;

  if (Peek(in) == '"') {
    ++in.pos;
    for (;;) {
      const char c = Peek(in);
      if (AtEnd(in)) return ItemStatus::kOk;  // unterminated: the text so far
      ++in.pos;
      if (c == '"') break;
      if (c == '\n') {
        ++in.line;
        continue;
      }
      if (c == '\t') continue;
      if (c == '\r') {
        ++in.line;
        continue;
      }
      item.push_back(c);
    }
    // Anything after the closing quote up to the separator is not part of it.
    while (!AtEnd(in) && Peek(in) != ',' && Peek(in) != '\r' && Peek(in) != '\n') ++in.pos;
    ConsumeSeparator(in);
    return ItemStatus::kOk;
  }

  for (;;) {
    const char c = Peek(in);
    if (AtEnd(in) || c == ',' || c == '\r' || c == '\n') break;
    ++in.pos;
    if (c == '\t') continue;
    item.push_back(c);
  }
  while (!item.empty() && item.back() == ' ') item.pop_back();
  ConsumeSeparator(in);
  return ItemStatus::kOk;
}

ItemStatus ReadNumberItem(ListInput& in, int16_t& value) {
  value = 0;
  std::string item;
  const ItemStatus status = ReadTextItem(in, item);
  if (status != ItemStatus::kOk) return status;
  std::string_view text = item;
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return item.empty() ? ItemStatus::kOk : ItemStatus::kNotNumber;
  int32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return ItemStatus::kNotNumber;
    v = v * 10 + (c - '0');
    if (v > 32768) return ItemStatus::kNotNumber;
  }
  if (negative) v = -v;
  if (v > 32767 || v < -32768) return ItemStatus::kNotNumber;
  value = static_cast<int16_t>(v);
  return ItemStatus::kOk;
}

}  // namespace kestrova
