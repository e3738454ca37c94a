// Unit tests of the AVI writer, byte for byte against the container layout, and of the
// JPEG size probe on crafted byte sequences.
#include "avi_writer.h"
#include "jpeg_probe.h"
#include "test_support.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string tempPath(const char *name) {
    return std::string("/tmp/phasekit_avi_") + std::to_string(getpid()) + "_" + name;
}

std::string text(const std::vector<unsigned char> &b, size_t at, size_t n = 4) {
    if (at + n > b.size()) return "<past end>";
    return std::string(reinterpret_cast<const char *>(b.data() + at), n);
}

// Checks the one-stream header region at its fixed offsets.
void checkVideoHeader(const std::vector<unsigned char> &b, uint32_t width, uint32_t height,
                      uint32_t usec, uint32_t scale, uint32_t rate, uint32_t frames) {
    struct Field { size_t at; uint32_t value; };
    uint32_t image = width * height * 3;
    const Field fields[] = {
        {16, 192}, {28, 56}, {32, usec}, {36, image}, {40, 0}, {44, 16}, {48, frames}, {52, 0},
        {56, 1}, {60, image}, {64, width}, {68, height}, {72, 0}, {76, 0}, {80, 0}, {84, 0},
        {92, 116}, {104, 56}, {116, 0}, {120, 0}, {124, 0}, {128, scale}, {132, rate},
        {136, 0}, {140, frames}, {144, image}, {148, 0}, {152, 0}, {156, 0}, {160, 0},
        {168, 40}, {172, 40}, {176, width}, {180, height}, {192, image}, {196, 0}, {200, 0},
        {204, 0}, {208, 0}, {216, 3876},
    };
    for (const Field &f : fields) {
        if (le32(b, f.at) != f.value)
            recordFailure(__FILE__, __LINE__, "field at " + std::to_string(f.at) + ": " +
                                                  std::to_string(le32(b, f.at)) + " != " +
                                                  std::to_string(f.value));
    }
    struct Code { size_t at; const char *code; };
    const Code codes[] = {{0, "RIFF"}, {8, "AVI "}, {12, "LIST"}, {20, "hdrl"}, {24, "avih"},
                          {88, "LIST"}, {96, "strl"}, {100, "strh"}, {108, "vids"},
                          {112, "MJPG"}, {164, "strf"}, {188, "MJPG"}, {212, "JUNK"},
                          {4096, "LIST"}, {4104, "movi"}};
    for (const Code &c : codes) CHECK_EQ(text(b, c.at), std::string(c.code));
    CHECK_EQ(le16(b, 184), 1u);   // planes
    CHECK_EQ(le16(b, 186), 24u);  // bit count
    // The filler: 204 copies of the text, ending with its blank at 4095.
    std::string filler;
    for (int k = 0; k < 204; ++k) filler += "JUNK IN THE CHUNK! ";
    CHECK(text(b, 220, 3876) == filler);
    CHECK(b.size() > 4095 && b[4095] == ' ');
}

AviWriter *openVideo(const std::string &path, int64_t w = 640, int64_t h = 480, float fps = 25.0f) {
    return aviOpen(path.c_str(), w, h, "MJPG", fps, nullptr);
}

}  // namespace

TEST(a_movie_without_frames) {
    std::string path = tempPath("empty.avi");
    AviWriter *w = openVideo(path);
    CHECK(w != nullptr);
    // After open: the provisional header and an empty movie list, sizes still 0.
    std::fflush(w->stream);
    std::vector<unsigned char> open = readFileBytes(path);
    CHECK_EQ(open.size(), size_t(4108));
    checkVideoHeader(open, 640, 480, 40000, 1, 25, 0);
    CHECK_EQ(le32(open, 4), 0u);
    CHECK_EQ(le32(open, 4100), 0u);
    CHECK_EQ(aviClose(w), aviOk);
    std::vector<unsigned char> b = readFileBytes(path);
    CHECK_EQ(b.size(), size_t(4116));
    checkVideoHeader(b, 640, 480, 40000, 1, 25, 0);
    CHECK_EQ(le32(b, 4), 4108u);
    CHECK_EQ(le32(b, 4100), 4u);
    CHECK_EQ(text(b, 4108), std::string("idx1"));
    CHECK_EQ(le32(b, 4112), 0u);
    std::remove(path.c_str());
}

