// unwrapping_demo: the toolbox doing its job the way a scientist would use it, through
// the standalone host. It synthesises a sequence of noisy wrapped phase maps of a
// deforming surface with missing regions, smooths each complex field with kernsmooth_c,
// unwraps its phase with phasemend, renders every unwrapped map to a JPEG and writes
// them with clipforge into a movie; it also writes PNG images of one frame (wrapped,
// unwrapped, error against the true phase), one overview picture of the three side by
// side with colour bars and labels, and prints a summary.
// Usage: unwrapping_demo [--frames N] [--size S] [--out FOLDER]
#include "minihost.h"

#include <jpeglib.h>
#include <png.h>
#include <sys/stat.h>
#if PHASEKIT_HAVE_EASY_FONT
#include <stb/stb_easy_font.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

const double kPi = 3.141592653589793;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Settings {
    int frames = 60;
    int size = 512;
    std::string out = "demo-out";
};

struct Rgb {
    unsigned char r, g, b;
};

typedef std::chrono::steady_clock Clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---------------------------------------------------------------- synthetic data

// The deforming surface at time t in 0..1: two bumps that grow, drift and swap sign,
// on a slowly turning tilt; tens of radians from end to end.
double surface(double x, double y, double t) {
    double a = 38 * std::sin(kPi * (0.15 + 0.85 * t));
    double b = -28 * std::cos(kPi * t);
    double bump1 = a * std::exp(-((x - 0.25 + 0.3 * t) * (x - 0.25 + 0.3 * t) + (y + 0.2) * (y + 0.2)) / 0.18);
    double bump2 = b * std::exp(-((x + 0.35) * (x + 0.35) + (y - 0.3 + 0.2 * t) * (y - 0.3 + 0.2 * t)) / 0.12);
    double tilt = 6 * (std::cos(2 * t) * x + std::sin(2 * t) * y);
    return bump1 + bump2 + tilt;
}

// Missing regions: a fixed occluder, a notch at the border, and a hole that moves.
bool missing(double x, double y, double t) {
    double hx = -0.5 + t, hy = 0.55;
    return (x - 0.45) * (x - 0.45) + (y - 0.5) * (y - 0.5) < 0.012 ||
           (x < -0.85 && std::fabs(y) < 0.1) ||
           (x - hx) * (x - hx) + (y - hy) * (y - hy) < 0.006;
}

// Gaussian noise (Box-Muller) from a small deterministic generator.
struct Noise {
    uint32_t state;
    double uniform() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return ((state >> 8) + 0.5) * (1.0 / 16777216.0);
    }
    double gaussian() { return std::sqrt(-2 * std::log(uniform())) * std::cos(2 * kPi * uniform()); }
};

// ---------------------------------------------------------------- rendering

// A perceptual colour map (dark blue, teal, green, yellow) by linear interpolation.
Rgb colourOf(double u) {
    static const double stops[][3] = {{0.27, 0.00, 0.33}, {0.23, 0.32, 0.55}, {0.13, 0.57, 0.55},
                                      {0.37, 0.79, 0.38}, {0.99, 0.91, 0.14}};
    u = std::min(1.0, std::max(0.0, u)) * 4;
    int k = std::min(3, static_cast<int>(u));
    double f = u - k;
    auto mix = [&](int c) {
        return static_cast<unsigned char>(255 * ((1 - f) * stops[k][c] + f * stops[k + 1][c]) + 0.5);
    };
    return Rgb{mix(0), mix(1), mix(2)};
}

// A diverging map for errors: blue below zero, white at zero, red above.
Rgb divergingOf(double u) {
    u = std::min(1.0, std::max(-1.0, u));
    unsigned char fade = static_cast<unsigned char>(255 * (1 - std::fabs(u)) + 0.5);
    return u < 0 ? Rgb{fade, fade, 255} : Rgb{255, fade, fade};
}

const Rgb kMissingColour = {96, 96, 96};

