// The launcher's art, painted in software: the night-scene background, the two button faces
// and the diamond emblem of the icon. Everything is drawn from seeded hash noise, so each run
// writes the same pixels. The images are written as PPM/PAM files for ImageMagick to encode
// (see make_art.sh); the "--ico" mode packs finished PNG files into one .ico container.
//
// Build: g++ -O2 -std=c++17 paint_art.cpp -o paint_art
// Usage: paint_art OUTDIR            writes background.ppm, button.pam, button_hover.pam,
//                                    icon16.pam ... icon256.pam
//        paint_art --ico OUT.ico A.png B.png ...
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Rgb {
  float r, g, b;
};

Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
Rgb operator*(Rgb a, float k) { return {a.r * k, a.g * k, a.b * k}; }
Rgb Mix(Rgb a, Rgb b, float t) { return a * (1.0f - t) + b * t; }
Rgb Hex(uint32_t rgb) {
  return {((rgb >> 16) & 255) / 255.0f, ((rgb >> 8) & 255) / 255.0f, (rgb & 255) / 255.0f};
}

float Clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
float Smooth(float e0, float e1, float x) {
  float t = Clamp01((x - e0) / (e1 - e0));
  return t * t * (3 - 2 * t);
}

// ---- Seeded noise ------------------------------------------------------------------------

uint32_t Hash(int32_t x, int32_t y, uint32_t seed) {
  uint32_t h = seed * 0x9E3779B9u ^ static_cast<uint32_t>(x) * 0x85EBCA6Bu ^
               static_cast<uint32_t>(y) * 0xC2B2AE35u;
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h;
}

float Hash01(int32_t x, int32_t y, uint32_t seed) { return Hash(x, y, seed) / 4294967296.0f; }

float ValueNoise(float x, float y, uint32_t seed) {
  float fx = std::floor(x), fy = std::floor(y);
  int32_t ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
  float tx = x - fx, ty = y - fy;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  float a = Hash01(ix, iy, seed), b = Hash01(ix + 1, iy, seed);
  float c = Hash01(ix, iy + 1, seed), d = Hash01(ix + 1, iy + 1, seed);
  return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

float Fbm(float x, float y, int octaves, uint32_t seed) {
  float sum = 0, amp = 0.5f, norm = 0;
  for (int i = 0; i < octaves; ++i) {
    sum += amp * ValueNoise(x, y, seed + i * 101);
    norm += amp;
    x *= 2.03f;
    y *= 2.03f;
    amp *= 0.5f;
  }
  return sum / norm;
}

// Sharp-crested noise for mountain ridges: peaks where plain noise crosses its middle.
float Ridged(float x, int octaves, uint32_t seed) {
  float sum = 0, amp = 0.5f, norm = 0;
  for (int i = 0; i < octaves; ++i) {
    float n = 1.0f - std::fabs(2.0f * ValueNoise(x, 0.5f, seed + i * 31) - 1.0f);
    sum += amp * n * n;
    norm += amp;
    x *= 2.1f;
    amp *= 0.48f;
  }
  return sum / norm;
}

// ---- Images -------------------------------------------------------------------------------

struct Image {
  int w, h;
  std::vector<float> px;  // r, g, b, a per pixel, straight alpha, 0..1
  Image(int width, int height) : w(width), h(height), px(static_cast<size_t>(width) * height * 4) {}
  float* At(int x, int y) { return &px[(static_cast<size_t>(y) * w + x) * 4]; }
};

// Ordered source-over in straight alpha.
void Blend(Image& img, int x, int y, Rgb c, float a) {
  if (x < 0 || y < 0 || x >= img.w || y >= img.h || a <= 0) return;
  float* p = img.At(x, y);
  float outA = a + p[3] * (1 - a);
  if (outA <= 0) return;
  float k = p[3] * (1 - a);
  p[0] = (c.r * a + p[0] * k) / outA;
  p[1] = (c.g * a + p[1] * k) / outA;
  p[2] = (c.b * a + p[2] * k) / outA;
  p[3] = outA;
}

void AddLight(Image& img, int x, int y, Rgb c) {
  if (x < 0 || y < 0 || x >= img.w || y >= img.h) return;
  float* p = img.At(x, y);
  p[0] += c.r;
  p[1] += c.g;
  p[2] += c.b;
}

uint8_t ToByte(float v, float dither) {
  float s = v * 255.0f + dither;
  return static_cast<uint8_t>(std::lround(std::min(255.0f, std::max(0.0f, s))));
}

bool WritePpm(const Image& img, const std::string& path, uint32_t ditherSeed) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", img.w, img.h);
  std::vector<uint8_t> row(static_cast<size_t>(img.w) * 3);
  for (int y = 0; y < img.h; ++y) {
    for (int x = 0; x < img.w; ++x) {
      const float* p = &img.px[(static_cast<size_t>(y) * img.w + x) * 4];
      // Triangular dither keeps the long sky gradient free of bands.
      float d = Hash01(x, y, ditherSeed) + Hash01(x, y, ditherSeed + 7) - 1.0f;
      for (int c = 0; c < 3; ++c) row[x * 3 + c] = ToByte(p[c], d);
    }
    std::fwrite(row.data(), 1, row.size(), f);
  }
  return std::fclose(f) == 0;
}