TEST(frames_are_padded_chunks_with_index_entries) {
    std::string path = tempPath("frames.avi");
    AviWriter *w = openVideo(path);
    struct Frame { size_t length; uint32_t size; };
    const Frame frames[] = {{1001, 1004}, {1002, 1004}, {8, 8}, {0, 0}, {3, 4}};
    std::vector<std::vector<unsigned char>> data;
    for (const Frame &f : frames) {
        std::vector<unsigned char> bytes(f.length);
        for (size_t k = 0; k < f.length; ++k) bytes[k] = static_cast<unsigned char>(k * 7 + f.length);
        CHECK_EQ(aviAddFrame(w, bytes.data(), f.length), aviOk);
        data.push_back(bytes);
    }
    CHECK_EQ(aviClose(w), aviOk);
    std::vector<unsigned char> b = readFileBytes(path);
    size_t at = 4108, offset = 4, moviSize = 4;
    size_t indexAt = 4108;
    for (const Frame &f : frames) indexAt += 8 + f.size;
    CHECK_EQ(text(b, indexAt), std::string("idx1"));
    CHECK_EQ(le32(b, indexAt + 4), 16u * 5);
    for (size_t k = 0; k < 5; ++k) {
        const Frame &f = frames[k];
        CHECK_EQ(text(b, at), std::string("00dc"));
        CHECK_EQ(le32(b, at + 4), f.size);
        CHECK(f.length == 0 || std::memcmp(b.data() + at + 8, data[k].data(), f.length) == 0);
        for (size_t z = f.length; z < f.size; ++z) CHECK_EQ(int(b[at + 8 + z]), 0);
        size_t entry = indexAt + 8 + 16 * k;
        CHECK_EQ(text(b, entry), std::string("00dc"));
        CHECK_EQ(le32(b, entry + 4), 16u);
        CHECK_EQ(le32(b, entry + 8), uint32_t(offset));
        CHECK_EQ(le32(b, entry + 12), f.size);
        at += 8 + f.size;
        offset += 8 + f.size;
        moviSize += 8 + f.size;
    }
    CHECK_EQ(le32(b, 4100), uint32_t(moviSize));
    CHECK_EQ(le32(b, 4), uint32_t(b.size() - 8));
    checkVideoHeader(b, 640, 480, 40000, 1, 25, 5);
    std::remove(path.c_str());
}

TEST(two_frames_of_1001_and_1002_bytes_make_a_6172_byte_file) {
    std::string path = tempPath("two.avi");
    AviWriter *w = openVideo(path, 640, 480, 25.0f);
    std::vector<unsigned char> a(1001, 1), c(1002, 2);
    aviAddFrame(w, a.data(), a.size());
    aviAddFrame(w, c.data(), c.size());
    CHECK_EQ(aviClose(w), aviOk);
    std::vector<unsigned char> b = readFileBytes(path);
    CHECK_EQ(b.size(), size_t(6172));
    CHECK_EQ(le32(b, 4), 6164u);
    CHECK_EQ(le32(b, 4100), 2028u);
    CHECK_EQ(le32(b, 4108 + 2028 - 4 + 8 + 8), 4u);      // first index offset
    CHECK_EQ(le32(b, 4108 + 2028 - 4 + 8 + 24), 1016u);  // second index offset
    std::remove(path.c_str());
}