// Column-major map to row-major RGB pixels.
std::vector<unsigned char> render(const std::vector<double> &map, int size, double lo, double hi,
                                  bool diverging) {
    std::vector<unsigned char> rgb(static_cast<size_t>(size) * size * 3);
    for (int r = 0; r < size; ++r)
        for (int c = 0; c < size; ++c) {
            double v = map[r + static_cast<size_t>(c) * size];
            Rgb p = std::isnan(v) ? kMissingColour
                    : diverging   ? divergingOf(v / hi)
                                  : colourOf((v - lo) / (hi - lo));
            unsigned char *out = &rgb[(static_cast<size_t>(r) * size + c) * 3];
            out[0] = p.r;
            out[1] = p.g;
            out[2] = p.b;
        }
    return rgb;
}

bool writeJpeg(const std::string &path, const std::vector<unsigned char> &rgb, int size) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, f);
    info.image_width = static_cast<JDIMENSION>(size);
    info.image_height = static_cast<JDIMENSION>(size);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);  // baseline: clipforge reads its 0xFF 0xC0 frame header
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<size_t>(info.next_scanline) * size * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(f) == 0;
}

bool writePng(const std::string &path, const std::vector<unsigned char> &rgb, int width, int height) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int r = 0; r < height; ++r)
        png_write_row(png, const_cast<png_bytep>(&rgb[static_cast<size_t>(r) * width * 3]));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

// ---------------------------------------------------------------- the overview picture

// A white RGB canvas, row-major.
struct Canvas {
    int width, height;
    std::vector<unsigned char> rgb;
    Canvas(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3, 255) {}
    void fill(int x0, int y0, int x1, int y1, Rgb colour) {
        for (int y = std::max(0, y0); y < std::min(height, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(width, x1); ++x) {
                unsigned char *p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
                p[0] = colour.r;
                p[1] = colour.g;
                p[2] = colour.b;
            }
    }
    void paste(int x0, int y0, const std::vector<unsigned char> &image, int side) {
        for (int y = 0; y < side; ++y)
            std::memcpy(&rgb[(static_cast<size_t>(y0 + y) * width + x0) * 3], &image[static_cast<size_t>(y) * side * 3],
                        static_cast<size_t>(side) * 3);
    }
};

const int kTextScale = 2;  // the font's pixels, doubled

// Black text whose top left corner is (x, y); without the font, nothing.
void drawText(Canvas *canvas, int x, int y, const std::string &text) {
#if PHASEKIT_HAVE_EASY_FONT
    // The font is built of quads: four vertices of 16 bytes, x and y first.
    std::vector<char> buffer(text.size() * 300 + 64);
    std::vector<char> chars(text.begin(), text.end());
    chars.push_back('\0');
    int quads = stb_easy_font_print(0, 0, chars.data(), nullptr, buffer.data(), static_cast<int>(buffer.size()));
    for (int q = 0; q < quads; ++q) {
        float corner[4][2];
        for (int v = 0; v < 4; ++v) std::memcpy(corner[v], &buffer[(4 * q + v) * 16], sizeof corner[v]);
        int x0 = static_cast<int>(corner[0][0]), y0 = static_cast<int>(corner[0][1]);
        int x1 = static_cast<int>(corner[2][0] + 0.5f), y1 = static_cast<int>(corner[2][1] + 0.5f);
        canvas->fill(x + kTextScale * x0, y + kTextScale * y0, x + kTextScale * x1, y + kTextScale * y1, Rgb{0, 0, 0});
    }
#else
    (void)canvas;
    (void)x;
    (void)y;
    (void)text;
#endif
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, std::fabs(v) < 10 ? "%.2f" : "%.0f", v);
    return text;
}

// One panel: a title, the map, and a colour bar with its range beside it.
struct Panel {
    std::string title;
    std::vector<double> map;
    double lo, hi;
    bool diverging;
};

