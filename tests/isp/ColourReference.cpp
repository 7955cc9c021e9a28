// The per-pixel models of the colour kernels. Every stage works on whole frames of ints, in the
// order of the rules; only the dead-pixel correction follows the loading order of the row
// pairs, because it changes the raw frame that later row pairs read.
#include "ColourReference.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace colourref {

namespace {

// A frame of ints in one block; plane[y][x].
class Plane {
  public:
    Plane(int W, int H) : m_width(W), m_values(static_cast<size_t>(W) * H, 0) {}
    int* operator[](int y) { return m_values.data() + static_cast<size_t>(y) * m_width; }
    const int* operator[](int y) const {
        return m_values.data() + static_cast<size_t>(y) * m_width;
    }
    void CopyRow(const Plane& from, int y) { std::copy(from[y], from[y] + m_width, (*this)[y]); }

  private:
    int m_width;
    std::vector<int> m_values;
};

Plane MakePlane(int W, int H) {
    return Plane(W, H);
}

int Clamp(int64_t v, int lo, int hi) {
    return static_cast<int>(std::min<int64_t>(std::max<int64_t>(v, lo), hi));
}

struct Common {
    int W, H, P;
    bool matrixInUse;
    int64_t m[9];
    int greenPivot;
    int64_t L;         // 76 gR + 150 gG + 29 gB
    int64_t S;         // sharpening strength
    int maps[3][256];  // red, green, blue: 8-bit sample -> table value
};

Common Prepare(const Frame& f, const Settings& s) {
    Common c;
    c.W = f.width;
    c.H = f.height;
    c.P = f.height / 2;
    const int identity[9] = {256, 0, 0, 0, 256, 0, 0, 0, 256};
    c.matrixInUse = !s.monoCamera && !s.monochrome && s.saturation != 0 && s.bytesPerPixel > 1;
    for (int i = 0; i < 9; ++i) {
        if (!c.matrixInUse) {
            c.m[i] = identity[i];
            continue;
        }
        const int d = s.saturation - 128;
        const bool diagonal = i == 0 || i == 4 || i == 8;
        c.m[i] = s.matrix[i] + (diagonal ? d : -(d / 2));
    }
    c.greenPivot = (s.green1Mean + s.green2Mean) / 2;
    c.L = 76 * int64_t{s.gains[0]} + 150 * int64_t{s.gains[1]} + 29 * int64_t{s.gains[2]};
    c.S = int64_t{s.sharpness} * 128 / 25;
    for (int ch = 0; ch < 3; ++ch)
        for (int v = 0; v < 256; ++v) {
            int e = v;
            if (s.tableOn) {
                const std::vector<uint16_t>& t = s.tables[ch];
                e = t.size() == 256 ? t[v] : t[static_cast<size_t>(v) * 16] / 16;
                e = std::min(e, 255);
            }
            c.maps[ch][v] = e;
        }
    return c;
}

// 8-bit value of a stored sample.
int Reduce(const Frame& f, int v) {
    return f.sampleBytes == 1 ? v : std::min(v, 4095) >> 4;
}

int& At(Frame& f, int x, int y) {
    return f.raw[static_cast<size_t>(y) * f.width + x];
}

// Site of (x, y) in GRBG: 0 green, 1 red, 2 blue.
int SiteOf(int x, int y) {
    if (y % 2 == 0) return x % 2 == 0 ? 0 : 1;
    return x % 2 == 0 ? 2 : 0;
}

// The table stage by site.
int Lookup(const Common& c, int x, int y, int v) {
    const int site = SiteOf(x, y);
    return c.maps[site == 0 ? 1 : site == 1 ? 0 : 2][v];
}

// ---- Sharpening ----------------------------------------------------------------------------

Plane SharpenVector(const Common& c, const Settings& s, const Plane& L) {
    Plane out = L;
    if (s.sharpness == 0) return out;
    const int step = s.monoCamera ? 1 : 2;
    const int E = 2 * step;
    const int WE = c.W - ((c.W - E) % 8);
    for (int y = 2; y < c.H - 2; ++y)
        for (int x = E; x < WE; ++x) {
            if (x + 2 * step > c.W - 1) continue;  // the window would leave the row: copied
            int sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -2; dx <= 2; ++dx) sum += L[y + dy * step][x + dx * step];
            const int v = L[y][x];
            const int a = (v + sum) >> 4;
            out[y][x] = Clamp(v + (((v - a) * c.S) >> 7), 0, 255);
        }
    return out;
}