TEST(size_and_rate_set_after_open_reach_the_file_at_close) {
    struct Case { float fps; uint32_t usec, scale, rate; };
    const Case cases[] = {
        {30.0f, 33333, 1, 30}, {25.0f, 40000, 1, 25}, {1.0f, 1000000, 1, 1},
        {29.97f, 33366, 100, 2997}, {0.5f, 2000000, 10, 5}, {12.5f, 80000, 10, 125},
        {23.976f, 41708, 1000, 23976},
    };
    for (const Case &c : cases) {
        std::string path = tempPath("rate.avi");
        AviWriter *w = openVideo(path, 300, 300, 30.0f);
        aviSetFps(w, c.fps);
        aviSetSize(w, 64, 48);
        CHECK_EQ(aviClose(w), aviOk);
        std::vector<unsigned char> b = readFileBytes(path);
        checkVideoHeader(b, 64, 48, c.usec, c.scale, c.rate, 0);
        std::remove(path.c_str());
    }
    // A rate that is not a decimal fraction is still played at its speed.
    std::string path = tempPath("third.avi");
    AviWriter *w = openVideo(path, 8, 8, 1.0f / 3.0f);
    CHECK(w->videoHeader.rate >= 1);
    double ratio = double(w->videoHeader.rate) / w->videoHeader.scale;
    CHECK_NEAR(ratio, 1.0 / 3.0, 1e-6);
    aviClose(w);
    std::remove(path.c_str());
}

TEST(large_sizes_wrap_in_the_four_size_fields) {
    std::string path = tempPath("wrap.avi");
    AviWriter *w = openVideo(path, 65535, 65535, 25.0f);
    aviClose(w);
    std::vector<unsigned char> b = readFileBytes(path);
    uint32_t wrapped = 65535u * 65535u * 3u;
    for (size_t at : {36, 60, 144, 192}) CHECK_EQ(le32(b, at), wrapped);
    std::remove(path.c_str());
}

TEST(the_index_grows_by_1024_when_a_frame_would_take_its_last_slot) {
    std::string path = tempPath("index.avi");
    AviWriter *w = openVideo(path, 4, 4, 25.0f);
    unsigned char byte = 7;
    for (int k = 0; k < 1023; ++k) aviAddFrame(w, &byte, 1);
    CHECK_EQ(w->indexCapacity, uint64_t(1024));
    aviAddFrame(w, &byte, 1);
    CHECK_EQ(w->indexCapacity, uint64_t(2048));
    for (int k = 0; k < 1100; ++k) aviAddFrame(w, &byte, 1);
    CHECK_EQ(w->indexCapacity, uint64_t(3072));
    CHECK_EQ(aviClose(w), aviOk);
    std::vector<unsigned char> b = readFileBytes(path);
    const size_t frames = 1023 + 1 + 1100;
    size_t indexAt = 4108 + frames * 12;
    CHECK_EQ(le32(b, indexAt + 4), uint32_t(16 * frames));
    CHECK_EQ(le32(b, indexAt + 8 + 16 * (frames - 1) + 8), uint32_t(4 + 12 * (frames - 1)));
    CHECK_EQ(le32(b, 48), uint32_t(frames));
    std::remove(path.c_str());
}

