// smooth_reference.h: the smoothing formula written the plain way, for tests to compare
// the filter with: for each sample, the weighted sum over the in-map neighbours whose
// two parts are not NaN, columns of the window outer and rows inner, divided by the
// sum of the weights used when that sum is above zero; NaN otherwise. The support is
// that sum wherever the centre is valid, NaN where it is missing.
#ifndef PHASEKIT_SMOOTH_REFERENCE_H
#define PHASEKIT_SMOOTH_REFERENCE_H

#include <cmath>
#include <limits>
#include <vector>

inline void referenceSmooth(const std::vector<double> &re, const std::vector<double> &im, int M,
                            int N, const std::vector<double> &kernel, int Mk, int Nk,
                            std::vector<double> *outRe, std::vector<double> *outIm,
                            std::vector<double> *support = nullptr) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    outRe->assign(static_cast<size_t>(M) * N, nan);
    outIm->assign(static_cast<size_t>(M) * N, nan);
    if (support) support->assign(static_cast<size_t>(M) * N, nan);
    int hr = (Mk - 1) / 2, hc = (Nk - 1) / 2;
    auto imag = [&](int n) { return im.empty() ? 0.0 : im[n]; };
    for (int c = 0; c < N; ++c)
        for (int j = 0; j < M; ++j) {
            int i = j + c * M;
            if (std::isnan(re[i]) || std::isnan(imag(i))) continue;
            double s = 0, tr = 0, ti = 0;
            for (int k = -hc; k <= hc; ++k)
                for (int h = -hr; h <= hr; ++h) {
                    int r = j + h, q = c + k;
                    if (r < 0 || r >= M || q < 0 || q >= N) continue;
                    int n = r + q * M;
                    if (std::isnan(re[n]) || std::isnan(imag(n))) continue;
                    double w = kernel[(h + hr) + (k + hc) * Mk];
                    s += w;
                    tr += w * re[n];
                    ti += w * imag(n);
                }
            if (support) (*support)[i] = s;
            if (s > 0) {
                (*outRe)[i] = tr / s;
                (*outIm)[i] = ti / s;
            }
        }
}

#endif // PHASEKIT_SMOOTH_REFERENCE_H