Plane SharpenScalar(const Common& c, const Settings& s, const Plane& L) {
    Plane out = L;
    if (s.sharpness == 0) return out;
    const int step = s.monoCamera ? 1 : 2;
    for (int y = 2; y < c.H - 2; ++y)
        for (int x = step; x <= c.W - 1 - step; ++x) {
            int sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) sum += L[y + dy * step][x + dx * step];
            const int v = L[y][x];
            out[y][x] = Clamp(v + c.S * (v - sum / 9) / 100, 0, 255);
        }
    return out;
}

// ---- Output ----------------------------------------------------------------------------------

void Pack(std::vector<uint8_t>& out, const Common& c, const Settings& s, int x, int y, int r, int g,
          int b) {
    const int ox = s.mirrorH ? c.W - 1 - x : x;
    const int oy = s.mirrorV ? c.H - 1 - y : y;
    uint8_t* p = &out[(static_cast<size_t>(oy) * c.W + ox) * s.bytesPerPixel];
    if (s.bytesPerPixel == 1) {
        p[0] = static_cast<uint8_t>(r);
        return;
    }
    p[0] = static_cast<uint8_t>(s.rgbOrder ? r : b);
    p[1] = static_cast<uint8_t>(g);
    p[2] = static_cast<uint8_t>(s.rgbOrder ? b : r);
    if (s.bytesPerPixel == 4) p[3] = 255;
}

int Luma(int r, int g, int b) {
    return (76 * r + 150 * g + 29 * b) >> 8;
}

int ContrastDoubleFromFloat(int v, int pivot, int contrast) {
    const float f = static_cast<float>(2 * contrast) / 100.0f;
    const double y = (static_cast<double>(v) - pivot) * static_cast<double>(f) + pivot;
    return Clamp(static_cast<int64_t>(std::trunc(y)), 0, 255);
}

int64_t ContrastTruncDouble(int v, int pivot, int contrast) {
    const double f = contrast * 2.0 / 100.0;
    return static_cast<int64_t>(std::trunc((static_cast<double>(v) - pivot) * f + pivot));
}

// The border cell pixels, shared by both families: the cell's samples, the green by position,
// contrast in double precision from the single-precision factor.
void BorderCellPixel(const Common& c, const Settings& s, const Plane& D, int x, int y, int& r,
                     int& g, int& b) {
    const int cx = x & ~1;
    const int cy = y & ~1;
    const int g1 = D[cy][cx], rr = D[cy][cx + 1], bb = D[cy + 1][cx], g2 = D[cy + 1][cx + 1];
    if (s.monoCamera) {
        int v = D[y][x];
        if (s.contrast != 50) v = ContrastDoubleFromFloat(v, s.redMean, s.contrast);
        r = g = b = v;
        return;
    }
    const int gm = (g1 + g2) >> 1;
    const bool evenRow = y % 2 == 0;
    const bool evenCol = x % 2 == 0;
    r = rr;
    b = bb;
    g = evenRow ? (evenCol ? g1 : gm) : (evenCol ? gm : g2);
    if (s.contrast != 50) {
        r = ContrastDoubleFromFloat(r, s.redMean, s.contrast);
        g = ContrastDoubleFromFloat(g, c.greenPivot, s.contrast);
        b = ContrastDoubleFromFloat(b, s.blueMean, s.contrast);
    }
    if (!c.matrixInUse) r = g = b = Luma(r, g, b);
}

void LumaContrastFloat(int pivot, int contrast, int& r, int& g, int& b) {
    const int y = Luma(r, g, b);
    const int y2 = ContrastFloat(y, pivot, contrast);
    const int u = (-37 * r - 74 * g + 111 * b) >> 8;
    const int v = (157 * r - 131 * g - 26 * b) >> 8;
    r = Clamp(y2 + ((292 * v) >> 8), 0, 255);
    g = Clamp(y2 - ((101 * u + 149 * v) >> 8), 0, 255);
    b = Clamp(y2 + ((520 * u) >> 8), 0, 255);
}

