// docs/terminal-keys.md is the operator's reference for what each terminal
// sequence does; this walks its key table through the decoder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/terminal_input.h"

namespace kestrova {
namespace {

std::string SequenceBytes(const std::string& notation) {
  std::istringstream in(notation);
  std::string token, bytes;
  while (in >> token) {
    if (token == "ESC") bytes += '\x1b';
    else if (token == "CR") bytes += '\r';
    else if (token == "LF") bytes += '\n';
    else if (token == "TAB") bytes += '\t';
    else if (token == "BS") bytes += '\b';
    else if (token == "DEL") bytes += '\x7f';
    else if (token == "SP") bytes += ' ';
    else if (token.size() == 2 && token[0] == '^') bytes += static_cast<char>(token[1] - '@');
    else bytes += token;
  }
  return bytes;
}

uint16_t ModifierNames(const std::string& names) {
  std::istringstream in(names);
  std::string name;
  uint16_t m = 0;
  while (in >> name) {
    if (name == "Shift") m |= kShiftPressed;
    else if (name == "Ctrl") m |= kLeftCtrlPressed;
    else if (name == "Alt") m |= kRightAltPressed;
    else if (name == "LAlt") m |= kLeftAltPressed;
    else ADD_FAILURE() << "unknown modifier " << name;
  }
  return m;
}

std::vector<std::string> Columns(const std::string& line) {
  std::vector<std::string> columns;
  std::size_t start = 1;
  for (std::size_t bar = line.find('|', start); bar != std::string::npos; bar = line.find('|', start)) {
    std::string c = line.substr(start, bar - start);
    while (!c.empty() && c.front() == ' ') c.erase(0, 1);
    while (!c.empty() && c.back() == ' ') c.pop_back();
    columns.push_back(c);
    start = bar + 1;
  }
  return columns;
}

TEST(TerminalKeysDoc, EveryRowOfTheKeyTableDecodesAsDocumented) {
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  if (source == nullptr) GTEST_SKIP() << "KESTROVA_SOURCE_DIR not set";
  std::string doc;
  ASSERT_TRUE(ReadWholeFile(std::string(source) + "/docs/terminal-keys.md", doc));
  const std::size_t table = doc.find("## Key table");
  ASSERT_NE(table, std::string::npos);
  std::istringstream lines(doc.substr(table));
  std::string line;
  int rows = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("| `", 0) != 0) continue;
    const std::vector<std::string> c = Columns(line);
    ASSERT_EQ(c.size(), 4u) << line;
    const std::string bytes = SequenceBytes(c[0].substr(1, c[0].size() - 2));
    TerminalDecoder decoder;
    std::vector<InputEvent> events;
    DecodeTerminalInput(decoder, bytes, events);
    DecodeTerminalTimeout(decoder, events);
    // An Alt+digit alone is closed by the pause that follows it.
    if (events.size() == 2 && events[1].kind == InputKind::kKey && events[1].key == 0 &&
        events[1].modifiers == 0) {
      events.pop_back();
    }
    ASSERT_EQ(events.size(), 1u) << line;
    EXPECT_EQ(events[0].kind, InputKind::kKey) << line;
    EXPECT_EQ(events[0].key, std::stoul(c[2], nullptr, 16)) << line;
    EXPECT_EQ(events[0].modifiers, ModifierNames(c[3])) << line;
    ++rows;
  }
  EXPECT_GT(rows, 150);
}

}  // namespace
}  // namespace kestrova
