#include "wizard/preview/PreviewPicture.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstring>

#include "system/IconEdit.h"

namespace {

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

// gdk-pixbuf's objects and errors, released on every path.
struct TLoader {
  GdkPixbufLoader* Loader = nullptr;
  GError* Error = nullptr;
  ~TLoader() {
    if (Loader) {
      gdk_pixbuf_loader_close(Loader, nullptr);
      g_object_unref(Loader);
    }
    if (Error) g_error_free(Error);
  }
};

// A bitmap's size from its header, checked before anything is decoded: a hostile header must
// not make the decoder allocate gigabytes.
void CheckBmpSize(const TArrayByte& file, const AnsiString& fileName) {
  const size_t n = file.size();
  const uint8_t* d = file.data();
  if (n < 14 + 12 || d[0] != 'B' || d[1] != 'M') RaisePictureUnreadable(fileName, "不是位图文件");
  const uint32_t headerSize = U32(d + 14);
  int64_t w, h;
  if (headerSize == 12) {
    w = U16(d + 18);
    h = U16(d + 20);
  } else {
    if (headerSize < 40 || n < 14 + 40) RaisePictureUnreadable(fileName, "位图文件头已损坏");
    w = int32_t(U32(d + 18));
    h = int32_t(U32(d + 22));
  }
  if (h < 0) h = -h;
  if (w <= 0 || h <= 0) RaisePictureUnreadable(fileName, "位图尺寸无效");
  if (uint64_t(w) * uint64_t(h) * 4 > kMaxPictureBytes)
    RaisePictureUnreadable(fileName, Format("图片过大（%d×%d）", int(w), int(h)));
}

// The first image of an icon's directory, as the setup shows it: an icon file of that one image.
TArrayByte FirstIcon(const TArrayByte& file, const AnsiString& fileName) {
  const size_t n = file.size();
  const uint8_t* d = file.data();
  if (n < 6 + 16 || U16(d) != 0 || U16(d + 2) != 1 || U16(d + 4) == 0) RaisePictureUnreadable(fileName, "不是图标文件");
  const uint32_t bytes = U32(d + 6 + 8), at = U32(d + 6 + 12);
  if (at >= n || bytes == 0 || bytes > n - at) RaisePictureUnreadable(fileName, "图标数据不完整");
  TArrayByte one(6 + 16 + bytes);
  std::memcpy(one.data(), d, 6);
  one[4] = 1;
  one[5] = 0;
  std::memcpy(one.data() + 6, d + 6, 12);
  const uint32_t offset = 6 + 16;
  for (int i = 0; i < 4; ++i) one[6 + 12 + i] = uint8_t(offset >> (8 * i));
  std::memcpy(one.data() + offset, d + at, bytes);
  return one;
}

// Decodes with gdk-pixbuf's loader for that type. False when this machine has no loader for it.
bool DecodePixbuf(const char* type, const TArrayByte& data, const AnsiString& fileName, const char* reason,
                  TPreviewPicture& out) {
  TLoader l;
  l.Loader = gdk_pixbuf_loader_new_with_type(type, &l.Error);
  if (!l.Loader) return false;
  if (!gdk_pixbuf_loader_write(l.Loader, data.data(), data.size(), &l.Error) ||
      !gdk_pixbuf_loader_close(l.Loader, &l.Error))
    RaisePictureUnreadable(fileName, reason);
  GdkPixbuf* pb = gdk_pixbuf_loader_get_pixbuf(l.Loader);
  if (!pb) RaisePictureUnreadable(fileName, reason);
  const int w = gdk_pixbuf_get_width(pb), h = gdk_pixbuf_get_height(pb);
  if (w <= 0 || h <= 0 || uint64_t(w) * uint64_t(h) * 4 > kMaxPictureBytes) RaisePictureUnreadable(fileName, reason);
  const int channels = gdk_pixbuf_get_n_channels(pb), stride = gdk_pixbuf_get_rowstride(pb);
  const bool alpha = gdk_pixbuf_get_has_alpha(pb);
  const guchar* px = gdk_pixbuf_read_pixels(pb);
  out.Width = w;
  out.Height = h;
  out.Pixels.resize(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    const guchar* s = px + size_t(y) * stride;
    uint32_t* d = out.Pixels.data() + size_t(y) * w;
    for (int x = 0; x < w; ++x, s += channels) {
      const unsigned a = alpha ? s[3] : 255;
      auto pm = [a](unsigned c) { return (c * a + 127) / 255; };
      d[x] = (a << 24) | (pm(s[0]) << 16) | (pm(s[1]) << 8) | pm(s[2]);
    }
  }
  return true;
}

// An icon file of one image, decoded: a PNG-compressed image (as icons of 256 pixels, and many
// newer ones, are stored) through the PNG decoder, others through the icon decoder.
bool DecodeOneImageIcon(const TArrayByte& one, const AnsiString& fileName, TPreviewPicture& out) {
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  const uint32_t at = U32(one.data() + 6 + 12), bytes = U32(one.data() + 6 + 8);
  if (bytes >= 8 && std::memcmp(one.data() + at, kPng, 8) == 0) {
    // The size from the header first: a small file may claim a huge image.
    const uint8_t* h = one.data() + at;
    auto be32 = [](const uint8_t* q) { return uint32_t(q[0]) << 24 | uint32_t(q[1]) << 16 | uint32_t(q[2]) << 8 | q[3]; };
    const uint64_t w = bytes < 24 ? 0 : be32(h + 16), ht = bytes < 24 ? 0 : be32(h + 20);
    if (w == 0 || ht == 0 || w * ht > kMaxPictureBytes / 4)
      RaisePictureUnreadable(fileName, "图标数据无法解码");
    return DecodePixbuf("png", TArrayByte(one.begin() + at, one.begin() + at + bytes), fileName, "图标数据无法解码", out);
  }
  return DecodePixbuf("ico", one, fileName, "图标数据无法解码", out);
}

// One image of an icon: its directory fields and its bytes.
struct TIconImage {
  uint8_t Entry[8] = {};  // width, height, colours, reserved, planes, bits: as the directory has them
  int Width = 0, Bits = 0;
  const uint8_t* Data = nullptr;
  uint32_t Size = 0;
};

// An icon file's directory entry and a group's entry begin alike.
TIconImage IconImage(const uint8_t* entry, const uint8_t* data, uint32_t size) {
  TIconImage i;
  std::memcpy(i.Entry, entry, 8);
  i.Width = entry[0] ? entry[0] : 256;
  i.Bits = U16(entry + 6);
  i.Data = data;
  i.Size = size;
  return i;
}

// The images of an icon file; empty when it is not a sound one.
std::vector<TIconImage> IconFileImages(const TArrayByte& file) {
  std::vector<TIconImage> out;
  if (!IsValidIconFile(file.data(), file.size())) return out;
  const uint8_t* d = file.data();
  for (uint16_t i = 0, n = U16(d + 4); i < n; ++i) {
    const uint8_t* e = d + 6 + 16 * size_t(i);
    out.push_back(IconImage(e, d + U32(e + 12), U32(e + 8)));
  }
  return out;
}

// The images of an executable's MAINICON group (the first group when none has that name),
// pointing into resources.
std::vector<TIconImage> ExeIconImages(const std::vector<TPeResource>& resources) {
  std::vector<TIconImage> out;
  const std::u16string mainIcon = u"MAINICON";
  const TPeResource* group = nullptr;
  for (const TPeResource& r : resources) {
    if (r.Type.IsName || r.Type.Id != 14) continue;
    if (r.Name.IsName && r.Name.Name == mainIcon) {
      group = &r;
      break;
    }
    if (!group) group = &r;
  }
  if (!group || group->Data.size() < 6) return out;
  const uint8_t* g = group->Data.data();
  const size_t count = std::min<size_t>(U16(g + 4), (group->Data.size() - 6) / 14);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = g + 6 + 14 * i;
    const uint16_t id = U16(e + 12);
    for (const TPeResource& r : resources)
      if (!r.Type.IsName && r.Type.Id == 3 && !r.Name.IsName && r.Name.Id == id && !r.Data.empty()) {
        out.push_back(IconImage(e, r.Data.data(), uint32_t(r.Data.size())));
        break;
      }
  }
  return out;
}

