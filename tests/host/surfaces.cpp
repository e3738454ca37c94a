// surfaces.cpp: synthetic phase maps; see surfaces.h.
#include "surfaces.h"

#include <algorithm>
#include <cmath>
#include <limits>

double uniform01(uint32_t *state) {
    uint32_t x = *state ? *state : 0x9e3779b9u;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return (x >> 8) * (1.0 / 16777216.0);
}

std::vector<double> gaussianSurface(int rows, int columns, int bumps, double peak, uint32_t seed) {
    std::vector<double> map(static_cast<size_t>(rows) * columns, 0.0);
    uint32_t state = seed * 2654435761u + 1;
    double width = std::max(2.0, std::max(rows, columns) / 6.0);
    struct Bump { double r, c, height, inverseWidth2; };
    std::vector<Bump> list;
    for (int k = 0; k < bumps; ++k) {
        Bump b;
        b.r = uniform01(&state) * rows;
        b.c = uniform01(&state) * columns;
        b.height = (uniform01(&state) < 0.5 ? -1 : 1) * peak * (0.5 + 0.5 * uniform01(&state));
        double w = width * (0.75 + 0.5 * uniform01(&state));
        b.inverseWidth2 = 1.0 / (2 * w * w);
        list.push_back(b);
    }
    double tiltR = 2.0 / std::max(rows, 1), tiltC = 3.0 / std::max(columns, 1);
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < rows; ++r) {
            double v = tiltR * r + tiltC * c;
            for (const Bump &b : list) {
                double dr = r - b.r, dc = c - b.c;
                v += b.height * std::exp(-(dr * dr + dc * dc) * b.inverseWidth2);
            }
            map[r + static_cast<size_t>(c) * rows] = v;
        }
    return map;
}

double wrapToPi(double phase) { return std::atan2(std::sin(phase), std::cos(phase)); }

std::vector<double> wrapAll(const std::vector<double> &phase) {
    std::vector<double> out(phase.size());
    for (size_t i = 0; i < phase.size(); ++i) out[i] = wrapToPi(phase[i]);
    return out;
}

void addNoise(std::vector<double> &map, double amplitude, uint32_t seed) {
    uint32_t state = seed * 747796405u + 7;
    for (double &v : map) v += amplitude * (2 * uniform01(&state) - 1);
}

void punchHoles(std::vector<double> &map, int rows, int columns, int count, int radius,
                uint32_t seed) {
    uint32_t state = seed * 1103515245u + 12345;
    std::vector<std::pair<int, int>> centres;
    int margin = radius + 2;
    if (rows <= 2 * margin || columns <= 2 * margin) return;
    for (int tries = 0; tries < count * 50 && static_cast<int>(centres.size()) < count; ++tries) {
        int r = margin + static_cast<int>(uniform01(&state) * (rows - 2 * margin));
        int c = margin + static_cast<int>(uniform01(&state) * (columns - 2 * margin));
        bool apart = true;
        for (auto &p : centres) {
            double d = std::hypot(p.first - r, p.second - c);
            if (d < 2 * radius + 3) apart = false;
        }
        if (apart) centres.push_back({r, c});
    }
    for (auto &p : centres)
        for (int dc = -radius; dc <= radius; ++dc)
            for (int dr = -radius; dr <= radius; ++dr)
                if (dr * dr + dc * dc <= radius * radius)
                    map[(p.first + dr) + static_cast<size_t>(p.second + dc) * rows] =
                        std::numeric_limits<double>::quiet_NaN();
}
