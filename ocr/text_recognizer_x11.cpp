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

// Interface text is 11 to 14 pixels high, its typical letter 6 to 9; Tesseract's LSTM misreads
// letters that small and is sure of them from about 20 pixels on. Larger costs time, not errors.
constexpr double kWantedTextHeight = 20;
constexpr double kMaxScale = 4;
// Enlarging stops where the enlarged image would pass this many pixels.
constexpr double kMaxScaledPixels = 40e6;

// Side of the square tiles whose most common brightness is taken as their background.
constexpr int kTile = 16;
// Neighbouring tiles whose backgrounds differ by no more than this belong to one region.
constexpr int kSameBackground = 10;
// A pixel this much darker or lighter than its background is ink.
constexpr int kInk = 24;

// An 8-bit grey image as plain rows, so that the passes below read like what they do.
struct Gray {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;
  uint8_t at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

Gray toGray(Pix* pix) {
  Gray g{pixGetWidth(pix), pixGetHeight(pix), {}};
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

PixPtr toPix(const Gray& g) {
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

// Screens put text of either polarity on panels of any shade. Recognition wants dark text on
// white, so every panel is mapped to that form as a whole:
//
// 1. each tile's background is its most common brightness (text covers a minority of a tile,
//    and interface backgrounds are flat);
// 2. neighbouring tiles of about the same background form one region, a panel;
// 3. pixels of a panel's own background that reach into a neighbouring region's tiles (the
//    panel's edge rarely falls on a tile's edge) are found by flooding from the panel, so they
//    are not taken for ink of the neighbour;
// 4. a region's text is darker or lighter than its background by the vote of its ink pixels,
//    decided once for the whole region, so the polarity never flips inside a line;
// 5. each pixel becomes its ink strength against its own background, stretched by the region's
//    contrast: faint grey labels come out as black as body text.
//
// Deciding polarity per region rather than per pixel neighbourhood is what keeps words whole:
// a neighbourhood mean crosses any fixed threshold inside a line on mid-grey panels and at the
// edges of dark panels, and whatever is inverted there is cut out of the line.
Gray normalised(const Gray& in) {
  const int W = in.width, H = in.height;
  const int tilesX = (W + kTile - 1) / kTile, tilesY = (H + kTile - 1) / kTile;
  const int tiles = tilesX * tilesY;
  const auto tileOf = [&](int x, int y) { return (y / kTile) * tilesX + x / kTile; };

  // 1. Backgrounds: the fullest bin of a 64-bin histogram, refined to that bin's mean.
  std::vector<int> background(tiles);
  for (int ty = 0; ty < tilesY; ++ty) {
    for (int tx = 0; tx < tilesX; ++tx) {
      std::array<int, 64> count{};
      std::array<int, 64> sum{};
      for (int y = ty * kTile; y < std::min(H, (ty + 1) * kTile); ++y) {
        for (int x = tx * kTile; x < std::min(W, (tx + 1) * kTile); ++x) {
          const uint8_t v = in.at(x, y);
          ++count[v >> 2];
          sum[v >> 2] += v;
        }
      }
      const auto fullest = std::max_element(count.begin(), count.end()) - count.begin();
      background[ty * tilesX + tx] = sum[fullest] / std::max(1, count[fullest]);
    }
  }

  // 2. Regions: union-find over 4-neighbouring tiles of similar background.
  std::vector<int> region(tiles);
  std::iota(region.begin(), region.end(), 0);
  const auto root = [&](int t) {
    while (region[t] != t) t = region[t] = region[region[t]];
    return t;
  };
  const auto join = [&](int a, int b) {
    if (std::abs(background[a] - background[b]) <= kSameBackground) region[root(a)] = root(b);
  };
  for (int ty = 0; ty < tilesY; ++ty) {
    for (int tx = 0; tx < tilesX; ++tx) {
      const int t = ty * tilesX + tx;
      if (tx + 1 < tilesX) join(t, t + 1);
      if (ty + 1 < tilesY) join(t, t + tilesX);
    }
  }
  for (int t = 0; t < tiles; ++t) region[t] = root(t);
  std::vector<uint8_t> edge(tiles);
  for (int ty = 0; ty < tilesY; ++ty) {
    for (int tx = 0; tx < tilesX; ++tx) {
      const int t = ty * tilesX + tx;
      edge[t] = (tx > 0 && region[t - 1] != region[t]) ||
                (tx + 1 < tilesX && region[t + 1] != region[t]) ||
                (ty > 0 && region[t - tilesX] != region[t]) ||
                (ty + 1 < tilesY && region[t + tilesX] != region[t]);
    }
  }

  // 3. Each pixel's background tile: its own, unless it is part of a neighbouring panel's flat
  // background that floods in across the tile edge.
  constexpr int kFlat = 3;
  std::vector<int> owner(std::size_t(W) * H);
  std::vector<std::size_t> queue;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const std::size_t i = std::size_t(y) * W + x;
      const int t = tileOf(x, y);
      owner[i] = t;
      if (edge[t] && std::abs(int(in.pixels[i]) - background[t]) <= kFlat) queue.push_back(i);
    }
  }
  for (std::size_t next = 0; next < queue.size(); ++next) {
    const std::size_t i = queue[next];
    const int x = int(i % W), y = int(i / W);
    const int from = owner[i];
    const auto spread = [&](int nx, int ny) {
      if (nx < 0 || ny < 0 || nx >= W || ny >= H) return;
      const std::size_t n = std::size_t(ny) * W + nx;
      const int own = tileOf(nx, ny);
      // Only into another region's tiles, only onto pixels that are not that tile's own
      // background, and no further than the neighbouring tile.
      if (owner[n] != own || region[own] == region[from]) return;
      if (std::abs(nx / kTile - from % tilesX) > 1 || std::abs(ny / kTile - from / tilesX) > 1) {
        return;
      }
      const int v = in.pixels[n];
      if (std::abs(v - background[from]) > kFlat || std::abs(v - background[own]) <= kFlat) return;
      owner[n] = from;
      queue.push_back(n);
    };
    spread(x + 1, y);
    spread(x - 1, y);
    spread(x, y + 1);
    spread(x, y - 1);
  }
  queue.clear();
  queue.shrink_to_fit();

  // 4. Polarity: per region, the ink darker than the background against the ink lighter, in
  // pixels weighted by how far they stand out. Tiles on a region's edge vote only when the
  // region has no inner tile, since their ink may still be the neighbouring panel's.
  struct Vote {
    double darker = 0, lighter = 0, edgeDarker = 0, edgeLighter = 0;
  };
  std::vector<Vote> votes(tiles);
  for (std::size_t i = 0; i < owner.size(); ++i) {
    const int t = owner[i];
    const int d = int(in.pixels[i]) - background[t];
    if (std::abs(d) < kInk) continue;
    Vote& vote = votes[region[t]];
    if (edge[t]) {
      (d < 0 ? vote.edgeDarker : vote.edgeLighter) += std::abs(d);
    } else {
      (d < 0 ? vote.darker : vote.lighter) += std::abs(d);
    }
  }
  std::vector<uint8_t> lightText(tiles);
  for (int r = 0; r < tiles; ++r) {
    const Vote& v = votes[r];
    lightText[r] = v.darker + v.lighter > 0 ? v.lighter > v.darker : v.edgeLighter > v.edgeDarker;
  }

  // 5. Ink strength, stretched so that the region's text colour is black. The contrast is the
  // strength that a tenth of the region's ink pixels reach: the text's colour, not a stray pixel.
  Gray out{W, H, std::vector<uint8_t>(owner.size())};
  std::vector<std::array<int, 256>> strength(tiles);
  std::vector<int> inkCount(tiles);
  for (std::size_t i = 0; i < owner.size(); ++i) {
    const int t = owner[i], r = region[t];
    const int d = int(in.pixels[i]) - background[t];
    const int ink = std::clamp(lightText[r] ? d : -d, 0, 255);
    out.pixels[i] = uint8_t(ink);
    if (ink >= kInk) {
      ++strength[r][ink];
      ++inkCount[r];
    }
  }
  std::vector<int> contrast(tiles, 255);
  for (int r = 0; r < tiles; ++r) {
    if (region[r] != r || inkCount[r] == 0) continue;
    int seen = 0, level = 255;
    while (level > kInk && (seen += strength[r][level]) < std::max(1, inkCount[r] / 10)) --level;
    contrast[r] = std::max(level, 2 * kInk);
  }
  for (std::size_t i = 0; i < owner.size(); ++i) {
    const int full = contrast[region[owner[i]]];
    out.pixels[i] = uint8_t(255 - std::min(255, out.pixels[i] * 255 / full));
  }
  // 6. Panels become white like everything else, so their edges are drawn as thin rules: the
  // layout analysis then keeps the text of side-by-side panels in separate lines. A rule stops
  // where text runs across the edge, so that a line overflowing its panel stays one line.
  const auto separates = [&](std::size_t a, std::size_t b) {
    const int ta = owner[a], tb = owner[b];
    return region[ta] != region[tb] && std::abs(background[ta] - background[tb]) >= 2 * kInk;
  };
  const auto nearText = [&](int x, int y) {
    for (int ny = std::max(0, y - 2); ny <= std::min(H - 1, y + 2); ++ny) {
      for (int nx = std::max(0, x - 2); nx <= std::min(W - 1, x + 2); ++nx) {
        if (out.at(nx, ny) < 128) return true;
      }
    }
    return false;
  };
  // A rule beside the text that crosses it would be a stub that reads as "l" or "|": only
  // straight runs at least two tiles long are drawn.
  std::vector<uint8_t> across(out.pixels.size()), down(out.pixels.size());
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const std::size_t i = std::size_t(y) * W + x;
      if (x + 1 < W && separates(i, i + 1) && !nearText(x, y)) down[i] = 1;  // vertical edge
      if (y + 1 < H && separates(i, i + W) && !nearText(x, y)) across[i] = 1;
    }
  }
  constexpr int kShortestRule = 2 * kTile;
  for (int x = 0; x < W; ++x) {
    for (int y = 0; y < H;) {
      int end = y;
      while (end < H && down[std::size_t(end) * W + x]) ++end;
      if (end - y >= kShortestRule) {
        for (int r = y; r < end; ++r) out.pixels[std::size_t(r) * W + x] = 0;
      }
      y = end + 1;
    }
  }
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W;) {
      int end = x;
      while (end < W && across[std::size_t(y) * W + end]) ++end;
      if (end - x >= kShortestRule) {
        std::fill_n(out.pixels.begin() + std::ptrdiff_t(std::size_t(y) * W + x), end - x, 0);
      }
      x = end + 1;
    }
  }
  return out;
}

