#include "wizard/Picture.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/TextUtils.h"
#include "system/FileStream.h"

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

TPictureFormat PictureFormatOf(const AnsiString& fileName) {
  AnsiString ext = ExtractFileExt(fileName);
  if (!ext.empty()) ext.erase(0, 1);
  static const struct {
    const char* Ext;
    TPictureFormat Format;
  } kinds[] = {{"bmp", TPictureFormat::Bmp},  {"ico", TPictureFormat::Ico},  {"emf", TPictureFormat::Emf},
               {"wmf", TPictureFormat::Wmf},  {"jpg", TPictureFormat::Jpeg}, {"jpeg", TPictureFormat::Jpeg}};
  for (const auto& k : kinds)
    if (SameText(ext, k.Ext)) return k.Format;
  throw EInvalidGraphic(Format("Unknown picture file extension (.%s)", ext.c_str()));
}

void RaisePictureUnreadable(const AnsiString& fileName, const AnsiString& reason) {
  throw EInvalidGraphic(Format("图片文件“%s”无法读取：%s", fileName.c_str(), reason.c_str()));
}

TArrayByte ReadPictureFile(const AnsiString& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyNone);
  int64_t size = f.Size();
  // No picture the wizard can show comes near this; a larger file is not read into memory.
  if (size > int64_t(2 * kMaxPictureBytes)) RaisePictureUnreadable(fileName, "文件过大");
  TArrayByte data(static_cast<size_t>(size));
  if (!data.empty()) f.ReadBuffer(data.data(), data.size());
  return data;
}

namespace {

// libjpeg reports errors through error_exit, which must not return: it jumps back to the
// step that called into libjpeg. Only C frames lie between, so no destructor is skipped;
// the C++ side (buffers, exceptions) stays outside the steps.
struct TJpegError {
  jpeg_error_mgr Mgr;  // first: libjpeg hands back a pointer to it
  jmp_buf Jump;
  char Reason[JMSG_LENGTH_MAX];
  bool ReadingRows;
};

struct TJpegDecoder {
  jpeg_decompress_struct Info;
  TJpegError Error;
  bool Created;
  TJpegDecoder() {
    std::memset(&Info, 0, sizeof Info);
    std::memset(&Error, 0, sizeof Error);
    Created = false;
  }
  ~TJpegDecoder() {
    if (Created) jpeg_destroy_decompress(&Info);
  }
  TJpegDecoder(const TJpegDecoder&) = delete;
  TJpegDecoder& operator=(const TJpegDecoder&) = delete;
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<TJpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, e->Reason);
  longjmp(e->Jump, 1);
}

extern "C" void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  auto* e = reinterpret_cast<TJpegError*>(cinfo->err);
  // The scan data running out before the picture is complete (a truncated file) is refused:
  // libjpeg would fill the rest with grey. The decoder says so when it needs bits that are
  // not there. The file's end itself only counts while libjpeg reads the headers or takes
  // in a multi-scan picture whole (progressive: the file may end between two scans); while
  // the rows of a one-scan picture are read it is seen ahead of need, and a file that only
  // lacks its closing marker still gives its picture. Other warnings (stray bytes between
  // markers) leave a picture that viewers show too.
  const int code = cinfo->err->msg_code;
  if (code == JWRN_HIT_MARKER || (code == JWRN_JPEG_EOF && !e->ReadingRows)) JpegErrorExit(cinfo);
  cinfo->err->num_warnings++;
}

extern "C" void JpegOutputMessage(j_common_ptr) {}

bool JpegReadHeader(TJpegDecoder* d, const uint8_t* data, size_t size) {
  d->Info.err = jpeg_std_error(&d->Error.Mgr);
  d->Error.Mgr.error_exit = JpegErrorExit;
  d->Error.Mgr.emit_message = JpegEmitMessage;
  d->Error.Mgr.output_message = JpegOutputMessage;
  if (setjmp(d->Error.Jump)) return false;
  d->Created = true;  // a half-made decompressor is destroyed all the same
  jpeg_create_decompress(&d->Info);
  jpeg_mem_src(&d->Info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&d->Info, TRUE);
  return true;
}