bool WritePam(const Image& img, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
               img.w, img.h);
  for (float v : img.px) std::fputc(ToByte(v, 0), f);
  return std::fclose(f) == 0;
}

// ---- Background: night sky, moon, mountain ranges, castle on a crag, mist -----------------

constexpr int kBgW = 1600, kBgH = 1200;
constexpr float kMoonX = 1175, kMoonY = 282, kMoonR = 64;
constexpr int kSub = 4;  // subsamples per pixel edge for silhouettes

float MoonDistance(float x, float y) { return std::hypot(x - kMoonX, y - kMoonY); }

Rgb SkyColour(float x, float y) {
  // Deep navy at the zenith, a cold blue band at the horizon.
  const Rgb zenith = Hex(0x03060F), upper = Hex(0x081531), low = Hex(0x15305A),
            horizon = Hex(0x2C5584);
  float t = y / 760.0f;
  Rgb c = t < 0.45f ? Mix(zenith, upper, Smooth(0, 0.45f, t))
                    : t < 0.8f ? Mix(upper, low, Smooth(0.45f, 0.8f, t))
                               : Mix(low, horizon, Smooth(0.8f, 1.05f, t));
  float d = MoonDistance(x, y);
  float glow = 0.50f * std::exp(-d / 70.0f) + 0.22f * std::exp(-d / 220.0f) +
               0.10f * std::exp(-d / 600.0f);
  c = c + Hex(0x78AEEA) * glow;
  // A faint band of high haze across the sky, brighter near the moon.
  float haze = Fbm(x / 520.0f, y / 140.0f, 5, 11);
  haze = Smooth(0.45f, 0.85f, haze) * (0.05f + 0.25f * std::exp(-d / 380.0f));
  return c + Hex(0x8CB8E8) * haze;
}

void PaintSky(Image& img) {
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x) {
      Rgb c = SkyColour(x + 0.5f, y + 0.5f);
      float* p = img.At(x, y);
      p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 1;
    }
}

void PaintStar(Image& img, float sx, float sy, float radius, Rgb colour) {
  int r = static_cast<int>(std::ceil(radius * 3));
  for (int y = -r; y <= r; ++y)
    for (int x = -r; x <= r; ++x) {
      int px = static_cast<int>(sx) + x, py = static_cast<int>(sy) + y;
      float dx = px + 0.5f - sx, dy = py + 0.5f - sy;
      float k = std::exp(-(dx * dx + dy * dy) / (2 * radius * radius));
      AddLight(img, px, py, colour * k);
    }
}

void PaintStars(Image& img) {
  for (int i = 0; i < 2200; ++i) {
    float sx = Hash01(i, 1, 21) * kBgW, sy = Hash01(i, 2, 21) * 820.0f;
    float mag = std::pow(Hash01(i, 3, 21), 7.0f);
    // Fewer and dimmer near the horizon and inside the moon's glare.
    float fade = (1.0f - Smooth(380, 800, sy)) * Smooth(60, 260, MoonDistance(sx, sy));
    if (fade <= 0.02f) continue;
    float tint = Hash01(i, 4, 21);
    Rgb colour = tint < 0.7f ? Hex(0xDCEBFF) : (tint < 0.9f ? Hex(0xA8CCFF) : Hex(0xFFF1DC));
    float radius = 0.55f + 1.1f * mag;
    PaintStar(img, sx, sy, radius, colour * ((0.25f + 1.6f * mag) * fade));
    if (mag > 0.45f) {  // the brightest few get a soft cross
      for (int k = -9; k <= 9; ++k) {
        float a = 0.18f * fade * std::exp(-std::fabs(float(k)) / 3.0f);
        AddLight(img, static_cast<int>(sx) + k, static_cast<int>(sy), colour * a);
        AddLight(img, static_cast<int>(sx), static_cast<int>(sy) + k, colour * a);
      }
    }
  }
}