// The image that fits size best: exact, else the smallest larger, else the largest.
const TIconImage* BestIconImage(const std::vector<TIconImage>& images, int size) {
  const TIconImage* best = nullptr;
  auto rank = [size](const TIconImage& i) { return i.Width == size ? 0 : i.Width > size ? i.Width - size : 1000 + size - i.Width; };
  for (const TIconImage& i : images)
    if (!best || rank(i) < rank(*best) || (rank(i) == rank(*best) && i.Bits > best->Bits)) best = &i;
  return best;
}

}  // namespace

std::shared_ptr<const TPreviewPicture> LoadWindowIcon(const AnsiString& file, int size) {
  try {
    const TArrayByte data = ReadPictureFile(file);
    std::vector<TPeResource> resources;
    std::vector<TIconImage> images;
    if (data.size() >= 2 && data[0] == 'M' && data[1] == 'Z') {
      resources = ReadPeResources(data.data(), data.size());
      images = ExeIconImages(resources);
    } else {
      images = IconFileImages(data);
    }
    const TIconImage* best = BestIconImage(images, size);
    if (!best) return nullptr;
    // An icon file of that one image, for the decoder.
    TArrayByte one(6 + 16 + size_t(best->Size));
    const uint8_t head[6] = {0, 0, 1, 0, 1, 0};
    std::memcpy(one.data(), head, 6);
    uint8_t* e = one.data() + 6;
    std::memcpy(e, best->Entry, 8);
    for (int i = 0; i < 4; ++i) {
      e[8 + i] = uint8_t(best->Size >> (8 * i));
      e[12 + i] = uint8_t(22u >> (8 * i));
    }
    std::memcpy(one.data() + 22, best->Data, best->Size);
    auto p = std::make_shared<TPreviewPicture>();
    p->FileName = file;
    p->Format = TPictureFormat::Ico;
    if (!DecodeOneImageIcon(one, file, *p)) return nullptr;
    return p;
  } catch (const Exception&) {
    return nullptr;
  }
}