TEST(the_audio_option_declares_a_second_stream) {
    std::string path = tempPath("audio.avi");
    AviAudioParams audio{2, 16, 44100};
    AviWriter *w = aviOpen(path.c_str(), 320, 240, "MJPG", 25.0f, &audio);
    CHECK_EQ(aviClose(w), aviOk);
    std::vector<unsigned char> b = readFileBytes(path);
    CHECK_EQ(le32(b, 16), 294u);
    CHECK_EQ(le32(b, 56), 2u);  // streams
    CHECK_EQ(text(b, 212), std::string("LIST"));
    CHECK_EQ(le32(b, 216), 94u);
    CHECK_EQ(text(b, 220), std::string("strl"));
    CHECK_EQ(text(b, 224), std::string("strh"));
    CHECK_EQ(le32(b, 228), 56u);
    CHECK_EQ(text(b, 232), std::string("auds"));
    CHECK_EQ(le32(b, 236), 1u);  // handler bytes 01 00 00 00
    struct Field { size_t at; uint32_t value; };
    const Field fields[] = {{240, 0}, {244, 0}, {248, 0}, {252, 1}, {256, 44100}, {260, 0},
                            {264, 0}, {268, 176400}, {272, 0xFFFFFFFFu}, {276, 4}, {280, 0},
                            {284, 0}, {292, 18}, {300, 44100}, {304, 176400}};
    for (const Field &f : fields) CHECK_EQ(le32(b, f.at), f.value);
    CHECK_EQ(text(b, 288), std::string("strf"));
    CHECK_EQ(le16(b, 296), 1u);
    CHECK_EQ(le16(b, 298), 2u);
    CHECK_EQ(le16(b, 308), 4u);
    CHECK_EQ(le16(b, 310), 16u);
    CHECK_EQ(le16(b, 312), 0u);
    CHECK_EQ(text(b, 314), std::string("JUNK"));
    CHECK_EQ(le32(b, 318), 3774u);
    std::string filler;
    for (int k = 0; k < 198; ++k) filler += "JUNK IN THE CHUNK! ";
    filler += "JUNK IN THE ";
    CHECK(text(b, 322, 3774) == filler);
    CHECK_EQ(text(b, 4096), std::string("LIST"));
    std::remove(path.c_str());
}

TEST(index_entries_marked_as_audio_and_a_missing_index) {
    std::string path = tempPath("idx.bin");
    FILE *f = std::fopen(path.c_str(), "wb+");
    uint64_t entries[3] = {8, (uint64_t(1) << 31) | 20, 12};
    CHECK_EQ(writeIndex(f, 3, entries), 0);
    CHECK_EQ(writeIndex(f, 3, nullptr), -1);
    std::fclose(f);
    std::vector<unsigned char> b = readFileBytes(path);
    CHECK_EQ(b.size(), size_t(8 + 48));
    CHECK_EQ(text(b, 0), std::string("idx1"));
    CHECK_EQ(text(b, 8), std::string("00dc"));
    CHECK_EQ(text(b, 24), std::string("01wb"));
    CHECK_EQ(le32(b, 24 + 8), 4u + 8 + 8);  // offset after the first entry
    CHECK_EQ(le32(b, 24 + 12), 20u);        // bit 31 cleared
    CHECK_EQ(le32(b, 40 + 8), 4u + 16 + 20 + 8);
    std::remove(path.c_str());
}

TEST(frames_a_movie_cannot_take_are_refused) {
    // With the audio option a movie keeps to one form: at 4108 with no frames, chunk
    // 8 + S and index 8 + 16 must stay below 2^31.
    std::string path = tempPath("limit.avi");
    AviAudioParams audio{1, 16, 8000};
    AviWriter *w = aviOpen(path.c_str(), 8, 8, "MJPG", 25.0f, &audio);
    const uint64_t largest = (uint64_t(1) << 31) - 4108 - 8 - 8 - 16 - 1;
    const uint64_t largestPadded = largest & ~uint64_t(3);
    CHECK(aviFrameFits(w, largestPadded));
    CHECK(!aviFrameFits(w, largestPadded + 1));
    unsigned char byte = 0;  // not read: the frame is refused first
    CHECK_EQ(aviAddFrame(w, &byte, largestPadded + 1), aviFrameTooLarge);
    CHECK_EQ(w->chunkCount, uint64_t(0));
    CHECK_EQ(aviClose(w), aviOk);
    CHECK_EQ(readFileBytes(path).size(), size_t(4116));
    // Video alone goes on in further forms, but no chunk may reach 2^31 - 128 bytes.
    w = openVideo(path, 8, 8, 25.0f);
    CHECK(aviFrameFits(w, largestPadded + 1));
    CHECK(aviFrameFits(w, (uint64_t(1) << 31) - 128));
    CHECK(!aviFrameFits(w, (uint64_t(1) << 31) - 127));
    CHECK(!aviFrameFits(w, uint64_t(1) << 40));
    CHECK_EQ(aviAddFrame(w, &byte, uint64_t(1) << 40), aviFrameTooLarge);
    CHECK_EQ(aviClose(w), aviOk);
    CHECK_EQ(readFileBytes(path).size(), size_t(4116));
    std::remove(path.c_str());
}