void PaintMoon(Image& img) {
  for (int y = static_cast<int>(kMoonY - kMoonR - 2); y <= kMoonY + kMoonR + 2; ++y)
    for (int x = static_cast<int>(kMoonX - kMoonR - 2); x <= kMoonX + kMoonR + 2; ++x) {
      float d = MoonDistance(x + 0.5f, y + 0.5f);
      float cover = Clamp01(kMoonR + 0.5f - d);
      if (cover <= 0) continue;
      float u = (x + 0.5f - kMoonX) / kMoonR, v = (y + 0.5f - kMoonY) / kMoonR;
      float maria = Smooth(0.5f, 0.75f, Fbm(u * 1.8f + 3, v * 1.8f + 7, 4, 5));
      float limb = std::sqrt(std::max(0.0f, 1 - (u * u + v * v)));
      Rgb c = Mix(Hex(0xF4F9FF), Hex(0xB9CCE6), 0.55f * maria);
      c = c * (0.82f + 0.18f * limb);
      Blend(img, x, y, c, cover);
    }
}

// Thin cloud streaks drawn over the moon and the upper sky.
void PaintClouds(Image& img) {
  for (int y = 120; y < 560; ++y)
    for (int x = 0; x < img.w; ++x) {
      float n = Fbm(x / 360.0f + 4, y / 38.0f, 6, 77);
      float band = std::exp(-std::pow((y - 330.0f) / 120.0f, 2.0f));
      float a = Smooth(0.55f, 0.8f, n) * band * 0.55f;
      if (a <= 0.003f) continue;
      float lit = std::exp(-MoonDistance(x, y) / 260.0f);
      Rgb c = Mix(Hex(0x1A3358), Hex(0x9CC4EE), 0.25f + 0.75f * lit);
      Blend(img, x, y, c, a);
    }
}

// A silhouette layer given as a profile: the top edge y at a sub-column.
using Profile = std::vector<float>;

Profile MakeProfile(float (*topAt)(float)) {
  Profile p(kBgW * kSub);
  for (int i = 0; i < kBgW * kSub; ++i) p[i] = topAt((i + 0.5f) / kSub);
  return p;
}

float Coverage(const Profile& top, int x, int y) {
  int inside = 0;
  for (int sx = 0; sx < kSub; ++sx) {
    float t = top[x * kSub + sx];
    for (int sy = 0; sy < kSub; ++sy)
      if (y + (sy + 0.5f) / kSub > t) ++inside;
  }
  return inside / float(kSub * kSub);
}

float FarRange(float x) {
  return 690 - 250 * Ridged(x / 430.0f + 2.3f, 5, 3) - 40 * ValueNoise(x / 90.0f, 1, 4);
}

float MidRange(float x) {
  float hills = 760 - 170 * Ridged(x / 330.0f + 8.1f, 5, 9) - 18 * ValueNoise(x / 40.0f, 2, 9);
  // The crag the castle stands on: a flat top with steep broken sides.
  float off = std::max(0.0f, std::fabs(x - 1140.0f) - 142.0f);
  float crag = 594 + 0.9f * std::pow(off, 1.25f) + 16 * Fbm(x / 22.0f, 3, 3, 12) - 8;
  if (off == 0) crag = 592 + 3 * ValueNoise(x / 9.0f, 4, 13);
  return std::min(hills, crag);
}

// Pines along the near ridge: each tree a narrow spike with a ragged outline.
float NearRange(float x) {
  float ground = 860 - 70 * Ridged(x / 260.0f + 1.7f, 4, 15) - 10 * ValueNoise(x / 30.0f, 5, 15);
  float top = ground;
  int cell = static_cast<int>(std::floor(x / 17.0f));
  for (int c = cell - 3; c <= cell + 3; ++c) {
    if (Hash01(c, 9, 16) < 0.35f) continue;
    float cx = (c + Hash01(c, 10, 16)) * 17.0f;
    float height = 26 + 58 * Hash01(c, 11, 16) * Hash01(c, 12, 16) + 20 * Hash01(c, 13, 16);
    float dx = std::fabs(x - cx);
    float tier = 1.0f + 0.35f * (std::fmod(dx * 0.9f + Hash01(c, 14, 16) * 5, 5.0f) / 5.0f);
    float y = (ground + 8 - height) + dx * 3.1f * tier;
    top = std::min(top, y);
  }
  return top;
}