std::shared_ptr<const TPreviewPicture> LoadPreviewPicture(const AnsiString& fileName) {
  auto p = std::make_shared<TPreviewPicture>();
  p->FileName = fileName;
  p->Format = PictureFormatOf(fileName);
  const TArrayByte file = ReadPictureFile(fileName);
  switch (p->Format) {
    case TPictureFormat::Jpeg: {
      TBitmap32 b = DecodeJpeg(file.data(), file.size(), fileName);
      p->Width = b.Width;
      p->Height = b.Height;
      p->Pixels = std::move(b.Pixels);
      for (uint32_t& px : p->Pixels) px |= 0xFF000000u;
      break;
    }
    case TPictureFormat::Bmp:
      CheckBmpSize(file, fileName);
      if (!DecodePixbuf("bmp", file, fileName, "位图数据无法解码", *p)) p->Pixels.clear();
      break;
    case TPictureFormat::Ico:
      if (!DecodeOneImageIcon(FirstIcon(file, fileName), fileName, *p)) p->Pixels.clear();
      break;
    case TPictureFormat::Wmf:
      if (!DecodePixbuf("wmf", file, fileName, "图元文件数据无法解码", *p)) p->Pixels.clear();
      break;
    case TPictureFormat::Emf:
      // Kept whole but undrawn: the page shows where it goes.
      if (file.size() < 88 || U32(file.data()) != 1 || U32(file.data() + 40) != 0x464D4520)
        RaisePictureUnreadable(fileName, "不是增强图元文件");
      // The frame, in hundredths of a millimetre: the size at 96 dpi, as the setup's screen has it.
      p->Width = int((int64_t(int32_t(U32(file.data() + 32))) - int32_t(U32(file.data() + 24))) * 96 / 2540);
      p->Height = int((int64_t(int32_t(U32(file.data() + 36))) - int32_t(U32(file.data() + 28))) * 96 / 2540);
      if (p->Width <= 0 || p->Height <= 0) RaisePictureUnreadable(fileName, "图元文件尺寸无效");
      break;
  }
  return p;
}

std::shared_ptr<const TPreviewPicture> TPictureCache::Get(const AnsiString& fileName) {
  auto it = FLoaded.find(fileName);
  if (it != FLoaded.end()) return it->second;
  std::shared_ptr<const TPreviewPicture> p = LoadPreviewPicture(fileName);
  FLoaded[fileName] = p;
  if (!p->Drawable()) FUndrawn.Add(fileName);
  return p;
}
