#include <cstdio>

#include "messages.h"
#include "outputs.h"
#include "platform/codepage.h"

namespace kestrova::jobprint {

void TextSink::Page(const PrintPage& page, const LayoutState&) {
  std::string text = first_ ? std::string() : std::string("\f\n");
  first_ = false;
  text += PageText(page);
  std::fwrite(text.data(), 1, text.size(), out_);
}

std::string WriteTextFile(const std::string& scriptPath, const std::string& textPath) {
  const bool toStandardOutput = textPath == "-";
  std::FILE* out = toStandardOutput ? stdout : std::fopen(textPath.c_str(), "wb");
  if (out == nullptr) return Say("NO ES POT CREAR EL FITXER"_cp) + " " + Utf8ToCp850(textPath);
  TextSink sink(out);
  ScriptLayout layout(sink);
  const bool read = FeedScriptFile(scriptPath, layout);
  layout.Finish();
  const bool written = std::fflush(out) == 0 && std::ferror(out) == 0;
  const bool closed = toStandardOutput || std::fclose(out) == 0;
  if (!read) return Say("NO ES POT LLEGIR EL GUIÓ D'IMPRESSIÓ"_cp) + " " + Utf8ToCp850(scriptPath);
  if (!written || !closed) return Say("NO ES POT ESCRIURE EL FITXER"_cp) + " " + Utf8ToCp850(textPath);
  return std::string();
}

}  // namespace kestrova::jobprint
