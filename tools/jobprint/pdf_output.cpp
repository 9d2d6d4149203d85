#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>

#include "messages.h"
#include "outputs.h"
#include "platform/codepage.h"

// Fontconfig, under cairo, keeps its font caches until the process ends by
// design; the leak checker of the sanitizer builds is told so, for the
// print program and for its tests alike.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

namespace kestrova::jobprint {
namespace {

// A4 in points.
constexpr double kShortSide = 595.276;
constexpr double kLongSide = 841.890;
constexpr double kMargin = 28.0;        // about 1 cm
constexpr const char* kFont = "DejaVu Sans Mono";
constexpr int kPortraitColumns = 80;    // a letter page never looks smaller than this
constexpr int kCondensedColumns = 135;  // the width condensed pitch was made for

struct Run {
  std::size_t start;
  std::size_t end;
  uint8_t attributes;
};

void SelectFont(cairo_t* cr, uint8_t attributes, double size) {
  cairo_select_font_face(cr, kFont, (attributes & kItalic) ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                         (attributes & kBold) ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

void DrawPage(cairo_t* cr, const PrintPage& page, double width, double height, int widest) {
  const int columns = std::max(widest, page.condensed ? kCondensedColumns : kPortraitColumns);
  const int rows = std::max(page.length, 1);
  // A monospaced glyph is about 0.6 of the font size wide; the size is the
  // largest that fits both the columns and the lines.
  const double size = std::min((width - 2 * kMargin) / (columns * 0.6), (height - 2 * kMargin) / rows);
  SelectFont(cr, 0, size);
  cairo_text_extents_t m;
  cairo_text_extents(cr, "M", &m);
  const double advance = m.x_advance > 0 ? m.x_advance : size * 0.6;
  const double lineHeight = (height - 2 * kMargin) / rows;
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (std::size_t k = 0; k < page.lines.size(); ++k) {
    const PrintLine& line = page.lines[k];
    const double baseline = kMargin + lineHeight * (static_cast<double>(k) + 0.8);
    std::vector<Run> runs;
    for (std::size_t c = 0; c < line.text.size(); ++c) {
      if (runs.empty() || runs.back().attributes != line.attributes[c]) runs.push_back({c, c, line.attributes[c]});
      runs.back().end = c + 1;
    }
    for (const Run& run : runs) {
      const std::string text = Cp850ToUtf8(std::string_view(line.text).substr(run.start, run.end - run.start));
      const double x = kMargin + advance * static_cast<double>(run.start);
      SelectFont(cr, run.attributes, size);
      cairo_move_to(cr, x, baseline);
      cairo_show_text(cr, text.c_str());
      if (run.attributes & kUnderline) {
        cairo_set_line_width(cr, size / 16);
        cairo_move_to(cr, x, baseline + size / 8);
        cairo_line_to(cr, x + advance * static_cast<double>(run.end - run.start), baseline + size / 8);
        cairo_stroke(cr);
      }
    }
  }
}

}  // namespace

void MeasureSink::Page(const PrintPage& page, const LayoutState&) {
  widest = std::max(widest, WidestLine(page));
  ++pages;
  if (page.condensed) ++condensedPages;
}

PdfSink::PdfSink(const std::string& path, int widest) : path_(path), widest_(widest) {
  surface_ = cairo_pdf_surface_create(path.c_str(), kShortSide, kLongSide);
  if (cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS) cr_ = cairo_create(surface_);
}

PdfSink::~PdfSink() { Close(); }

void PdfSink::Page(const PrintPage& page, const LayoutState&) {
  if (cr_ == nullptr || closed_) return;
  const bool landscape = page.condensed || widest_ > kPortraitColumns + 20;
  const double width = landscape ? kLongSide : kShortSide;
  const double height = landscape ? kShortSide : kLongSide;
  cairo_pdf_surface_set_size(surface_, width, height);
  DrawPage(cr_, page, width, height, page.condensed ? std::max(widest_, kCondensedColumns) : widest_);
  cairo_show_page(cr_);
}

std::string PdfSink::Close() {
  if (closed_) return std::string();
  closed_ = true;
  if (cr_ != nullptr) cairo_destroy(cr_);
  const bool created = cr_ != nullptr;
  cr_ = nullptr;
  cairo_surface_finish(surface_);
  const cairo_status_t status = cairo_surface_status(surface_);
  cairo_surface_destroy(surface_);
  surface_ = nullptr;
  if (!created) return Say("NO ES POT CREAR EL FITXER"_cp) + " " + Utf8ToCp850(path_);
  return status == CAIRO_STATUS_SUCCESS ? std::string() : Say("NO ES POT ESCRIURE EL FITXER"_cp) + " " + Utf8ToCp850(path_);
}

std::string WritePdf(const PrintDocument& document, const std::string& path) {
  PdfSink pdf(path, WidestLine(document));
  for (const PrintPage& page : document.pages) pdf.Page(page, LayoutState());
  return pdf.Close();
}

std::string WritePdfFile(const std::string& scriptPath, const std::string& pdfPath, MeasureSink* measured) {
  // Two passes over the script: the font is sized for the widest line of the
  // whole document before the first page is drawn.
  MeasureSink measure;
  ScriptLayout first(measure);
  if (!FeedScriptFile(scriptPath, first)) return Say("NO ES POT LLEGIR EL GUIÓ D'IMPRESSIÓ"_cp) + " " + Utf8ToCp850(scriptPath);
  first.Finish();
  if (measured != nullptr) *measured = measure;
  PdfSink pdf(pdfPath, measure.widest);
  ScriptLayout second(pdf);
  if (!FeedScriptFile(scriptPath, second)) return Say("NO ES POT LLEGIR EL GUIÓ D'IMPRESSIÓ"_cp) + " " + Utf8ToCp850(scriptPath);
  second.Finish();
  return pdf.Close();
}

}  // namespace kestrova::jobprint
