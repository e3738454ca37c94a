// surfaces.h: synthetic phase maps for tests, benchmarks and the demo: smooth surfaces
// made of Gaussian bumps, their wrapped form, noise and NaN holes. Deterministic: the
// same arguments always give the same map.
#ifndef PHASEKIT_SURFACES_H
#define PHASEKIT_SURFACES_H

#include <cstdint>
#include <vector>

// A column-major rows x columns map: a sum of `bumps` Gaussians whose heights reach
// +-peak radians, widths about a sixth of the larger side, plus a gentle tilt.
std::vector<double> gaussianSurface(int rows, int columns, int bumps, double peak, uint32_t seed);

// Folds a phase into -pi..pi.
double wrapToPi(double phase);
std::vector<double> wrapAll(const std::vector<double> &phase);

// Adds uniform noise in -amplitude..amplitude.
void addNoise(std::vector<double> &map, double amplitude, uint32_t seed);

// Sets NaN in `count` discs of the given radius whose centres stay at least
// radius + 2 samples from the border and 2*radius + 3 apart, so the valid region
// stays connected.
void punchHoles(std::vector<double> &map, int rows, int columns, int count, int radius,
                uint32_t seed);

// A small deterministic generator (xorshift32), uniform in [0, 1).
double uniform01(uint32_t *state);

#endif // PHASEKIT_SURFACES_H
