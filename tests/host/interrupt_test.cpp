// Ctrl-C through the standalone host's interrupt request: a long call of each command,
// interrupted from another thread once it runs, ends early with everything it held
// freed (an error with its identifier; clipforge closes the movie it has and warns),
// and the next call gives the usual result.
#include "surfaces.h"
#include "test_support.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// Calls entry on args while another thread asks the host to stop, 20 ms after the
// call has begun.
HostCallResult callInterrupted(MexEntry entry, int nlhs, const std::vector<const mxArray *> &args) {
    const unsigned before = hostCallsStarted();
    std::thread interrupter([before]() {
        while (hostCallsStarted() == before) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        hostRequestInterrupt();
    });
    HostCallResult r = hostCall(entry, nlhs, args);
    interrupter.join();
    return r;
}

// The first output's samples (both parts), or nothing when the call failed.
std::vector<double> samplesOf(MexEntry entry, const std::vector<const mxArray *> &args) {
    HostCallResult r = hostCall(entry, 1, args);
    std::vector<double> samples;
    for (size_t i = 0; !r.failed && r.outputs[0] && i < mxGetNumberOfElements(r.outputs[0]); ++i) {
        samples.push_back(hostRealPart(r.outputs[0], i));
        samples.push_back(hostImagPart(r.outputs[0], i));
    }
    hostReleaseOutputs(&r);
    return samples;
}

bool sameSamples(const std::vector<double> &a, const std::vector<double> &b) {
    bool same = a.size() == b.size() && !a.empty();
    for (size_t i = 0; same && i < a.size(); ++i) same = sameBits(a[i], b[i]);
    return same;
}

}  // namespace

TEST(interrupted_calls_end_early_free_everything_and_leave_the_next_call_as_usual) {
    // Each long call runs for seconds uninterrupted on two cores; each small one is
    // made before and after it.
    const int side = 2048;
    std::vector<double> surface = wrapAll(gaussianSurface(side, side, 6, 40.0, 5));
    mxArray *map = hostCreateMatrix(side, side, surface);
    mxArray *field = hostCreateDouble(side, side, true);
    for (size_t i = 0; i < surface.size(); ++i) hostSetParts(field, i, std::cos(surface[i]), std::sin(surface[i]));
    mxArray *wideKernel = hostCreateDouble(61, 61, false);
    for (size_t i = 0; i < 61 * 61; ++i) mxGetPr(wideKernel)[i] = 1.0;
    mxArray *volume = hostCreateArray(hostDoubleClass, {256, 256, 160});
    for (size_t i = 0; i < mxGetNumberOfElements(volume); ++i)
        mxGetPr(volume)[i] = wrapToPi(0.37 * static_cast<double>(i % 1013) + 0.001 * static_cast<double>(i / 65536));
    mxArray *tileName = hostCreateString("TileSize"), *tile = hostCreateScalar(256);
    mxArray *small = hostCreateMatrix(40, 30, std::vector<double>(surface.begin(), surface.begin() + 1200));
    mxArray *smallKernel = hostCreateMatrix(3, 3, {1, 2, 1, 2, 4, 2, 1, 2, 1});

    struct Case {
        const char *command;
        std::vector<const mxArray *> longArgs, smallArgs;
    };
    const Case cases[] = {
        {"phasemend", {map}, {small}},
        {"phasemend", {map, tileName, tile}, {small, tileName, tile}},
        {"phasemend3", {volume}, {small}},
        {"kernsmooth_c", {field, wideKernel}, {small, smallKernel}},
    };
    for (const Case &c : cases) {
        const MexEntry entry = builtExtension(c.command);
        const std::vector<double> before = samplesOf(entry, c.smallArgs);
        HostCallResult r = callInterrupted(entry, 1, c.longArgs);
        CHECK(r.interrupted);
        CHECK(r.failed);
        CHECK_EQ(r.errorId, "phasekit:" + std::string(c.command) + ":interrupted");
        CHECK_EQ(r.blocksReleased, size_t(0));
        CHECK_EQ(hostLiveBlocks(), size_t(0));
        hostReleaseOutputs(&r);
        if (!sameSamples(samplesOf(entry, c.smallArgs), before))
            recordFailure(__FILE__, __LINE__, std::string(c.command) + ": the call after the interrupt differs");
    }
    for (mxArray *a : {map, field, wideKernel, volume, tileName, tile, small, smallKernel}) hostDestroyArray(a);
}

TEST(an_interrupted_movie_is_closed_with_the_frames_it_has) {
    // Thousands of frames: the movie that is left plays, with fewer of them.
    const std::string movie = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                              "/phasekit-interrupted-" + std::to_string(std::rand()) + ".avi";
    std::vector<mxArray *> args = {hostCreateString(movie), hostCreateScalar(25)};
    for (int k = 0; k < 20000; ++k) args.push_back(hostCreateString(std::string(TEST_DATA_DIR) + "/frame1.jpg"));
    HostCallResult r = callInterrupted(builtExtension("clipforge"), 0,
                                       std::vector<const mxArray *>(args.begin(), args.end()));
    CHECK(r.interrupted && !r.failed);
    CHECK(!r.warningIds.empty() && r.warningIds.back() == "phasekit:clipforge:interrupted");
    const std::vector<unsigned char> bytes = readFileBytes(movie);
    const uint32_t frames = bytes.size() > 52 ? le32(bytes, 48) : 0;
    CHECK(frames > 0 && frames < 20000);
    CHECK(bytes.size() > 8 && le32(bytes, 4) == bytes.size() - 8);  // the header was finished
    hostReleaseOutputs(&r);
    for (mxArray *a : args) hostDestroyArray(a);
    std::remove(movie.c_str());
}
