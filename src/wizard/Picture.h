#pragma once
// The wizard's pictures, the portable part: the kind of a picture file by its extension,
// and JPEG decoding (libjpeg) into 32-bit pixels. The Win32 drawing is in win32/WinPicture.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Exceptions.h"
#include "core/Types.h"

// A picture file that cannot be shown: an unknown extension or content that cannot be decoded.
GB_EXCEPTION(EInvalidGraphic, Exception)

enum class TPictureFormat { Bmp, Ico, Emf, Wmf, Jpeg };

// The kind by the file name's extension (the part after the last dot of the name, a–z folded):
// "bmp", "ico", "emf", "wmf", "jpg" and "jpeg". Anything else raises EInvalidGraphic
// "Unknown picture file extension (.%s)" with the extension as written; a name without an
// extension gives "(.)".
TPictureFormat PictureFormatOf(const AnsiString& fileName);

// Pixels top-down, row after row, each 0x00RRGGBB (in memory B, G, R, 0: a 32-bit DIB's order).
struct TBitmap32 {
  int Width = 0, Height = 0;
  std::vector<uint32_t> Pixels;
};

// The largest picture decoded: its 32-bit pixels must fit in 64 MiB. A header asking for more
// is refused before anything is allocated.
constexpr uint64_t kMaxPictureBytes = 64ull << 20;

// Decodes a JPEG file (read whole through the file layer; EFOpenError when it cannot be opened).
// Colour, grayscale and CMYK/YCCK pictures give RGB pixels. A file that is not a JPEG, is
// truncated or damaged, or is too large raises EInvalidGraphic "图片文件“<name>”无法读取：<reason>".
TBitmap32 DecodeJpegFile(const AnsiString& fileName);
// The same for bytes already in memory; fileName only names them in the message.
TBitmap32 DecodeJpeg(const uint8_t* data, size_t size, const AnsiString& fileName);

// The message of an undecodable picture file, shared by every kind.
[[noreturn]] void RaisePictureUnreadable(const AnsiString& fileName, const AnsiString& reason);
// The whole content of a file, through the file layer.
TArrayByte ReadPictureFile(const AnsiString& fileName);