std::vector<uint8_t> Output(const Common& c, const Settings& s, const Plane& D, bool scalar) {
    std::vector<uint8_t> out(static_cast<size_t>(c.W) * c.H * s.bytesPerPixel, 0);
    const bool contrast = s.contrast != 50;
    for (int y = 0; y < c.H; ++y) {
        const int pair = y / 2;
        const bool borderRow = pair == 0 || pair == c.P - 1;
        for (int x = 0; x < c.W; ++x) {
            int r, g, b;
            const int site = SiteOf(x, y);
            const int sitePivot = site == 0 ? c.greenPivot : site == 1 ? s.redMean : s.blueMean;
            if (borderRow) {
                const int cx = x & ~1;
                const int cy = y & ~1;
                if (s.monoCamera) {
                    int v = D[y][x];
                    if (contrast)
                        v = scalar ? Clamp(ContrastTruncDouble(v, sitePivot, s.contrast), 0, 255)
                                   : ContrastFloat(v, s.redMean, s.contrast);
                    r = g = b = v;
                } else {
                    const int g1 = D[cy][cx], g2 = D[cy + 1][cx + 1];
                    r = D[cy][cx + 1];
                    b = D[cy + 1][cx];
                    if (!scalar)
                        g = y % 2 == 0 ? g1 : g2;
                    else
                        g = site == 0 ? D[y][x] : (g1 + g2) >> 1;
                    if (contrast) {
                        if (scalar) {
                            r = Clamp(ContrastTruncDouble(r, s.redMean, s.contrast), 0, 255);
                            g = Clamp(ContrastTruncDouble(g, c.greenPivot, s.contrast), 0, 255);
                            b = Clamp(ContrastTruncDouble(b, s.blueMean, s.contrast), 0, 255);
                        } else {
                            r = ContrastFloat(r, s.redMean, s.contrast);
                            g = ContrastFloat(g, c.greenPivot, s.contrast);
                            b = ContrastFloat(b, s.blueMean, s.contrast);
                        }
                    }
                    if (!c.matrixInUse) r = g = b = Luma(r, g, b);
                }
            } else if (x < 2 || x >= c.W - 2) {
                BorderCellPixel(c, s, D, x, y, r, g, b);
            } else {
                const int M = D[y][x];
                if (s.monoCamera) {
                    int v = M;
                    if (contrast)
                        v = scalar ? Clamp(ContrastTruncDouble(v, sitePivot, s.contrast), 0, 255)
                                   : ContrastFloat(v, s.redMean, s.contrast);
                    r = g = b = v;
                } else {
                    const int L = D[y][x - 1], Rt = D[y][x + 1], U = D[y - 1][x], Dn = D[y + 1][x];
                    const int diag =
                        D[y - 1][x - 1] + D[y - 1][x + 1] + D[y + 1][x - 1] + D[y + 1][x + 1];
                    const int HA = (L + Rt) >> 1, VA = (U + Dn) >> 1, XA = (HA + VA) >> 1;
                    const int DA = diag >> 2;
                    const int greenOfGreen = scalar ? (M + diag) / 5 : (M + DA) >> 1;
                    if (site == 0) {
                        r = y % 2 == 0 ? HA : VA;
                        g = greenOfGreen;
                        b = y % 2 == 0 ? VA : HA;
                    } else if (site == 1) {
                        r = M;
                        g = XA;
                        b = DA;
                    } else {
                        r = DA;
                        g = XA;
                        b = M;
                    }
                    if (contrast) {
                        if (scalar) {
                            const int64_t y2 =
                                ContrastTruncDouble(Luma(r, g, b), sitePivot, s.contrast);
                            const int u = (-37 * r - 74 * g + 111 * b) >> 8;
                            const int v = (157 * r - 131 * g - 26 * b) >> 8;
                            r = Clamp(y2 + ((292 * v) >> 8), 0, 255);
                            g = Clamp(y2 - ((101 * u + 149 * v) >> 8), 0, 255);
                            b = Clamp(y2 + ((520 * u) >> 8), 0, 255);
                        } else {
                            LumaContrastFloat(s.redMean, s.contrast, r, g, b);
                        }
                    }
                    if (!c.matrixInUse) r = g = b = Luma(r, g, b);
                }
            }
            Pack(out, c, s, x, y, r, g, b);
        }
    }
    return out;
}

// The frame the demosaic reads: sharpened inner row pairs, the first and the last as loaded.
Plane DemosaicSource(const Common& c, const Plane& loaded, Plane sharpened) {
    for (int y : {0, 1, c.H - 2, c.H - 1}) sharpened.CopyRow(loaded, y);
    return sharpened;
}

// ---- Loading, vector family ------------------------------------------------------------------