// The panels side by side, with one caption line below.
std::vector<unsigned char> overview(const std::vector<Panel> &panels, int side, const std::string &caption,
                                    int *width, int *height) {
    const int margin = 16, titleRow = 14 * kTextScale, bar = 16, labels = 44 * kTextScale;
    const int panelWidth = side + 8 + bar + 6 + labels;
    Canvas canvas(margin + static_cast<int>(panels.size()) * panelWidth, margin + titleRow + side + 10 * kTextScale + margin);
    for (size_t k = 0; k < panels.size(); ++k) {
        const Panel &p = panels[k];
        int x = margin + static_cast<int>(k) * panelWidth, y = margin + titleRow;
        drawText(&canvas, x, margin, p.title);
        canvas.paste(x, y, render(p.map, side, p.lo, p.hi, p.diverging), side);
        // The bar runs from hi at the top to lo at the bottom.
        int barX = x + side + 8;
        for (int r = 0; r < side; ++r) {
            double u = 1 - (r + 0.5) / side;
            Rgb c = p.diverging ? divergingOf(2 * u - 1) : colourOf(u);
            canvas.fill(barX, y + r, barX + bar, y + r + 1, c);
        }
        int textX = barX + bar + 6, glyph = 7 * kTextScale;
        drawText(&canvas, textX, y, number(p.hi));
        drawText(&canvas, textX, y + side / 2 - glyph / 2, number((p.lo + p.hi) / 2));
        drawText(&canvas, textX, y + side - glyph, number(p.lo));
    }
    drawText(&canvas, margin, margin + titleRow + side + 3 * kTextScale, caption);
    *width = canvas.width;
    *height = canvas.height;
    return canvas.rgb;
}

// ---------------------------------------------------------------- calling the extensions

HostExtension load(const char *name) {
    HostExtension ext = hostLoadExtension(std::string(EXTENSION_DIR) + "/" + name + ".mexa64");
    if (!ext.entry) {
        std::fprintf(stderr, "demo: cannot load %s: %s\n", name, ext.error.c_str());
        std::exit(2);
    }
    return ext;
}

// Calls an extension; stops the demo with the host's message when the call fails.
HostCallResult call(const HostExtension &ext, const char *name, int nlhs,
                    const std::vector<const mxArray *> &inputs) {
    HostCallResult r = hostCall(ext.entry, nlhs, inputs);
    if (r.failed) {
        std::fprintf(stderr, "demo: %s failed: %s\n", name, r.errorText.c_str());
        std::exit(1);
    }
    for (const std::string &w : r.warnings) std::fprintf(stderr, "demo: %s warning: %s\n", name, w.c_str());
    return r;
}

bool parseSettings(int argc, char **argv, Settings *s) {
    for (int k = 1; k < argc; ++k) {
        std::string a = argv[k];
        if (k + 1 >= argc) return false;
        if (a == "--frames") s->frames = std::atoi(argv[++k]);
        else if (a == "--size") s->size = std::atoi(argv[++k]);
        else if (a == "--out") s->out = argv[++k];
        else return false;
    }
    return s->frames >= 1 && s->size >= 16;
}

}  // namespace