namespace {

// The expected bytes of a movie, built flat from the layout.
struct Bytes {
    std::vector<unsigned char> b;
    void code(const char *c) { b.insert(b.end(), c, c + 4); }
    void dword(uint64_t v) { for (int k = 0; k < 4; ++k) b.push_back(static_cast<unsigned char>(v >> (8 * k))); }
    void qword(uint64_t v) { dword(v); dword(v >> 32); }
    void word(uint32_t v) { b.push_back(v & 0xFF); b.push_back((v >> 8) & 0xFF); }
    void at(size_t pos, uint64_t v) { for (int k = 0; k < 4; ++k) b[pos + k] = static_cast<unsigned char>(v >> (8 * k)); }
};

struct ExpectedForm {
    std::vector<std::vector<unsigned char>> frames;
    size_t indexPos, indexBytes;
};

// A 64x48 movie at 25 frames per second whose frames are split into these forms.
std::vector<unsigned char> expectedOpendmlMovie(std::vector<ExpectedForm> forms) {
    size_t total = 0;
    for (const ExpectedForm &f : forms) total += f.frames.size();
    Bytes out;
    out.b.resize(4096);  // the header region, written last
    size_t firstFormEnd = 0;
    for (size_t k = 0; k < forms.size(); ++k) {
        size_t formPos = k == 0 ? 0 : out.b.size();
        if (k > 0) {
            out.code("RIFF"); out.dword(0); out.code("AVIX");
        }
        size_t moviSizePos = out.b.size() + 4;
        out.code("LIST"); out.dword(0); out.code("movi");
        size_t moviPos = moviSizePos + 4;
        std::vector<uint32_t> sizes;
        for (const std::vector<unsigned char> &frame : forms[k].frames) {
            uint32_t size = (frame.size() + 3) & ~size_t(3);
            sizes.push_back(size);
            out.code("00dc"); out.dword(size);
            out.b.insert(out.b.end(), frame.begin(), frame.end());
            out.b.resize(out.b.size() + (size - frame.size()));
        }
        forms[k].indexPos = out.b.size();
        out.code("ix00"); out.dword(24 + 8 * sizes.size());
        out.word(2); out.b.push_back(0); out.b.push_back(1);
        out.dword(sizes.size()); out.code("00dc"); out.qword(moviPos); out.dword(0);
        uint32_t offset = 12;
        for (uint32_t size : sizes) { out.dword(offset); out.dword(size); offset += size + 8; }
        forms[k].indexBytes = out.b.size() - forms[k].indexPos;
        out.at(moviSizePos, out.b.size() - moviSizePos - 4);
        if (k == 0) {
            out.code("idx1"); out.dword(16 * sizes.size());
            offset = 4;
            for (uint32_t size : sizes) { out.code("00dc"); out.dword(16); out.dword(offset); out.dword(size); offset += size + 8; }
        }
        out.at(formPos + 4, out.b.size() - formPos - 8);
        if (k == 0) firstFormEnd = out.b.size();
    }
    Bytes h;
    h.code("RIFF"); h.dword(firstFormEnd - 8); h.code("AVI ");
    h.code("LIST"); h.dword(4 + 64 + 8 + 4 + 64 + 48 + 32 + 16 * forms.size() + 268); h.code("hdrl");
    const uint32_t image = 64 * 48 * 3;
    h.code("avih"); h.dword(56);
    for (uint64_t v : {40000u, image, 0u, 16u, unsigned(forms[0].frames.size()), 0u, 1u, image, 64u, 48u, 0u, 0u, 0u, 0u}) h.dword(v);
    h.code("LIST"); h.dword(4 + 64 + 48 + 32 + 16 * forms.size()); h.code("strl");
    h.code("strh"); h.dword(56); h.code("vids"); h.code("MJPG");
    for (uint64_t v : {0u, 0u, 0u, 1u, 25u, 0u, unsigned(total), image, 0u, 0u, 0u, 0u}) h.dword(v);
    h.code("strf"); h.dword(40); h.dword(40); h.dword(64); h.dword(48); h.word(1); h.word(24);
    h.code("MJPG"); h.dword(image);
    for (int k = 0; k < 4; ++k) h.dword(0);
    h.code("indx"); h.dword(24 + 16 * forms.size()); h.word(4); h.b.push_back(0); h.b.push_back(0);
    h.dword(forms.size()); h.code("00dc"); h.dword(0); h.dword(0); h.dword(0);
    for (const ExpectedForm &f : forms) { h.qword(f.indexPos); h.dword(f.indexBytes); h.dword(f.frames.size()); }
    h.code("LIST"); h.dword(260); h.code("odml"); h.code("dmlh"); h.dword(248); h.dword(total);
    for (int k = 1; k < 62; ++k) h.dword(0);
    h.code("JUNK"); h.dword(4096 - h.b.size() - 4);
    for (size_t k = 0; h.b.size() < 4096; ++k) h.b.push_back("JUNK IN THE CHUNK! "[k % 19]);
    std::copy(h.b.begin(), h.b.end(), out.b.begin());
    return out.b;
}

}  // namespace