// One raw row tested in groups of eight from column 8 to the last complete group but one, each
// group against the values before any of its eight was replaced; threshold 30.
void CorrectRowGrouped(Frame& f, int y, int d) {
    const int groups = f.width / 8;
    for (int g = 1; g <= groups - 2; ++g) {
        int repl[8];
        bool dead[8];
        for (int i = 0; i < 8; ++i) {
            const int x = 8 * g + i;
            const int v = At(f, x, y), u = At(f, x, y - d), dn = At(f, x, y + d),
                      l = At(f, x - d, y), r = At(f, x + d, y);
            dead[i] = v > 30 && v - u > 30 && v - dn > 30 && v - l > 30 && v - r > 30;
            repl[i] = std::min(std::max(u, dn), std::max(l, r));
        }
        for (int i = 0; i < 8; ++i)
            if (dead[i]) At(f, 8 * g + i, y) = repl[i];
    }
}

int GainRne(int v, uint32_t gain) {
    const float q = static_cast<float>(static_cast<int64_t>(v) * gain) / 100.0f;
    return static_cast<int>(std::min(std::nearbyint(q), 255.0f));
}

Plane LoadVector(Frame& f, const Settings& s, const Common& c) {
    Plane L = MakePlane(c.W, c.H);
    const int d = s.monoCamera ? 1 : 2;
    const double comp = std::trunc(static_cast<double>(25500 - c.L) * 128.0 / 25500.0);
    const bool compensate = comp >= 2;
    const int F = static_cast<int>(std::min(128.0 + comp, 255.0));
    for (int j = 0; j < c.P; ++j) {
        const int y = 2 * j;
        if (s.deadPixel && j > 0 && j < c.P - 1) {
            CorrectRowGrouped(f, y, d);
            CorrectRowGrouped(f, y + 1, d);
        }
        for (int x = 0; x < c.W; ++x) {
            L[y][x] = Reduce(f, At(f, x, y));
            L[y + 1][x] = Reduce(f, At(f, x, y + 1));
        }
        if (!s.monoCamera) {
            // Green balance, group by group of four cells.
            for (int x0 = 0; x0 < c.W; x0 += 8) {
                auto bluePlus = [&](int x) {
                    return x + 2 < c.W ? Reduce(f, At(f, x + 2, y + 1)) : L[y + 1][x];
                };
                bool any = false;
                for (int x = x0; x < std::min(x0 + 8, c.W); x += 2)
                    any = any || std::abs(L[y][x + 1] - bluePlus(x)) < 10;
                for (int x = x0; x < std::min(x0 + 8, c.W); x += 2) {
                    const int g1 = L[y][x], r = L[y][x + 1], b = L[y + 1][x], g2 = L[y + 1][x + 1];
                    const int diff = std::abs(g1 - g2);
                    const int m = (r + bluePlus(x) + 1) >> 1;
                    const bool eq = diff < 10 || diff < (g1 >> 3) ||
                                    (r > 200 && b > 200 && (g1 > 200 || g2 > 200)) ||
                                    (any && (std::abs(m - g1) < 10 || std::abs(m - g2) < 10));
                    if (eq) L[y][x] = L[y + 1][x + 1] = (g1 + g2 + 1) >> 1;
                }
            }
            // Gains, matrix, compensation.
            for (int x = 0; x < c.W; x += 2) {
                const int G1 = GainRne(L[y][x], s.gains[1]);
                const int R = GainRne(L[y][x + 1], s.gains[0]);
                const int B = GainRne(L[y + 1][x], s.gains[2]);
                const int G2 = GainRne(L[y + 1][x + 1], s.gains[1]);
                const int Gm = (G1 + G2 + 1) >> 1;
                int64_t v[4] = {(c.m[0] * R + c.m[1] * Gm + c.m[2] * B) >> 8,
                                (c.m[3] * R + c.m[4] * G1 + c.m[5] * B) >> 8,
                                (c.m[3] * R + c.m[4] * G2 + c.m[5] * B) >> 8,
                                (c.m[6] * R + c.m[7] * Gm + c.m[8] * B) >> 8};
                for (int64_t& e : v) {
                    if (compensate) e = (Clamp(e, 0, 255) * F) >> 7;
                    e = Clamp(e, 0, 255);
                }
                L[y][x + 1] = static_cast<int>(v[0]);
                L[y][x] = static_cast<int>(v[1]);
                L[y + 1][x + 1] = static_cast<int>(v[2]);
                L[y + 1][x] = static_cast<int>(v[3]);
            }
        }
        for (int yy : {y, y + 1})
            for (int x = 0; x < c.W; ++x) L[yy][x] = Lookup(c, x, yy, L[yy][x]);
    }
    return L;
}