int main(int argc, char **argv) {
    Settings settings;
    if (!parseSettings(argc, argv, &settings)) {
        std::fprintf(stderr, "usage: unwrapping_demo [--frames N] [--size S] [--out FOLDER]\n");
        return 2;
    }
    const int n = settings.size;
    const size_t pixels = static_cast<size_t>(n) * n;
    const std::string framesDir = settings.out + "/frames";
    mkdir(settings.out.c_str(), 0755);
    mkdir(framesDir.c_str(), 0755);

    HostExtension smoother = load("kernsmooth_c");
    HostExtension unwrapper = load("phasemend");
    HostExtension movieWriter = load("clipforge");

    const int kernelSide = 5;
    mxArray *kernel = hostCreateDouble(kernelSide, kernelSide, false);
    for (int k = 0; k < kernelSide * kernelSide; ++k) mxGetPr(kernel)[k] = 1.0;
    // The reference point: the map's centre, 1-based (column, row).
    mxArray *xref = hostCreateScalar(n / 2 + 1), *yref = hostCreateScalar(n / 2 + 1);

    // One colour scale for the whole movie. The result at the reference keeps its
    // wrapped value, so the maps span the truth less its value at the reference, give
    // or take pi; a coarse pass over all frames finds that span.
    double lo = 0, hi = 0;
    for (int f = 0; f < settings.frames; ++f) {
        double t = settings.frames > 1 ? static_cast<double>(f) / (settings.frames - 1) : 0.5;
        double centre = surface(2.0 * (n / 2) / (n - 1) - 1, 2.0 * (n / 2) / (n - 1) - 1, t);
        for (int c = 0; c <= 64; ++c)
            for (int r = 0; r <= 64; ++r) {
                double v = surface(c / 32.0 - 1, r / 32.0 - 1, t) - centre;
                lo = std::min(lo, v - kPi);
                hi = std::max(hi, v + kPi);
            }
    }

    double timeSynth = 0, timeSmooth = 0, timeUnwrap = 0, timeRender = 0;
    size_t validTotal = 0, correctTotal = 0;
    std::vector<std::string> jpegs;
    const int shownFrame = settings.frames / 2;
    std::vector<double> shownWrapped, shownUnwrapped, shownError;

    for (int f = 0; f < settings.frames; ++f) {
        double t = settings.frames > 1 ? static_cast<double>(f) / (settings.frames - 1) : 0.5;

        // A noisy complex field exp(i * phase) with missing regions.
        Clock::time_point start = Clock::now();
        std::vector<double> truth(pixels);
        mxArray *field = hostCreateDouble(n, n, true);
        Noise noise{static_cast<uint32_t>(f * 7919 + 17)};
        for (int c = 0; c < n; ++c)
            for (int r = 0; r < n; ++r) {
                size_t i = r + static_cast<size_t>(c) * n;
                double x = 2.0 * c / (n - 1) - 1, y = 2.0 * r / (n - 1) - 1;
                truth[i] = surface(x, y, t);
                bool gone = missing(x, y, t);
                double re = gone ? kNaN : std::cos(truth[i]) + 0.35 * noise.gaussian();
                double im = gone ? kNaN : std::sin(truth[i]) + 0.35 * noise.gaussian();
                hostSetParts(field, i, re, im);
            }
        timeSynth += since(start);

        start = Clock::now();
        HostCallResult smoothed = call(smoother, "kernsmooth_c", 1, {field, kernel});
        mxArray *wrapped = hostCreateDouble(n, n, false);
        const mxArray *out = smoothed.outputs[0];
        for (size_t i = 0; i < pixels; ++i) {
            double re = hostRealPart(out, i), im = hostImagPart(out, i);
            mxGetPr(wrapped)[i] = std::isnan(re) ? kNaN : std::atan2(im, re);
        }
        timeSmooth += since(start);

        start = Clock::now();
        HostCallResult unwrapped = call(unwrapper, "phasemend", 1, {wrapped, xref, yref});
        timeUnwrap += since(start);
        const double *u = mxGetPr(unwrapped.outputs[0]);

        // A pixel is unwrapped to the true phase when it lies within pi of the truth
        // shifted by the map's common multiple of 2*pi (the most frequent one).
        std::map<long, size_t> steps;
        for (size_t i = 0; i < pixels; ++i)
            if (!std::isnan(u[i])) ++steps[std::lround((u[i] - truth[i]) / (2 * kPi))];
        long common = 0;
        size_t most = 0;
        for (auto &s : steps)
            if (s.second > most) { most = s.second; common = s.first; }
        std::vector<double> error(pixels, kNaN);
        for (size_t i = 0; i < pixels; ++i) {
            if (std::isnan(u[i])) continue;
            error[i] = u[i] - truth[i] - 2 * kPi * common;
            ++validTotal;
            if (std::fabs(error[i]) < kPi) ++correctTotal;
        }

        start = Clock::now();
        std::vector<double> shown(u, u + pixels);
        std::string jpeg = framesDir + "/frame" + std::to_string(1000 + f).substr(1) + ".jpg";
        if (!writeJpeg(jpeg, render(shown, n, lo, hi, false), n)) {
            std::fprintf(stderr, "demo: cannot write %s\n", jpeg.c_str());
            return 1;
        }
        jpegs.push_back(jpeg);
        if (f == shownFrame) {
            shownWrapped.assign(mxGetPr(wrapped), mxGetPr(wrapped) + pixels);
            shownUnwrapped = shown;
            shownError = error;
        }
        timeRender += since(start);

        hostReleaseOutputs(&smoothed);
        hostReleaseOutputs(&unwrapped);
        hostDestroyArray(field);
        hostDestroyArray(wrapped);
    }

    // The movie: clipforge copies each JPEG into one frame.
    Clock::time_point start = Clock::now();
    std::string movie = settings.out + "/unwrapping.avi";
    std::vector<mxArray *> args = {hostCreateString(movie), hostCreateScalar(15)};
    for (const std::string &j : jpegs) args.push_back(hostCreateString(j));
    call(movieWriter, "clipforge", 0, std::vector<const mxArray *>(args.begin(), args.end()));
    for (mxArray *a : args) hostDestroyArray(a);
    double timeMovie = since(start);

    const std::string wrappedPng = settings.out + "/wrapped.png";
    const std::string unwrappedPng = settings.out + "/unwrapped.png";
    const std::string errorPng = settings.out + "/error.png";
    const std::string overviewPng = settings.out + "/overview.png";
    std::vector<Panel> panels = {
        {"wrapped phase (rad)", shownWrapped, -kPi, kPi, false},
        {"unwrapped by phasemend (rad)", shownUnwrapped, lo, hi, false},
        {"error against the truth (rad)", shownError, -kPi, kPi, true}};
    int overviewWidth = 0, overviewHeight = 0;
    std::vector<unsigned char> picture = overview(
        panels, n, "frame " + std::to_string(shownFrame + 1) + " of " + std::to_string(settings.frames) +
                       ", after kernsmooth_c 5x5; grey: missing pixels",
        &overviewWidth, &overviewHeight);
    bool pngs = writePng(wrappedPng, render(shownWrapped, n, -kPi, kPi, false), n, n) &&
                writePng(unwrappedPng, render(shownUnwrapped, n, lo, hi, false), n, n) &&
                writePng(errorPng, render(shownError, n, 0, kPi, true), n, n) &&
                writePng(overviewPng, picture, overviewWidth, overviewHeight);
    if (!pngs) {
        std::fprintf(stderr, "demo: cannot write the PNG images in %s\n", settings.out.c_str());
        return 1;
    }
    hostDestroyArray(kernel);
    hostDestroyArray(xref);
    hostDestroyArray(yref);

    double share = validTotal ? 100.0 * correctTotal / validTotal : 0;
    std::printf("phasekit demo: %d frames of %d x %d pixels (%.1f Mpixel in all)\n", settings.frames, n, n,
                settings.frames * pixels / 1e6);
    std::printf("  synthesis    %7.2f s   noisy wrapped fields of a deforming surface, with holes\n", timeSynth);
    std::printf("  kernsmooth_c %7.2f s   %dx%d NaN-aware smoothing of the complex field\n", timeSmooth,
                kernelSide, kernelSide);
    std::printf("  phasemend    %7.2f s   unwrapping, reference at the centre (%.1f ms a frame)\n",
                timeUnwrap, 1000 * timeUnwrap / settings.frames);
    std::printf("  rendering    %7.2f s   colour map and JPEG encoding\n", timeRender);
    std::printf("  clipforge    %7.2f s   Motion-JPEG AVI from the JPEG files\n", timeMovie);
    std::printf("  unwrapped to the true phase: %.2f%% of %zu valid pixels\n", share, validTotal);
    std::printf("outputs:\n  %s (open with any video player, e.g. ffplay or VLC)\n", movie.c_str());
    std::printf("  %s (frame %d: wrapped, unwrapped and error side by side)\n", overviewPng.c_str(), shownFrame + 1);
    std::printf("  %s, %s, %s (the same panels alone)\n", wrappedPng.c_str(), unwrappedPng.c_str(), errorPng.c_str());
    std::printf("  %s/ (the JPEG frames)\n", framesDir.c_str());
    return 0;
}
