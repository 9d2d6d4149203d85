// Terminal input bytes and key scripts: whatever arrives, the decoder ends,
// holds no more than a sequence's worth of bytes, and makes only events the
// key reader can take.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/headless.h"
#include "platform/terminal_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  kestrova::TerminalDecoder decoder;
  std::vector<kestrova::InputEvent> events;
  // Fed in two pieces, cut where the first byte says, to reach the paths
  // that wait for the rest of a sequence.
  const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  kestrova::DecodeTerminalInput(decoder, std::string_view(bytes).substr(0, cut), events);
  kestrova::DecodeTerminalInput(decoder, std::string_view(bytes).substr(cut), events);
  kestrova::DecodeTerminalTimeout(decoder, events);
  if (!decoder.pending.empty() || decoder.inPaste) __builtin_trap();
  for (const kestrova::InputEvent& e : events) {
    if (e.kind == kestrova::InputKind::kMouse &&
        (e.row < 1 || e.row > kestrova::kScreenRows || e.column < 1 || e.column > kestrova::kScreenColumns)) {
      __builtin_trap();
    }
  }
  std::vector<kestrova::InputEvent> scripted;
  std::string problem;
  kestrova::ParseKeyScript(bytes, scripted, problem);
  return 0;
}
