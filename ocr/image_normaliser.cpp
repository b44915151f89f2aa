#include "image_normaliser.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace orvane::ocr {
namespace {

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

}  // namespace

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
GrayImage normalised(const GrayImage& in) {
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
  GrayImage out{W, H, std::vector<uint8_t>(owner.size())};
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

std::optional<int> typicalGlyphHeight(std::vector<ComponentBox> components) {
  std::vector<int> heights;
  for (const ComponentBox& box : components) {
    if (box.height >= 4 && box.height <= 200 && box.width <= 4 * box.height) {
      heights.push_back(box.height);
    }
  }
  if (heights.size() < 3) return std::nullopt;
  std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
  return heights[heights.size() / 2];
}

double enlargement(std::optional<int> glyphHeight, int width, int height) {
  double scale = 1;
  if (glyphHeight) scale = kWantedTextHeight / *glyphHeight;
  const double pixels = double(width) * height;
  scale = std::clamp(std::min(scale, std::sqrt(kMaxScaledPixels / pixels)), 1.0, kMaxScale);
  return scale < 1.2 ? 1 : scale;
}

}  // namespace orvane::ocr