float Foreground(float x) {
  return 1010 - 90 * Ridged(x / 500.0f + 5.5f, 4, 19) - 8 * ValueNoise(x / 25.0f, 6, 19);
}

void PaintRange(Image& img, const Profile& top, Rgb deep, Rgb rim, float rimWidth, float rimGain,
                float texture) {
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x) {
      float c = Coverage(top, x, y);
      if (c <= 0) continue;
      float ridge = top[x * kSub + kSub / 2];
      float depth = std::max(0.0f, y + 0.5f - ridge);
      float moonSide = std::exp(-std::fabs(x - kMoonX) / 700.0f);
      // Strata that follow the crest line rather than plain vertical noise.
      float rock = 1.0f + texture * (Fbm(x / 60.0f + depth / 40.0f, depth / 14.0f, 4, 41) - 0.5f);
      Rgb colour = deep * rock + rim * (rimGain * moonSide * std::exp(-depth / rimWidth));
      Blend(img, x, y, colour, c);
    }
}

// Moonlit snow on the tallest far peaks.
void PaintSnow(Image& img, const Profile& top) {
  for (int y = 380; y < 640; ++y)
    for (int x = 0; x < img.w; ++x) {
      float ridge = top[x * kSub + kSub / 2];
      if (ridge > 560 || y + 0.5f <= ridge) continue;
      float depth = y + 0.5f - ridge;
      float reach = (560 - ridge) * 0.45f * (0.55f + 0.9f * Fbm(x / 45.0f, y / 14.0f, 4, 51));
      float a = Clamp01((reach - depth) / 7.0f) * Coverage(top, x, y) * 0.5f;
      Rgb c = Mix(Hex(0x5C7EAE), Hex(0xA9C6EA), std::exp(-std::fabs(x - kMoonX) / 600.0f));
      Blend(img, x, y, c, a);
    }
}

void PaintMist(Image& img, float centreY, float height, float strength, Rgb colour, uint32_t seed) {
  for (int y = 0; y < img.h; ++y) {
    float band = std::exp(-std::pow((y - centreY) / height, 2.0f));
    if (band < 0.01f) continue;
    for (int x = 0; x < img.w; ++x) {
      float n = Fbm(x / 300.0f + y / 900.0f, y / 45.0f, 5, seed);
      float a = band * strength * (0.35f + 0.9f * Smooth(0.35f, 0.75f, n));
      float lit = 0.6f + 0.4f * std::exp(-std::fabs(x - kMoonX) / 500.0f);
      Blend(img, x, y, colour * lit, Clamp01(a));
    }
  }
}

// ---- The castle ---------------------------------------------------------------------------

struct Box {
  float l, t, r, b;
};

bool InBox(const Box& b, float x, float y) { return x >= b.l && x < b.r && y >= b.t && y < b.b; }

// Battlements: the wall's top edge is notched every 'pitch' pixels.
bool InCrenellated(const Box& b, float x, float y, float pitch, float notch) {
  if (!InBox(b, x, y)) return false;
  if (y >= b.t + notch) return true;
  return std::fmod(x - b.l, pitch) < pitch * 0.55f;
}

bool InRoof(float cx, float apexY, float baseY, float halfW, float x, float y) {
  if (y < apexY || y >= baseY) return false;
  return std::fabs(x - cx) <= halfW * (y - apexY) / (baseY - apexY);
}

struct Tower {
  float cx, halfW, top, apex;  // body from top down to the crag, conical roof up to apex
};

const Tower kTowers[] = {
    {1070, 15, 478, 420},   // west tower
    {1206, 17, 392, 318},   // the high tower, its spire against the moon
    {1138, 8, 404, 372},    // turret on the keep
    {1255, 13, 506, 466},   // east tower
    {1003, 9, 604, 578},    // gate tower down the slope
};

