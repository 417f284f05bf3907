#include "dashboard/PngWriter.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "results/FileWriter.h"

namespace {

// "无法写入 /x/dashboard.png：ENOSPC（No space left on device）"
std::string failure(const std::string& path, int err) {
  return "无法写入 " + path + "：" + results::errnoText(err);
}

bool checkSize(const PixelImage& image, std::string& error) {
  const size_t channels = image.format == PixelImage::Format::Rgb ? 3 : 4;
  const size_t need =
      static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * channels;
  if (image.width > 0 && image.height > 0 && image.pixels.size() == need) return true;
  error = "PNG image has no pixels or the wrong number of them";
  return false;
}

}  // namespace

bool writePng(const std::string& path, const PixelImage& image, std::string& error) {
  if (!checkSize(image, error)) return false;
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = image.format == PixelImage::Format::Rgb ? PNG_FORMAT_RGB : PNG_FORMAT_RGBA;
  const int channels = image.format == PixelImage::Format::Rgb ? 3 : 4;
  // A negative stride tells libpng the rows run bottom-up.
  const png_int_32 stride = (image.bottomUp ? -1 : 1) * image.width * channels;

  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    error = failure(path, errno);
    return false;
  }
  const bool written =
      png_image_write_to_stdio(&png, f, 0, image.pixels.data(), stride, nullptr) != 0;
  // Errors of the file itself (a full disk) surface at the flush and close.
  const bool flushed = std::fflush(f) == 0 && std::ferror(f) == 0;
  const int flushErrno = errno;
  const bool closed = std::fclose(f) == 0;
  if (written && flushed && closed) return true;
  if (written)
    error = failure(path, flushed ? errno : flushErrno);
  else
    error = "无法写入 " + path + "：" + png.message;
  png_image_free(&png);
  return false;
}
