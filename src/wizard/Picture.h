#pragma once
// Placeholder until the picture loader lands: the format by extension.
#include "core/Exceptions.h"
#include "core/TextUtils.h"

enum class TPictureFormat { Bmp, Ico, Emf, Wmf, Jpeg };

inline TPictureFormat PictureFormatOf(const AnsiString& fileName) {
  const size_t dot = fileName.rfind('.');
  const AnsiString ext = dot == AnsiString::npos ? AnsiString() : fileName.substr(dot + 1);
  if (SameText(ext, "bmp")) return TPictureFormat::Bmp;
  if (SameText(ext, "ico")) return TPictureFormat::Ico;
  if (SameText(ext, "emf")) return TPictureFormat::Emf;
  if (SameText(ext, "wmf")) return TPictureFormat::Wmf;
  if (SameText(ext, "jpg") || SameText(ext, "jpeg")) return TPictureFormat::Jpeg;
  throw Exception("Unknown picture file extension (." + ext + ")");
}