bool InCastle(float x, float y) {
  const float base = 600;
  // Walls and towers run 30-40 px down into the crag so the castle sits on the rock.
  if (InCrenellated({1050, 540, 1272, base + 30}, x, y, 13, 7)) return true;  // curtain wall
  if (InCrenellated({1112, 430, 1190, base + 30}, x, y, 11, 7)) return true;  // keep
  if (InBox({990, 596, 1060, 640}, x, y) && y > 596 + (1060 - x) * 0.25f) return true;  // ramp wall
  for (const Tower& t : kTowers) {
    if (InBox({t.cx - t.halfW, t.top, t.cx + t.halfW, base + 40}, x, y)) return true;
    if (InRoof(t.cx, t.apex, t.top + 1, t.halfW + 4, x, y)) return true;
  }
  // A pennant on the high spire.
  if (x >= 1205.2f && x < 1206.8f && y >= 296 && y < 320) return true;
  if (x >= 1206.8f && x < 1226 && y >= 297 && y < 305 - (x - 1206.8f) * 0.2f) return true;
  return false;
}

void PaintCastle(Image& img, Rgb colour) {
  for (int y = 290; y < 650; ++y)
    for (int x = 980; x < 1290; ++x) {
      int inside = 0;
      for (int sy = 0; sy < kSub; ++sy)
        for (int sx = 0; sx < kSub; ++sx)
          if (InCastle(x + (sx + 0.5f) / kSub, y + (sy + 0.5f) / kSub)) ++inside;
      if (inside == 0) continue;
      Blend(img, x, y, colour, inside / float(kSub * kSub));
    }
}

// Lit windows: a few warm lights make the silhouette a place people live in.
void PaintWindows(Image& img) {
  const float windows[][2] = {{1068, 500}, {1072, 540}, {1200, 420}, {1212, 452}, {1206, 500},
                              {1128, 470}, {1150, 470}, {1172, 470}, {1140, 520}, {1160, 548},
                              {1253, 530}, {1090, 566}, {1232, 566}, {1003, 612}};
  const Rgb warm = Hex(0xFFC98A);
  for (const auto& w : windows) {
    for (int y = -14; y <= 14; ++y)
      for (int x = -14; x <= 14; ++x) {
        float dx = x + 0.5f, dy = y + 0.5f;
        bool core = std::fabs(dx) < 1.6f && dy > -3.2f && dy < 3.2f;
        float glow = 0.10f * std::exp(-(dx * dx + dy * dy) / 40.0f);
        int px = static_cast<int>(w[0]) + x, py = static_cast<int>(w[1]) + y;
        if (core) Blend(img, px, py, warm, 0.95f);
        AddLight(img, px, py, warm * glow);
      }
  }
}

void PaintVignette(Image& img) {
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x) {
      float u = (x - kBgW * 0.6f) / kBgW, v = (y - kBgH * 0.45f) / kBgH;
      float k = 1.0f - 0.55f * Smooth(0.2f, 0.8f, std::sqrt(u * u + v * v) * 1.2f);
      float* p = img.At(x, y);
      p[0] *= k, p[1] *= k, p[2] *= k;
    }
}

Image PaintBackground() {
  Image img(kBgW, kBgH);
  PaintSky(img);
  PaintStars(img);
  PaintMoon(img);
  PaintClouds(img);

  Profile far = MakeProfile(FarRange);
  PaintRange(img, far, Hex(0x1C3458), Hex(0x6F96C8), 26, 0.45f, 0.35f);
  PaintSnow(img, far);
  PaintMist(img, 690, 60, 0.55f, Hex(0x4E78A8), 61);

  Profile mid = MakeProfile(MidRange);
  PaintRange(img, mid, Hex(0x0D1A33), Hex(0x4C76AA), 10, 0.55f, 0.25f);
  PaintCastle(img, Hex(0x0B162C));
  PaintWindows(img);
  PaintMist(img, 800, 50, 0.6f, Hex(0x47709E), 62);

  Profile nearRange = MakeProfile(NearRange);
  PaintRange(img, nearRange, Hex(0x060C1A), Hex(0x36587F), 5, 0.35f, 0.15f);
  PaintMist(img, 905, 60, 0.45f, Hex(0x3A5E88), 63);

  Profile fore = MakeProfile(Foreground);
  PaintRange(img, fore, Hex(0x03060E), Hex(0x243E60), 4, 0.3f, 0.1f);
  PaintVignette(img);
  return img;
}

// ---- Shapes with alpha: rounded rectangles and diamonds, supersampled ---------------------

