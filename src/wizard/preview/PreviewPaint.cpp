#include "wizard/preview/PreviewPaint.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "core/Exceptions.h"
#include "system/Platform.h"

namespace {
using K = TLayoutKind;

// The colours of the window under Wine (its default theme), as the screenshots show them.
constexpr uint32_t kFace = 0xF5F5F5, kLight = 0xE3E3E3, kHighlight = 0xFFFFFF, kShadow = 0xA6A6A6,
                   kDarkShadow = 0x6A6A6A, kBorder = 0xAEAEAE, kAccent = 0x3096FA, kCaptionBar = 0x3296FA,
                   kText = 0x000000, kGrayText = 0xA0A0A0, kLink = 0x0000FF, kWhite = 0xFFFFFF, kMark = 0x151515;
// The design sizes of the frame: border, caption bar and the line under it.
constexpr int kBorder3d = 3, kCaptionHeight = 18, kCaptionGap = 1, kScrollWidth = 17, kCheckSize = 13;

// The font standing in for 宋体: the one Wine shows Chinese text in here.
const char* const kFontFile = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
const char* const kFontFamily = "WenQuanYi Micro Hei";

void SetColour(cairo_t* cr, uint32_t rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

void Fill(cairo_t* cr, int x, int y, int w, int h, uint32_t rgb) {
  if (w <= 0 || h <= 0) return;
  SetColour(cr, rgb);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
}

// A one-pixel line along a rectangle's edge, drawn as filled pixels so it stays sharp.
void HLine(cairo_t* cr, int x, int y, int w, int t, uint32_t rgb) { Fill(cr, x, y, w, t, rgb); }
void VLine(cairo_t* cr, int x, int y, int h, int t, uint32_t rgb) { Fill(cr, x, y, t, h, rgb); }

// Two lines of one pixel each side: outer top-left, inner top-left, outer bottom-right, inner bottom-right.
void Edge(cairo_t* cr, const TScaledRect& r, int t, uint32_t outerTL, uint32_t innerTL, uint32_t outerBR, uint32_t innerBR) {
  HLine(cr, r.X, r.Y, r.W - t, t, outerTL);
  VLine(cr, r.X, r.Y, r.H - t, t, outerTL);
  HLine(cr, r.X, r.Y + r.H - t, r.W, t, outerBR);
  VLine(cr, r.X + r.W - t, r.Y, r.H, t, outerBR);
  HLine(cr, r.X + t, r.Y + t, r.W - 3 * t, t, innerTL);
  VLine(cr, r.X + t, r.Y + t, r.H - 3 * t, t, innerTL);
  HLine(cr, r.X + t, r.Y + r.H - 2 * t, r.W - 2 * t, t, innerBR);
  VLine(cr, r.X + r.W - 2 * t, r.Y + t, r.H - 2 * t, t, innerBR);
}

// A flat box with a one-pixel border and cut corners, as Wine draws buttons and boxes.
void FlatBox(cairo_t* cr, const TScaledRect& r, int t, uint32_t fill, uint32_t border) {
  Fill(cr, r.X + t, r.Y + t, r.W - 2 * t, r.H - 2 * t, fill);
  HLine(cr, r.X + t, r.Y, r.W - 2 * t, t, border);
  HLine(cr, r.X + t, r.Y + r.H - t, r.W - 2 * t, t, border);
  VLine(cr, r.X, r.Y + t, r.H - 2 * t, t, border);
  VLine(cr, r.X + r.W - t, r.Y + t, r.H - 2 * t, t, border);
}

// A caption without its & marks, with the letter after a single & underlined.
struct TMarkedText {
  std::string Utf8;
  PangoAttrList* Attrs = nullptr;
  TMarkedText(const AnsiString& caption, bool accelerators, bool underlineAll) {
    const std::string in = GbkToUtf8(caption);
    Attrs = pango_attr_list_new();
    if (!accelerators) {
      Utf8 = in;
    } else {
      // '&' is one byte in UTF-8 and never part of another character.
      for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '&' && i + 1 < in.size()) {
          ++i;
          if (in[i] != '&') {
            size_t n = 1;
            while (i + n < in.size() && (static_cast<unsigned char>(in[i + n]) & 0xC0) == 0x80) ++n;
            PangoAttribute* u = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
            u->start_index = static_cast<guint>(Utf8.size());
            u->end_index = static_cast<guint>(Utf8.size() + n);
            pango_attr_list_insert(Attrs, u);
          }
        }
        Utf8 += in[i];
      }
    }
    if (underlineAll) pango_attr_list_insert(Attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
  }
  ~TMarkedText() { pango_attr_list_unref(Attrs); }
  TMarkedText(const TMarkedText&) = delete;
  TMarkedText& operator=(const TMarkedText&) = delete;
};

// Controls whose captions show accelerators: labels and buttons (a static without SS_NOPREFIX).
bool ShowsAccelerators(TLayoutKind kind) {
  return kind == K::Label || kind == K::Button || kind == K::GroupBox;
}
}  // namespace