// ---- Loading, scalar family ------------------------------------------------------------------

Plane LoadScalar(Frame& f, const Settings& s, const Common& c) {
    Plane L = MakePlane(c.W, c.H);
    const int d = s.monoCamera ? 1 : 2;
    const int64_t comp =
        static_cast<int64_t>(std::trunc(static_cast<double>(25500 - c.L) * 100.0 / 25500.0)) + 100;
    for (int j = 0; j < c.P; ++j) {
        const int y = 2 * j;
        if (s.deadPixel && j > 0 && j < c.P - 1) {
            for (int x = 2; x <= c.W - 4; x += 2)
                for (auto [sx, sy] : {std::pair{x, y}, std::pair{x + 1, y}, std::pair{x, y + 1},
                                      std::pair{x + 1, y + 1}}) {
                    const int v = At(f, sx, sy), u = At(f, sx, sy - d), dn = At(f, sx, sy + d),
                              l = At(f, sx - d, sy), r = At(f, sx + d, sy);
                    if (v > 29 && v - u > 29 && v - dn > 29 && v - l > 29 && v - r > 29)
                        At(f, sx, sy) = std::min(std::max(u, dn), std::max(l, r));
                }
        }
        for (int yy : {y, y + 1})
            for (int x = 0; x < c.W; ++x)
                L[yy][x] = std::max(0, Reduce(f, At(f, x, yy)) - std::max(0, s.blackOffset));
        if (!s.monoCamera) {
            for (int x = 0; x < c.W; x += 2) {
                const int64_t g1 = int64_t{L[y][x]} * s.gains[1] / 100;
                const int64_t r = int64_t{L[y][x + 1]} * s.gains[0] / 100;
                const int64_t b = int64_t{L[y + 1][x]} * s.gains[2] / 100;
                const int64_t g2 = int64_t{L[y + 1][x + 1]} * s.gains[1] / 100;
                const int64_t Gm = std::min<int64_t>((g1 + g2) >> 1, 255);
                const int64_t R = std::min<int64_t>(r, 255), G1 = std::min<int64_t>(g1, 255),
                              B = std::min<int64_t>(b, 255), G2 = std::min<int64_t>(g2, 255);
                int64_t v[4] = {(c.m[0] * R + c.m[1] * Gm + c.m[2] * B) >> 8,
                                (c.m[3] * R + c.m[4] * G1 + c.m[5] * B) >> 8,
                                (c.m[3] * R + c.m[4] * G2 + c.m[5] * B) >> 8,
                                (c.m[6] * R + c.m[7] * Gm + c.m[8] * B) >> 8};
                for (int64_t& e : v) {
                    if (comp > 100) e = e * comp / 100;
                    e = Clamp(e, 0, 255);
                }
                L[y][x + 1] = static_cast<int>(v[0]);
                L[y][x] = static_cast<int>(v[1]);
                L[y + 1][x + 1] = static_cast<int>(v[2]);
                L[y + 1][x] = static_cast<int>(v[3]);
            }
        }
        for (int yy : {y, y + 1})
            for (int x = 0; x < c.W; ++x) L[yy][x] = Lookup(c, x, yy, L[yy][x]);
    }
    return L;
}

}  // namespace

int ContrastFloat(int v, int pivot, int contrast) {
    const float f = static_cast<float>(2 * contrast) / 100.0f;
    const float p = static_cast<float>(pivot);
    const float y = (static_cast<float>(v) - p) * f + p;
    return static_cast<int>(std::clamp(std::nearbyint(y), 0.0f, 255.0f));
}

std::vector<uint8_t> RunVector(Frame& frame, const Settings& s) {
    const Common c = Prepare(frame, s);
    const Plane loaded = LoadVector(frame, s, c);
    return Output(c, s, DemosaicSource(c, loaded, SharpenVector(c, s, loaded)), false);
}

std::vector<uint8_t> RunScalar(Frame& frame, const Settings& s) {
    const Common c = Prepare(frame, s);
    const Plane loaded = LoadScalar(frame, s, c);
    return Output(c, s, DemosaicSource(c, loaded, SharpenScalar(c, s, loaded)), true);
}

}  // namespace colourref