// Signed distance to a rounded rectangle centred at (cx, cy); negative inside.
float RoundRectDistance(float x, float y, float cx, float cy, float halfW, float halfH,
                        float radius) {
  float qx = std::fabs(x - cx) - (halfW - radius), qy = std::fabs(y - cy) - (halfH - radius);
  float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
  return std::hypot(ox, oy) + std::min(std::max(qx, qy), 0.0f) - radius;
}

struct ButtonLook {
  Rgb top, bottom, rim, innerRim, glow;
  float gloss, glowGain;
};

Image PaintButton(const ButtonLook& look) {
  const int w = 144, h = 58;
  const float cx = w / 2.0f, cy = h / 2.0f, halfW = w / 2.0f - 1, halfH = h / 2.0f - 1, rad = 11;
  Image img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float d = RoundRectDistance(x + 0.5f, y + 0.5f, cx, cy, halfW, halfH, rad);
      float cover = Clamp01(0.5f - d);
      if (cover <= 0) continue;
      float t = (y + 0.5f) / h;
      Rgb c = Mix(look.top, look.bottom, Smooth(0, 1, t));
      // Glass: a soft sheen over the upper half, a cool glow rising from the bottom edge.
      float sheen = look.gloss * (1 - 0.6f * Smooth(0.0f, 0.45f, t)) * (1 - Smooth(0.42f, 0.47f, t));
      c = Mix(c, Hex(0xBEE1FF), sheen);
      c = c + look.glow * (look.glowGain * std::exp(-(1 - t) * 9.0f) *
                           std::exp(-std::pow((x + 0.5f - cx) / (w * 0.35f), 2.0f)));
      float rim = Clamp01(1.6f - std::fabs(d + 1.0f));        // 1.6 px rim on the edge
      float inner = Clamp01(1.0f - std::fabs(d + 3.5f)) * 0.35f;  // faint inner line
      float rimLight = 0.65f + 0.35f * (1 - t);
      c = Mix(c, look.innerRim, inner);
      c = Mix(c, look.rim * rimLight + Hex(0xFFFFFF) * (0.15f * (1 - t)), rim);
      float alpha = 0.9f + 0.1f * rim;  // the glass body is slightly see-through
      float* p = img.At(x, y);
      p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = alpha * cover;
    }
  return img;
}

struct Pt {
  float x, y;
};

// Inside a convex polygon given clockwise in screen coordinates.
bool InConvex(const Pt* v, int n, float x, float y) {
  for (int i = 0; i < n; ++i) {
    const Pt& a = v[i];
    const Pt& b = v[(i + 1) % n];
    if ((b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x) < 0) return false;
  }
  return true;
}

// The emblem of the title bar, scaled to the icon: an outer diamond with a light outline and
// a bright inner diamond. Large sizes get facet shading and a soft halo.
Image PaintIcon(int size) {
  Image img(size, size);
  const float s = static_cast<float>(size), c = s / 2.0f;
  const float outerH = s * 0.48f, outerW = outerH * 7.0f / 8.0f;
  const float line = std::max(1.0f, s / 22.0f);
  const float innerH = outerH * 9.0f / 16.0f, innerW = outerH * 7.0f / 16.0f;
  const Pt outer[] = {{c, c - outerH}, {c + outerW, c}, {c, c + outerH}, {c - outerW, c}};
  const Pt edge[] = {{c, c - outerH + line * 1.45f}, {c + outerW - line * 1.25f, c},
                     {c, c + outerH - line * 1.45f}, {c - outerW + line * 1.25f, c}};
  const Pt inner[] = {{c, c - innerH}, {c + innerW, c}, {c, c + innerH}, {c - innerW, c}};
  const bool facets = size >= 32;
  const int sub = 8;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      float accR = 0, accG = 0, accB = 0, accA = 0;
      for (int sy = 0; sy < sub; ++sy)
        for (int sx = 0; sx < sub; ++sx) {
          float fx = x + (sx + 0.5f) / sub, fy = y + (sy + 0.5f) / sub;
          if (!InConvex(outer, 4, fx, fy)) continue;
          Rgb col = Hex(0xBEE1FF);  // outline
          if (InConvex(inner, 4, fx, fy)) {
            col = Hex(0xD7F0FF);
            if (facets && fx > c) col = col * 0.9f;
            if (facets && fy > c) col = col * 0.93f;
          } else if (InConvex(edge, 4, fx, fy)) {
            col = Hex(0x285A96);
            if (facets) {  // light from the upper left
              float shade = (fx < c ? 1.18f : 0.9f) * (fy < c ? 1.1f : 0.85f);
              col = col * shade;
            }
          }
          accR += col.r, accG += col.g, accB += col.b, accA += 1;
        }
      float* p = img.At(x, y);
      if (accA > 0) p[0] = accR / accA, p[1] = accG / accA, p[2] = accB / accA;
      p[3] = accA / (sub * sub);
    }
  if (size >= 64) {  // halo behind the emblem
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        float dx = (x + 0.5f - c) / outerW, dy = (y + 0.5f - c) / outerH;
        float dist = std::fabs(dx) + std::fabs(dy);
        float a = 0.35f * Smooth(1.25f, 0.95f, dist);
        float* p = img.At(x, y);
        if (p[3] >= 1) continue;
        Rgb halo = Hex(0x96D2E6);
        float outA = p[3] + a * (1 - p[3]);
        if (outA <= 0) continue;
        for (int k = 0; k < 3; ++k)
          p[k] = (p[k] * p[3] + (&halo.r)[k] * a * (1 - p[3])) / outA;
        p[3] = outA;
      }
  }
  return img;
}