struct TPagePainter::TImpl {
  TLayoutScale Scale;
  std::shared_ptr<const TPreviewPicture> Icon;
  PangoFontMap* FontMap = nullptr;
  PangoContext* Context = nullptr;

  explicit TImpl(const TLayoutScale& scale) : Scale(scale) {
    FontMap = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
    // The font file alone, when it is there: the same face on every machine, and no scan of
    // every font installed. Elsewhere fontconfig picks the family or what it has for it.
    if (FontMap && PANGO_IS_FC_FONT_MAP(FontMap) && access(kFontFile, R_OK) == 0) {
      FcConfig* config = FcConfigCreate();
      // Bold made from the regular face, as Wine and fontconfig's own rules do: the font has no bold.
      static const char kSyntheticBold[] =
          "<fontconfig><match target=\"font\"><test name=\"weight\" compare=\"less_eq\"><const>medium</const></test>"
          "<test target=\"pattern\" name=\"weight\" compare=\"more_eq\"><const>bold</const></test>"
          "<edit name=\"embolden\" mode=\"assign\"><bool>true</bool></edit>"
          "<edit name=\"weight\" mode=\"assign\"><const>bold</const></edit></match></fontconfig>";
      if (config && FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(kFontFile))) {
        FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(kSyntheticBold), FcFalse);
        pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(FontMap), config);
      }
      if (config) FcConfigDestroy(config);
    }
    if (!FontMap) FontMap = pango_cairo_font_map_get_default(), g_object_ref(FontMap);
    Context = pango_font_map_create_context(FontMap);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(Context, options);
    cairo_font_options_destroy(options);
  }
  ~TImpl() {
    if (Context) g_object_unref(Context);
    if (FontMap) g_object_unref(FontMap);
  }

  int S(int v) const { return Scale.Size(v); }

  // A layout of text in a font of that design height; wrapWidth 0 for one line.
  PangoLayout* Layout(const AnsiString& text, int fontHeight, bool bold, bool accelerators, bool underline,
                      int wrapWidth) const {
    PangoLayout* layout = pango_layout_new(Context);
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, kFontFamily);
    pango_font_description_set_absolute_size(font, std::abs(Scale.Font(fontHeight)) * PANGO_SCALE);
    pango_font_description_set_weight(font, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    TMarkedText marked(text, accelerators, underline);
    // Bold made from the regular face is a pixel wider a character, as Windows makes it.
    if (bold) pango_attr_list_insert(marked.Attrs, pango_attr_letter_spacing_new(S(1) * PANGO_SCALE));
    pango_layout_set_text(layout, marked.Utf8.data(), static_cast<int>(marked.Utf8.size()));
    pango_layout_set_attributes(layout, marked.Attrs);
    if (wrapWidth > 0) {
      pango_layout_set_width(layout, wrapWidth * PANGO_SCALE);
      pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    }
    return layout;
  }
  PangoLayout* RowLayout(const TLayoutItem& item, const AnsiString& text, int wrapWidth) const {
    return Layout(text, item.FontHeight, (item.Flags & lfBold) != 0, ShowsAccelerators(item.Kind), item.Kind == K::Link,
                  wrapWidth);
  }
  // The height of one line of the UI font.
  int LineHeight() const {
    PangoLayout* l = Layout("Ag", -12, false, false, false, 0);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(l, &w, &h);
    g_object_unref(l);
    return h;
  }

  void Text(cairo_t* cr, PangoLayout* layout, int x, int y, uint32_t colour) const {
    SetColour(cr, colour);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
  }

  // One line of text, clipped to the box, vertically centred when centreY.
  void LineIn(cairo_t* cr, const TLayoutItem& item, const AnsiString& text, const TScaledRect& box, int dx, bool centreX,
              uint32_t colour, bool accelerators = true) const {
    PangoLayout* l = Layout(text, item.FontHeight, (item.Flags & lfBold) != 0, accelerators, false, 0);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(l, &w, &h);
    cairo_save(cr);
    cairo_rectangle(cr, box.X, box.Y, box.W, box.H);
    cairo_clip(cr);
    const int x = centreX ? box.X + (box.W - w) / 2 : box.X + dx;
    Text(cr, l, x, box.Y + (box.H - h) / 2, colour);
    cairo_restore(cr);
    g_object_unref(l);
  }

  void ScrollBar(cairo_t* cr, const TScaledRect& list, int contentRows, int visibleRows) const {
    const int w = S(kScrollWidth), t = S(1);
    const TScaledRect bar{list.X + list.W - w, list.Y, w, list.H};
    Fill(cr, bar.X, bar.Y, bar.W, bar.H, kFace);
    const bool active = contentRows > visibleRows && visibleRows > 0;
    const int arrow = std::min(w, bar.H / 2);
    const TScaledRect up{bar.X, bar.Y, w, arrow}, down{bar.X, bar.Y + bar.H - arrow, w, arrow};
    for (int i = 0; i < 2; ++i) {
      const TScaledRect& b = i == 0 ? up : down;
      const bool isUp = i == 0;
      FlatBox(cr, b, t, kWhite, kBorder);
      // The chevron.
      SetColour(cr, active ? 0x494949 : kGrayText);
      cairo_set_line_width(cr, t);
      const double cx = b.X + b.W / 2.0, cy = b.Y + b.H / 2.0, d = S(3);
      cairo_move_to(cr, cx - d, cy + (isUp ? d / 2 : -d / 2));
      cairo_line_to(cr, cx, cy + (isUp ? -d / 2 : d / 2));
      cairo_line_to(cr, cx + d, cy + (isUp ? d / 2 : -d / 2));
      cairo_stroke(cr);
    }
    if (!active) return;
    const int track = bar.H - 2 * arrow;
    const int thumb = std::max(S(8), track * visibleRows / contentRows);
    if (track > thumb) FlatBox(cr, {bar.X, bar.Y + arrow, w, thumb}, t, kWhite, kBorder);
  }

  void CheckBox(cairo_t* cr, int x, int y, bool checked) const {
    const int s = S(kCheckSize), t = S(1);
    FlatBox(cr, {x, y, s, s}, t, kWhite, kBorder);
    if (!checked) return;
    SetColour(cr, kMark);
    cairo_set_line_width(cr, S(1) * 1.4);
    cairo_move_to(cr, x + s * 0.22, y + s * 0.5);
    cairo_line_to(cr, x + s * 0.42, y + s * 0.72);
    cairo_line_to(cr, x + s * 0.8, y + s * 0.28);
    cairo_stroke(cr);
  }

  void Picture(cairo_t* cr, const TPreviewRow& row) const {
    const TPreviewPicture& p = *row.Picture;
    const TScaledRect& box = row.Box;
    const bool stretch = (row.Item->Flags & lfStretch) != 0;
    const int w = stretch ? box.W : S(p.Width), h = stretch ? box.H : S(p.Height);
    cairo_save(cr);
    cairo_rectangle(cr, box.X, box.Y, box.W, box.H);
    cairo_clip(cr);
    if (p.Drawable()) {
      cairo_surface_t* s = cairo_image_surface_create_for_data(
          reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(p.Pixels.data())), CAIRO_FORMAT_ARGB32, p.Width,
          p.Height, p.Width * 4);
      cairo_translate(cr, box.X, box.Y);
      cairo_scale(cr, double(w) / p.Width, double(h) / p.Height);
      cairo_set_source_surface(cr, s, 0, 0);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
      cairo_paint(cr);
      cairo_surface_destroy(s);
    } else {
      // A picture no library here draws: its place, marked.
      const double t = S(1);
      SetColour(cr, 0xC04040);
      cairo_set_line_width(cr, t);
      const double dash[] = {4.0 * t, 2.0 * t};
      cairo_set_dash(cr, dash, 2, 0);
      cairo_rectangle(cr, box.X + t / 2, box.Y + t / 2, w - t, h - t);
      cairo_move_to(cr, box.X, box.Y);
      cairo_line_to(cr, box.X + w, box.Y + h);
      cairo_move_to(cr, box.X + w, box.Y);
      cairo_line_to(cr, box.X, box.Y + h);
      cairo_stroke(cr);
    }
    cairo_restore(cr);
  }

  void Row(cairo_t* cr, const TPreviewRow& row, const TPreviewPage& page, const char* focusButton) const {
    const TLayoutItem& item = *row.Item;
    const TScaledRect& b = row.Box;
    const int t = S(1);
    const uint32_t background = page.White && item.Page >= 0 ? kWhite : kFace;
    switch (item.Kind) {
      case K::Picture:
        if (row.Picture) Picture(cr, row);
        return;
      case K::Frame:
        Edge(cr, b, t, kShadow, kShadow, kHighlight, kHighlight);
        return;
      case K::Bevel:
        HLine(cr, b.X, b.Y, b.W, t, kShadow);
        HLine(cr, b.X, b.Y + t, b.W, t, kHighlight);
        return;
      case K::GroupBox: {
        PangoLayout* l = RowLayout(item, row.Text, 0);
        int w = 0, h = 0;
        pango_layout_get_pixel_size(l, &w, &h);
        FlatBox(cr, {b.X, b.Y + h / 2, b.W, b.H - h / 2}, t, background, kBorder);
        Fill(cr, b.X + S(6), b.Y, w + S(4), h, background);
        Text(cr, l, b.X + S(8), b.Y, kText);
        g_object_unref(l);
        return;
      }
      default:
        break;
    }
    if (!row.Visible) return;
    switch (item.Kind) {
      case K::Label:
      case K::Link: {
        const bool wrap = (item.Flags & lfWordWrap) != 0;
        PangoLayout* l = RowLayout(item, row.Text, wrap ? b.W : 0);
        if (ShowsPathEnd(item)) {
          pango_layout_set_width(l, b.W * PANGO_SCALE);
          pango_layout_set_ellipsize(l, PANGO_ELLIPSIZE_MIDDLE);
        }
        cairo_save(cr);
        cairo_rectangle(cr, b.X, b.Y, b.W, b.H);
        cairo_clip(cr);
        if (!(item.Flags & lfTransparent) && item.Kind != K::Link) Fill(cr, b.X, b.Y, b.W, b.H, background);
        Text(cr, l, b.X, b.Y, item.Kind == K::Link ? kLink : row.Enabled ? kText : kGrayText);
        cairo_restore(cr);
        g_object_unref(l);
        return;
      }
      case K::Button: {
        const bool focus = std::strcmp(item.Name, focusButton) == 0;
        FlatBox(cr, b, t, kWhite, focus ? kAccent : kBorder);
        LineIn(cr, item, row.Text, b, 0, true, row.Enabled ? kText : kGrayText);
        return;
      }
      case K::Edit:
        // Read-only boxes keep the look of text to read, as the window's colours have them.
        FlatBox(cr, b, t, kWhite, kBorder);
        LineIn(cr, item, row.Text, {b.X, b.Y, b.W - S(2), b.H}, S(3), false, kText, false);
        return;
      case K::Memo: {
        Fill(cr, b.X, b.Y, b.W, b.H, kWhite);
        const bool bar = (item.Flags & lfVScroll) != 0;
        const int textW = b.W - (bar ? S(kScrollWidth) : 0) - S(4);
        PangoLayout* l = Layout(row.Text, item.FontHeight, false, false, false, textW);
        cairo_save(cr);
        cairo_rectangle(cr, b.X, b.Y, b.W, b.H);
        cairo_clip(cr);
        Text(cr, l, b.X + S(2), b.Y + S(1), kText);
        cairo_restore(cr);
        const int lines = pango_layout_get_line_count(l);
        g_object_unref(l);
        const int line = LineHeight();
        if (bar) ScrollBar(cr, b, lines, line > 0 ? (b.H - S(2)) / line : 0);
        return;
      }
      case K::List:
      case K::DetailList: {
        const bool bordered = !(item.Flags & lfNoBorder);
        if (bordered) FlatBox(cr, b, t, kWhite, kBorder);
        else Fill(cr, b.X, b.Y, b.W, b.H, kWhite);
        const TScaledRect in = bordered ? TScaledRect{b.X + t, b.Y + t, b.W - 2 * t, b.H - 2 * t} : b;
        const int pitch = (item.Flags & lfFixedRows) ? S(kFixedRowHeight) : LineHeight();
        const int fit = pitch > 0 ? in.H / pitch : 0;
        const int count = static_cast<int>(row.Rows.size());
        const bool bar = count > fit && (item.Flags & lfVScroll);
        // The details are scrolled to their newest line.
        const int first = item.Kind == K::DetailList ? std::max(0, count - fit) : 0;
        const int textW = in.W - (bar ? S(kScrollWidth) : 0);
        for (int i = first; i < count && i - first <= fit; ++i)
          LineIn(cr, item, row.Rows[static_cast<size_t>(i)], {in.X, in.Y + (i - first) * pitch, textW, pitch}, S(2), false,
                 kText, false);
        if (bar) ScrollBar(cr, in, count, fit);
        return;
      }
      case K::CheckList:
      case K::ReportList: {
        Fill(cr, b.X, b.Y, b.W, b.H, kWhite);
        const int pitch = ((item.Flags & lfFixedRows) ? S(kFixedRowHeight) : LineHeight()) + S(1);
        const int fit = pitch > 0 ? b.H / pitch : 0;
        const int count = static_cast<int>(row.Rows.size());
        const int columnW = item.Kind == K::ReportList ? S(kReportColumnWidth) : b.W;
        cairo_save(cr);
        cairo_rectangle(cr, b.X, b.Y, b.W, b.H);
        cairo_clip(cr);
        for (int i = 0; i < count && i <= fit; ++i) {
          const int y = b.Y + i * pitch;
          CheckBox(cr, b.X + S(2), y + std::max(0, (pitch - S(kCheckSize)) / 2 - S(1)), row.Checked[static_cast<size_t>(i)]);
          const int textX = S(2) + S(kCheckSize) + S(5);
          LineIn(cr, item, row.Rows[static_cast<size_t>(i)], {b.X, y, std::min(columnW, b.W), pitch}, textX, false, kText,
                 false);
        }
        cairo_restore(cr);
        if (count > fit && (item.Flags & lfVScroll)) ScrollBar(cr, b, count, fit);
        return;
      }
      case K::ProgressBar: {
        FlatBox(cr, b, t, kWhite, kBorder);
        const int inner = b.W - 2 * t;
        const int64_t filled =
            row.Max <= 0 || row.Position <= 0 ? 0 : row.Position >= row.Max ? inner : int64_t(row.Position) * inner / row.Max;
        Fill(cr, b.X + t, b.Y + t, static_cast<int>(filled), b.H - 2 * t, kAccent);
        return;
      }
      default:
        return;
    }
  }

  void Frame(cairo_t* cr, const TPreviewPage& page, int width, int height) const {
    const int t = S(1), border = S(kBorder3d), bar = S(kCaptionHeight);
    Fill(cr, 0, 0, width, height, kFace);
    Edge(cr, {0, 0, width, height}, t, kLight, kHighlight, kDarkShadow, kShadow);
    Fill(cr, border, border, width - 2 * border, bar, kCaptionBar);
    // Minimise, maximise (not offered: grey) and close, right to left.
    const int bw = S(16), bh = S(14), by = border + S(2);
    const int closeX = width - border - S(2) - bw;
    const int xs[] = {closeX - S(18) - bw, closeX - S(18), closeX};
    for (int i = 0; i < 3; ++i) {
      const TScaledRect r{xs[i], by, bw, bh};
      Fill(cr, r.X, r.Y, r.W, r.H, kFace);
      Edge(cr, r, t, kLight, kHighlight, kDarkShadow, kShadow);
      SetColour(cr, i == 1 ? kGrayText : kText);
      cairo_set_line_width(cr, S(1) * 1.5);
      const double x0 = r.X + S(4), x1 = r.X + r.W - S(5), y0 = r.Y + S(3), y1 = r.Y + r.H - S(4);
      if (i == 0) {
        cairo_move_to(cr, x0, y1);
        cairo_line_to(cr, x1 - S(2), y1);
      } else if (i == 1) {
        cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
      } else {
        cairo_move_to(cr, x0, y0);
        cairo_line_to(cr, x1, y1);
        cairo_move_to(cr, x1, y0);
        cairo_line_to(cr, x0, y1);
      }
      cairo_stroke(cr);
    }
    if (Icon && Icon->Drawable()) {
      const int size = S(16);
      cairo_surface_t* s = cairo_image_surface_create_for_data(
          reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(Icon->Pixels.data())), CAIRO_FORMAT_ARGB32,
          Icon->Width, Icon->Height, Icon->Width * 4);
      cairo_save(cr);
      cairo_translate(cr, border + S(2), border + (bar - size) / 2);
      cairo_scale(cr, double(size) / Icon->Width, double(size) / Icon->Height);
      cairo_set_source_surface(cr, s, 0, 0);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
      cairo_paint(cr);
      cairo_restore(cr);
      cairo_surface_destroy(s);
    }
    PangoLayout* l = Layout(page.Caption, -12, false, false, false, 0);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(l, &w, &h);
    cairo_save(cr);
    cairo_rectangle(cr, border, border, xs[0] - border - S(2), bar);
    cairo_clip(cr);
    Text(cr, l, border + S(20), border + (bar - h) / 2, kText);
    cairo_restore(cr);
    g_object_unref(l);
  }

  std::vector<uint32_t> Paint(const TPreviewPage& page, int width, int height) const {
    std::vector<uint32_t> pixels(size_t(width) * height);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels.data()),
                                                                   CAIRO_FORMAT_ARGB32, width, height, width * 4);
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
    Frame(cr, page, width, height);
    const int clientX = S(kBorder3d), clientY = S(kBorder3d) + S(kCaptionHeight) + S(kCaptionGap);
    cairo_translate(cr, clientX, clientY);
    Fill(cr, 0, 0, page.Width, page.Height, kFace);
    if (page.White) Fill(cr, 0, 0, page.Width, Scale.Size(kNotebookHeight), kWhite);
    // The button a dialog shows as the default: Next where it can be pressed, else Cancel.
    const char* focus = "";
    for (const char* name : {"bNext", "bCancel"}) {
      const TPreviewRow* r = page.Find(name);
      if (r && r->Visible && r->Enabled) {
        focus = name;
        break;
      }
    }
    for (const TPreviewRow& row : page.Rows) Row(cr, row, page, focus);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    return pixels;
  }
};

