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

// The separable form, kernsmooth_c(map, u, v), written the plain way: a column pass
// of the valid in-map samples' weights u and weighted parts, then a row pass of those
// sums weighted by v over the in-map columns, each in ascending tap order from 0.
inline void referenceSmoothSeparable(const std::vector<double> &re, const std::vector<double> &im, int M, int N,
                                     const std::vector<double> &u, const std::vector<double> &v,
                                     std::vector<double> *outRe, std::vector<double> *outIm,
                                     std::vector<double> *support = nullptr) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const size_t n = static_cast<size_t>(M) * N;
    outRe->assign(n, nan);
    outIm->assign(n, nan);
    if (support) support->assign(n, nan);
    const int hr = (static_cast<int>(u.size()) - 1) / 2, hc = (static_cast<int>(v.size()) - 1) / 2;
    auto imag = [&](size_t i) { return im.empty() ? 0.0 : im[i]; };
    std::vector<double> w(n, 0.0), pr(n, 0.0), pi(n, 0.0);
    for (int q = 0; q < N; ++q)
        for (int j = 0; j < M; ++j)
            for (int h = -hr; h <= hr; ++h) {
                const int r = j + h;
                if (r < 0 || r >= M) continue;
                const size_t s = static_cast<size_t>(r) + static_cast<size_t>(q) * M;
                if (std::isnan(re[s]) || std::isnan(imag(s))) continue;
                const size_t t = static_cast<size_t>(j) + static_cast<size_t>(q) * M;
                w[t] += u[h + hr];
                pr[t] += u[h + hr] * re[s];
                pi[t] += u[h + hr] * imag(s);
            }
    for (int c = 0; c < N; ++c)
        for (int j = 0; j < M; ++j) {
            const size_t i = static_cast<size_t>(j) + static_cast<size_t>(c) * M;
            if (std::isnan(re[i]) || std::isnan(imag(i))) continue;
            double s = 0, tr = 0, ti = 0;
            for (int k = -hc; k <= hc; ++k) {
                const int q = c + k;
                if (q < 0 || q >= N) continue;
                const size_t t = static_cast<size_t>(j) + static_cast<size_t>(q) * M;
                s += v[k + hc] * w[t];
                tr += v[k + hc] * pr[t];
                ti += v[k + hc] * pi[t];
            }
            if (support) (*support)[i] = s;
            if (s > 0) {
                (*outRe)[i] = tr / s;
                (*outIm)[i] = ti / s;
            }
        }
}

#endif // PHASEKIT_SMOOTH_REFERENCE_H