// ---- .ico container of PNG images ----------------------------------------------------------

bool ReadFile(const char* path, std::vector<uint8_t>& out) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return true;
}

uint32_t PngDimension(const std::vector<uint8_t>& png, size_t at) {
  return uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 |
         png[at + 3];
}

void Put16(std::vector<uint8_t>& o, uint32_t v) {
  o.push_back(v & 255);
  o.push_back((v >> 8) & 255);
}
void Put32(std::vector<uint8_t>& o, uint32_t v) {
  Put16(o, v & 0xFFFF);
  Put16(o, v >> 16);
}

int WriteIco(const char* outPath, int count, char** pngPaths) {
  std::vector<std::vector<uint8_t>> pngs(count);
  for (int i = 0; i < count; ++i) {
    if (!ReadFile(pngPaths[i], pngs[i]) || pngs[i].size() < 24) {
      std::fprintf(stderr, "cannot read PNG %s\n", pngPaths[i]);
      return 1;
    }
  }
  std::vector<uint8_t> ico;
  Put16(ico, 0);
  Put16(ico, 1);  // type: icon
  Put16(ico, count);
  uint32_t offset = 6 + 16 * count;
  for (const auto& png : pngs) {
    uint32_t w = PngDimension(png, 16), h = PngDimension(png, 20);
    ico.push_back(w >= 256 ? 0 : w);
    ico.push_back(h >= 256 ? 0 : h);
    ico.push_back(0);  // no palette
    ico.push_back(0);
    Put16(ico, 1);   // planes
    Put16(ico, 32);  // bits per pixel
    Put32(ico, png.size());
    Put32(ico, offset);
    offset += png.size();
  }
  for (const auto& png : pngs) ico.insert(ico.end(), png.begin(), png.end());
  FILE* f = std::fopen(outPath, "wb");
  if (!f || std::fwrite(ico.data(), 1, ico.size(), f) != ico.size()) return 1;
  return std::fclose(f) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--ico") return WriteIco(argv[2], argc - 3, argv + 3);
  if (argc != 2) {
    std::fprintf(stderr, "usage: paint_art OUTDIR | paint_art --ico OUT.ico PNG...\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  bool ok = WritePpm(PaintBackground(), dir + "background.ppm", 97);
  const ButtonLook normal = {Hex(0x162A4C), Hex(0x050A16), Hex(0x8CCDFF), Hex(0xBEE1FF),
                             Hex(0x468CE6), 0.16f, 0.30f};
  const ButtonLook hover = {Hex(0x23487C), Hex(0x0A1A36), Hex(0xD7F0FF), Hex(0xD7F0FF),
                            Hex(0x96D2E6), 0.22f, 0.55f};
  ok = ok && WritePam(PaintButton(normal), dir + "button.pam");
  ok = ok && WritePam(PaintButton(hover), dir + "button_hover.pam");
  for (int size : {16, 24, 32, 48, 64, 256})
    ok = ok && WritePam(PaintIcon(size), dir + "icon" + std::to_string(size) + ".pam");
  if (!ok) std::fprintf(stderr, "paint_art: cannot write into %s\n", dir.c_str());
  return ok ? 0 : 1;
}