TPagePainter::TPagePainter(const TLayoutScale& scale) : FImpl(std::make_unique<TImpl>(scale)) {}
TPagePainter::~TPagePainter() = default;

void TPagePainter::SetWindowIcon(std::shared_ptr<const TPreviewPicture> icon) { FImpl->Icon = std::move(icon); }
int TPagePainter::WindowIconSize() const { return FImpl->S(16); }

TTextMeasure TPagePainter::Measure() const {
  const TImpl* impl = FImpl.get();
  return [impl](const TLayoutItem& item, const AnsiString& caption, int wrapWidth) {
    PangoLayout* l = impl->RowLayout(item, caption, wrapWidth);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(l, &w, &h);
    g_object_unref(l);
    return TTextExtent{w, h};
  };
}

int TPagePainter::WindowWidth(const TPreviewPage& page) const { return page.Width + 2 * FImpl->S(kBorder3d); }
int TPagePainter::WindowHeight(const TPreviewPage& page) const {
  return page.Height + 2 * FImpl->S(kBorder3d) + FImpl->S(kCaptionHeight) + FImpl->S(kCaptionGap);
}

std::vector<uint32_t> TPagePainter::Paint(const TPreviewPage& page) const {
  return FImpl->Paint(page, WindowWidth(page), WindowHeight(page));
}

void TPagePainter::WritePng(const TPreviewPage& page, const AnsiString& fileName) const {
  const std::string hostFile = HostPath(fileName);
  const int width = WindowWidth(page), height = WindowHeight(page);
  std::vector<uint32_t> pixels = FImpl->Paint(page, width, height);
  cairo_surface_t* surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels.data()),
                                                                 CAIRO_FORMAT_ARGB32, width, height, width * 4);
  const cairo_status_t status = cairo_surface_write_to_png(surface, hostFile.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS)
    RaiseFCreateError(fileName, cairo_status_to_string(status));
}