// The height of most letters: the median height of the dark connected components of the
// normalised image, ignoring specks and rules.
std::optional<int> typicalGlyphHeight(Pix* gray) {
  PixPtr binary(pixThresholdToBinary(gray, 160));
  if (!binary) return std::nullopt;
  Boxa* boxes = pixConnCompBB(binary.get(), 8);
  if (!boxes) return std::nullopt;
  std::vector<int> heights;
  const l_int32 count = boxaGetCount(boxes);
  for (l_int32 i = 0; i < count; ++i) {
    l_int32 x, y, w, h;
    if (boxaGetBoxGeometry(boxes, i, &x, &y, &w, &h) != 0) continue;
    if (h >= 4 && h <= 200 && w <= 4 * h) heights.push_back(h);
  }
  boxaDestroy(&boxes);
  if (heights.size() < 3) return std::nullopt;
  std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
  return heights[heights.size() / 2];
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

  scale = 1;
  if (auto height = typicalGlyphHeight(gray.get())) scale = kWantedTextHeight / *height;
  const double pixels = double(pixGetWidth(gray.get())) * pixGetHeight(gray.get());
  scale = std::clamp(std::min(scale, std::sqrt(kMaxScaledPixels / pixels)), 1.0, kMaxScale);
  if (scale < 1.2) {
    scale = 1;
    return gray;
  }
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

std::unique_ptr<TextRecognizer> makeTextRecognizer() {
  return std::make_unique<TesseractRecognizer>();
}

}  // namespace orvane::ocr