TEST(a_movie_past_its_first_form_continues_in_opendml_forms) {
    const std::string data = TEST_DATA_DIR;
    const std::vector<unsigned char> f1 = readFileBytes(data + "/frame1.jpg");
    const std::vector<unsigned char> f2 = readFileBytes(data + "/frame2.jpg");
    const std::vector<unsigned char> f3 = readFileBytes(data + "/frame3.jpg");
    const std::vector<unsigned char> f4 = readFileBytes(data + "/other_size.jpg");
    CHECK(!f1.empty() && !f2.empty() && !f3.empty() && !f4.empty());
    // Sizes 1400, 1396, 1392, 716 padded. The first form ends at 7008 with two frames (a
    // third would need 8432 with both indexes); later forms hold at most 3000 bytes.
    std::string path = tempPath("odml.avi");
    AviWriter *w = openVideo(path, 64, 48, 25.0f);
    w->firstFormLimit = 8000;
    w->laterFormLimit = 3000;
    for (const std::vector<unsigned char> *frame : {&f1, &f2, &f3, &f1, &f2, &f4})
        CHECK_EQ(aviAddFrame(w, frame->data(), frame->size()), aviOk);
    CHECK_EQ(w->laterForms, 2);
    CHECK_EQ(aviClose(w), aviOk);
    std::vector<unsigned char> expected = expectedOpendmlMovie({{{f1, f2}, 0, 0}, {{f3, f1}, 0, 0}, {{f2, f4}, 0, 0}});
    std::vector<unsigned char> b = readFileBytes(path);
    CHECK_EQ(b.size(), expected.size());
    size_t first = 0;
    while (first < b.size() && first < expected.size() && b[first] == expected[first]) ++first;
    if (b != expected) recordFailure(__FILE__, __LINE__, "first difference at byte " + std::to_string(first) + ": " + std::to_string(le32(b, first & ~size_t(3))) + " != " + std::to_string(le32(expected, first & ~size_t(3))));
    // Readers find every frame through the super index, at the rate set.
    if (std::system("command -v ffprobe >/dev/null 2>&1") == 0) {
        std::string command = "ffprobe -v error -count_frames -show_entries stream=codec_name,nb_read_frames "
                              "-of default=noprint_wrappers=1 '" + path + "'";
        FILE *p = popen(command.c_str(), "r");
        char line[256];
        std::string info;
        while (p && std::fgets(line, sizeof line, p)) info += line;
        if (p) pclose(p);
        CHECK_EQ(info, std::string("codec_name=mjpeg\nnb_read_frames=6\n"));
    }
    std::remove(path.c_str());
}