bool JpegStart(TJpegDecoder* d) {
  if (setjmp(d->Error.Jump)) return false;
  jpeg_start_decompress(&d->Info);
  return true;
}

bool JpegReadRow(TJpegDecoder* d, uint8_t* row) {
  if (setjmp(d->Error.Jump)) return false;
  JSAMPROW rows[1] = {row};
  // Only a suspending source returns no row; the memory source never suspends.
  if (jpeg_read_scanlines(&d->Info, rows, 1) == 1) return true;
  std::strcpy(d->Error.Reason, "no scanline");
  return false;
}

bool JpegFinish(TJpegDecoder* d) {
  if (setjmp(d->Error.Jump)) return false;
  jpeg_finish_decompress(&d->Info);
  return true;
}

inline uint32_t Rgb(unsigned r, unsigned g, unsigned b) { return (r << 16) | (g << 8) | b; }
inline unsigned Mul255(unsigned a, unsigned b) { return (a * b + 127) / 255; }

}  // namespace

TBitmap32 DecodeJpeg(const uint8_t* data, size_t size, const AnsiString& fileName) {
  auto d = std::make_unique<TJpegDecoder>();
  if (size > 0xFFFFFFFFu) RaisePictureUnreadable(fileName, "文件过大");
  if (!JpegReadHeader(d.get(), data, size)) RaisePictureUnreadable(fileName, d->Error.Reason);
  jpeg_decompress_struct& info = d->Info;
  switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
      info.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_YCbCr:
    case JCS_RGB:
      info.out_color_space = JCS_RGB;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      info.out_color_space = JCS_CMYK;  // libjpeg turns YCCK into CMYK; RGB is made below
      break;
    default:
      RaisePictureUnreadable(fileName, Format("不支持的颜色空间（%d 个分量）", info.num_components));
  }
  // Refused before libjpeg allocates its buffers for the picture, or we ours.
  if (uint64_t(info.image_width) * info.image_height * 4 > kMaxPictureBytes)
    RaisePictureUnreadable(fileName, Format("图片过大（%u×%u）", unsigned(info.image_width), unsigned(info.image_height)));
  if (!JpegStart(d.get())) RaisePictureUnreadable(fileName, d->Error.Reason);

  TBitmap32 out;
  out.Width = int(info.output_width);
  out.Height = int(info.output_height);
  out.Pixels.resize(size_t(out.Width) * out.Height);
  const int comps = info.output_components;
  std::vector<uint8_t> row(size_t(out.Width) * comps);
  // CMYK from Adobe's programs is stored inverted (0 = full ink), and they mark their files.
  const bool inverted = info.saw_Adobe_marker;
  d->Error.ReadingRows = true;
  for (int y = 0; y < out.Height; ++y) {
    if (!JpegReadRow(d.get(), row.data())) RaisePictureUnreadable(fileName, d->Error.Reason);
    uint32_t* px = out.Pixels.data() + size_t(y) * out.Width;
    const uint8_t* s = row.data();
    for (int x = 0; x < out.Width; ++x, s += comps) {
      if (comps == 1) {
        px[x] = Rgb(s[0], s[0], s[0]);
      } else if (comps == 3) {
        px[x] = Rgb(s[0], s[1], s[2]);
      } else {
        unsigned c = s[0], m = s[1], yy = s[2], k = s[3];
        if (!inverted) c = 255 - c, m = 255 - m, yy = 255 - yy, k = 255 - k;
        px[x] = Rgb(Mul255(c, k), Mul255(m, k), Mul255(yy, k));
      }
    }
  }
  if (!JpegFinish(d.get())) RaisePictureUnreadable(fileName, d->Error.Reason);
  return out;
}

TBitmap32 DecodeJpegFile(const AnsiString& fileName) {
  TArrayByte data = ReadPictureFile(fileName);
  return DecodeJpeg(data.data(), data.size(), fileName);
}
