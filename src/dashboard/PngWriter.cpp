#include "dashboard/PngWriter.h"

#include <png.h>

#include <string_view>
#include <vector>

#include "i18n/Translate.h"
#include "results/FileWriter.h"
#include "results/TextFormat.h"

namespace {

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

  // Encoded in memory, then written by the one file writer: flushed to disk
  // and renamed into place like every other result file.
  png_alloc_size_t size = 0;
  std::vector<uint8_t> encoded;
  bool encodedOk =
      png_image_write_get_memory_size(png, size, 0, image.pixels.data(), stride, nullptr) != 0;
  if (encodedOk) {
    encoded.resize(size);
    encodedOk = png_image_write_to_memory(&png, encoded.data(), &size, 0, image.pixels.data(),
                                          stride, nullptr) != 0;
  }
  if (!encodedOk) {
    error.clear();
    results::appendFormat(error, i18n::tr("无法写入 %s：%s"), path.c_str(), png.message);
    png_image_free(&png);
    return false;
  }
  const results::WriteResult written = results::writeFileAtomically(
      path, std::string_view(reinterpret_cast<const char*>(encoded.data()), size));
  if (!written) error = written.error;
  return written.ok;
}