TEST(write_failures_are_reported) {
    AviWriter *w = openVideo("/dev/full", 8, 8, 25.0f);
    if (w) {  // no /dev/full elsewhere
        std::vector<unsigned char> frame(100000, 1);
        AviStatus added = aviAddFrame(w, frame.data(), frame.size());
        AviStatus closed = aviClose(w);
        CHECK(added == aviWriteFailed || closed == aviWriteFailed);
        CHECK_EQ(closed, aviWriteFailed);
    }
    // A disk that fills in a later form: the failure is reported, and the first form
    // and the header region, which need no new space, are finished.
    std::string path = tempPath("cut.avi");
    std::vector<unsigned char> frame(1396, 7);
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    void (*savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 10000;
    setrlimit(RLIMIT_FSIZE, &small);
    w = openVideo(path, 8, 8, 25.0f);
    w->firstFormLimit = 8000;
    w->laterFormLimit = 3000;
    bool failed = false;
    for (int k = 0; k < 8; ++k) failed = aviAddFrame(w, frame.data(), frame.size()) == aviWriteFailed || failed;
    failed = aviClose(w) == aviWriteFailed || failed;
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
    CHECK(failed);
    std::vector<unsigned char> b = readFileBytes(path);
    CHECK_EQ(le32(b, 4), 7004u - 8);  // two chunks of 1404 bytes from 4108, ix00, idx1
    CHECK_EQ(text(b, 4108 + 2 * 1404 + 48), std::string("idx1"));
    CHECK_EQ(text(b, 212), std::string("indx"));
    CHECK_EQ(text(b, 4096), std::string("LIST"));
    std::remove(path.c_str());
}

namespace {

int probe(const std::vector<unsigned char> &bytes, int32_t *width, int32_t *height) {
    std::string path = tempPath("probe.bin");
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    f = std::fopen(path.c_str(), "rb");
    int result = jpegFindSize(f, width, height);
    std::fclose(f);
    std::remove(path.c_str());
    return result;
}

}  // namespace

TEST(jpeg_probe_on_crafted_bytes) {
    typedef std::vector<unsigned char> Bytes;
    struct Case { const char *name; Bytes bytes; int result; int32_t width, height; };
    const Case cases[] = {
        {"frame header at 2", {0xFF, 0xD8, 0xFF, 0xC0, 0, 17, 8, 0x01, 0x02, 0x03, 0x04}, 0, 0x0304, 0x0102},
        {"fill byte passes the marker over", {0xFF, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 0xFF, 0xC0, 0, 17, 8, 0, 48, 0, 64}, 0, 64, 48},
        {"second byte of a pair never starts one", {0x00, 0xFF, 0xFF, 0xC0, 0, 0, 0, 0, 9, 0, 9}, -1, 0, 0},
        {"largest sizes", {0xFF, 0xC0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 65535, 65535},
        {"progressive only", {0xFF, 0xD8, 0xFF, 0xC2, 0, 17, 8, 0, 48, 0, 64, 0xFF, 0xD9}, -1, 0, 0},
        {"empty", {}, -1, 0, 0},
        {"ends after the marker prefix", {0x12, 0xFF}, -1, 0, 0},
        {"ends within the seven bytes", {0xFF, 0xC0, 0, 17, 8, 0, 48, 0}, -1, 0, 0},
        {"ends right after the pair", {0xFF, 0xC0}, -1, 0, 0},
    };
    for (const Case &c : cases) {
        int32_t width = -1, height = -1;
        int result = probe(c.bytes, &width, &height);
        if (result != c.result) recordFailure(__FILE__, __LINE__, std::string("probe: ") + c.name);
        if (c.result == 0 && (width != c.width || height != c.height))
            recordFailure(__FILE__, __LINE__, std::string("probe size: ") + c.name);
    }
}
