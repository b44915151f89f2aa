// Text recognition on Linux: Leptonica loads the image, Tesseract's LSTM engine reads it line by
// line. Boxes are turned into the macOS recognizer's form: fractions of the image, bottom-left
// origin.
#include <fcntl.h>
#include <leptonica/allheaders.h>
#include <sys/stat.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>
#include <unistd.h>
#ifdef _OPENMP
#include <omp.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

#include "image_normaliser.hpp"
#include "text_recognizer.hpp"

namespace orvane::ocr {
namespace {

// NOTE: Tesseract and Leptonica write warnings to fd 2 by themselves ("Invalid resolution",
// decoder complaints about damaged files), and libpng/libjpeg may too. The tool never writes to
// standard error, so fd 2 points at /dev/null while they work.
class StderrSilenced {
 public:
  StderrSilenced() {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved_ >= 0 && ::dup2(null, STDERR_FILENO) < 0) {
      ::close(saved_);
      saved_ = -1;
    }
    ::close(null);
  }
  ~StderrSilenced() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  StderrSilenced(const StderrSilenced&) = delete;
  StderrSilenced& operator=(const StderrSilenced&) = delete;

 private:
  int saved_ = -1;
};

struct PixDeleter {
  void operator()(Pix* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

GrayImage toGray(Pix* pix) {
  GrayImage g{pixGetWidth(pix), pixGetHeight(pix), {}};
  g.pixels.resize(std::size_t(g.width) * g.height);
  const l_uint32* data = pixGetData(pix);
  const int wpl = pixGetWpl(pix);
  for (int y = 0; y < g.height; ++y) {
    const l_uint32* line = data + std::size_t(y) * wpl;
    for (int x = 0; x < g.width; ++x)
      g.pixels[std::size_t(y) * g.width + x] = GET_DATA_BYTE(line, x);
  }
  return g;
}

PixPtr toPix(const GrayImage& g) {
  PixPtr pix(pixCreate(g.width, g.height, 8));
  if (!pix) return nullptr;
  l_uint32* data = pixGetData(pix.get());
  const int wpl = pixGetWpl(pix.get());
  for (int y = 0; y < g.height; ++y) {
    l_uint32* line = data + std::size_t(y) * wpl;
    for (int x = 0; x < g.width; ++x) SET_DATA_BYTE(line, x, g.at(x, y));
  }
  return pix;
}

// The height of most letters, from the dark connected components of the
// normalised image, ignoring specks and rules.
std::optional<int> glyphHeightOf(Pix* gray) {
  PixPtr binary(pixThresholdToBinary(gray, 160));
  if (!binary) return std::nullopt;
  Boxa* boxes = pixConnCompBB(binary.get(), 8);
  if (!boxes) return std::nullopt;
  std::vector<ComponentBox> components;
  const l_int32 count = boxaGetCount(boxes);
  for (l_int32 i = 0; i < count; ++i) {
    l_int32 x, y, w, h;
    if (boxaGetBoxGeometry(boxes, i, &x, &y, &w, &h) != 0) continue;
    components.push_back({w, h});
  }
  boxaDestroy(&boxes);
  return typicalGlyphHeight(std::move(components));
}

// An 8-bit grey copy with dark text on white, enlarged when the text is small. `scale` tells
// how much larger than the original it is.
PixPtr prepared(Pix* original, double& scale) {
  PixPtr flat(pixGetSpp(original) == 4 ? pixAlphaBlendUniform(original, 0xffffff00)
                                       : pixClone(original));
  if (!flat) return nullptr;
  PixPtr gray(pixGetDepth(flat.get()) == 32 ? pixConvertRGBToLuminance(flat.get())
                                            : pixConvertTo8(flat.get(), 0));
  if (!gray) return nullptr;
  flat.reset();
  gray = toPix(normalised(toGray(gray.get())));
  if (!gray) return nullptr;

  scale = enlargement(glyphHeightOf(gray.get()), pixGetWidth(gray.get()), pixGetHeight(gray.get()));
  if (scale == 1) return gray;
  PixPtr larger(pixScaleGrayLI(gray.get(), float(scale), float(scale)));
  if (!larger) {
    scale = 1;
    return gray;
  }
  return larger;
}

class TesseractRecognizer final : public TextRecognizer {
 public:
  std::optional<std::vector<TextObservation>> recognize(const std::string& path) override {
    // Only regular files: a FIFO or a device would block or never end.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;

    StderrSilenced silenced;
    setMsgSeverity(L_SEVERITY_NONE);
    // The header tells the size; an image over the limit is never decoded.
    l_int32 format = 0, declaredWidth = 0, declaredHeight = 0;
    if (pixReadHeader(path.c_str(), &format, &declaredWidth, &declaredHeight, nullptr, nullptr,
                      nullptr) != 0 ||
        !withinPixelLimit(declaredWidth, declaredHeight)) {
      return std::nullopt;
    }
    if (!ready()) return std::nullopt;
    PixPtr original(pixRead(path.c_str()));
    if (!original) return std::nullopt;
    const int width = pixGetWidth(original.get());
    const int height = pixGetHeight(original.get());
    if (width <= 0 || height <= 0) return std::nullopt;
    double scale = 1;
    PixPtr image = prepared(original.get(), scale);
    if (!image) return std::nullopt;
    original.reset();

    api_.SetImage(image.get());
    // Screens are about 96 dpi; telling Tesseract so keeps it from guessing.
    api_.SetSourceResolution(int(std::lround(96 * scale)));
    std::optional<std::vector<TextObservation>> observations;
    if (api_.Recognize(nullptr) == 0) observations = readLines(width, height, scale);
    api_.Clear();
    return observations;
  }

 private:
  // The engine is made once, on first use, and reused for every image.
  bool ready() {
    if (!initialised_) {
      initialised_ = true;
      setMsgSeverity(L_SEVERITY_NONE);
#ifdef _OPENMP
      // NOTE: Tesseract opens a team of OpenMP threads for every step of its LSTM; on a busy
      // machine the spinning costs more than it gains (three times slower on two shared cores).
      // No active parallel level keeps every region on this thread.
      omp_set_max_active_levels(0);
#endif
      api_.SetVariable("debug_file", "/dev/null");
      ready_ = api_.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) == 0;
      if (ready_) {
        api_.SetPageSegMode(tesseract::PSM_AUTO);
        // Dark backgrounds are inverted beforehand; a second, inverted reading of every
        // doubtful line only costs time.
        api_.SetVariable("tessedit_do_invert", "0");
        api_.SetVariable("thresholding_method", "2");
      }
    }
    return ready_;
  }

  std::vector<TextObservation> readLines(int width, int height, double scale) {
    std::vector<TextObservation> lines;
    std::unique_ptr<tesseract::ResultIterator> it(api_.GetIterator());
    if (!it || it->Empty(tesseract::RIL_TEXTLINE)) return lines;
    do {
      std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
      int left = 0, top = 0, right = 0, bottom = 0;
      if (!text || !it->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom)) {
        continue;
      }
      // Back to the original image's pixels, then to fractions with the origin at the bottom.
      const auto fraction = [](double pixels, double scale, int extent) {
        return std::clamp(pixels / scale, 0.0, double(extent)) / extent;
      };
      const double x0 = fraction(left, scale, width), x1 = fraction(right, scale, width);
      const double y0 = fraction(top, scale, height), y1 = fraction(bottom, scale, height);
      float confidence = it->Confidence(tesseract::RIL_TEXTLINE) / 100.0f;
      confidence = std::isfinite(confidence) ? std::clamp(confidence, 0.0f, 1.0f) : 0.0f;
      lines.push_back({std::string(text.get()), confidence, {x0, 1 - y1, x1 - x0, y1 - y0}});
    } while (it->Next(tesseract::RIL_TEXTLINE));
    return lines;
  }

  tesseract::TessBaseAPI api_;
  bool initialised_ = false;
  bool ready_ = false;
};

}  // namespace

std::unique_ptr<TextRecognizer> makeTextRecognizerTesseract() {
  return std::make_unique<TesseractRecognizer>();
}

}  // namespace orvane::ocr
