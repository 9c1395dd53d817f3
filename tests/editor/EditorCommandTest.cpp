// `kovalith snapshot` and `kovalith edit` as a user runs them.
#include "tests/XServer.h"
#include "tests/HostProcess.h"

#include <cairo.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace editortest {
namespace {

using RunResult = kovalith::testing::HostRun;

// In the sanitizer build the host process is checked for leaks at exit; fontconfig's
// caches, which the editor's text fills and nobody may tear down inside a host, are
// excused as in the test programs themselves (tests/LeakSuppressions.cpp).
std::string leakSuppressions() {
    const std::string path = std::string(TEST_TMP_DIR) + "/lsan_suppressions.txt";
    std::ofstream(path) << "leak:libfontconfig.so\n";
    return "LSAN_OPTIONS=suppressions='" + path + "' ";
}

RunResult runHost(const std::string& arguments, const std::string& environment = "") {
    return kovalith::testing::runHostProcess(KOVALITH_HOST_EXE, arguments, std::string(TEST_TMP_DIR) + "/command",
                                             leakSuppressions() + environment + " ");
}

std::string tmpPath(const char* name) { return std::string(TEST_TMP_DIR) + "/" + name; }

// Straight red, green, blue of one pixel of a PNG file read back with cairo.
struct Picture {
    explicit Picture(const std::string& path) : surface(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Picture() { cairo_surface_destroy(surface); }
    bool ok() const { return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(surface); }
    int height() const { return cairo_image_surface_get_height(surface); }
    uint32_t at(int x, int y) const {
        const unsigned char* row =
            cairo_image_surface_get_data(surface) + static_cast<size_t>(y) * cairo_image_surface_get_stride(surface);
        return reinterpret_cast<const uint32_t*>(row)[x];
    }
    cairo_surface_t* surface;
};

TEST(SnapshotCommand, WritesTheWindowAsPng) {
    const std::string path = tmpPath("snapshot.png");
    std::remove(path.c_str());
    const RunResult r = runHost("snapshot '" + path + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("659 x 479"), std::string::npos) << r.out;
    Picture picture(path);
    ASSERT_TRUE(picture.ok());
    EXPECT_EQ(picture.width(), 659);
    EXPECT_EQ(picture.height(), 479);
    // Opaque everywhere: the window has no holes.
    for (int y = 0; y < 479; y += 23)
        for (int x = 0; x < 659; x += 19) ASSERT_EQ(picture.at(x, y) >> 24, 255u) << x << "," << y;
}

TEST(SnapshotCommand, PresetAndSettingsShowInThePicture) {
    const std::string low = tmpPath("snapshot_low.png"), high = tmpPath("snapshot_high.png");
    ASSERT_EQ(runHost("snapshot '" + low + "' --preset 0 --set Feedback=0").exitCode, 0);
    ASSERT_EQ(runHost("snapshot --set=feedback=1 '" + high + "' --preset 'Rubber Boots'").exitCode, 0);
    Picture a(low), b(high);
    ASSERT_TRUE(a.ok() && b.ok());
    // The Feedback knob's handle: lower left at 0, lower right at 1.
    EXPECT_NE(a.at(515, 64), b.at(515, 64));
    EXPECT_NE(a.at(525, 64), b.at(525, 64));
    // Everything away from that knob and its read-out is the same.
    EXPECT_EQ(a.at(300, 300), b.at(300, 300));
    EXPECT_EQ(a.at(30, 30), b.at(30, 30));
    // By index too.
    ASSERT_EQ(runHost("snapshot '" + low + "' --set 17=1").exitCode, 0);
    Picture c(low);
    EXPECT_EQ(c.at(525, 64), b.at(525, 64));
}

TEST(SnapshotCommand, UsageAndFailures) {
    EXPECT_EQ(runHost("snapshot").exitCode, 2);
    EXPECT_EQ(runHost("snapshot a.png b.png").exitCode, 2);
    EXPECT_EQ(runHost("snapshot '" + tmpPath("x.png") + "' --set").exitCode, 2);
    EXPECT_EQ(runHost("snapshot '" + tmpPath("x.png") + "' --set Feedback").exitCode, 2);
    RunResult r = runHost("snapshot '" + tmpPath("x.png") + "' --set NoSuchThing=1");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("NoSuchThing"), std::string::npos) << r.err;
    EXPECT_EQ(runHost("snapshot '" + tmpPath("x.png") + "' --set Feedback=loud").exitCode, 2);
    EXPECT_EQ(runHost("snapshot '" + tmpPath("x.png") + "' --set Feedback=nan").exitCode, 2);
    EXPECT_EQ(runHost("snapshot '" + tmpPath("x.png") + "' --preset 32").exitCode, 2);
    EXPECT_EQ(runHost("snapshot '" + tmpPath("x.png") + "' --preset 'No Such Program'").exitCode, 2);
    r = runHost("snapshot /nonexistent-directory/x.png");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    // The snapshot needs no display at all.
    EXPECT_EQ(runHost("snapshot '" + tmpPath("x.png") + "'", "env -u DISPLAY").exitCode, 0);
}

TEST(SnapshotCommand, ScaleDrawsAtExactlyThatScale) {
    const std::string plain = tmpPath("snapshot_plain.png"), one = tmpPath("snapshot_one.png");
    ASSERT_EQ(runHost("snapshot '" + plain + "'").exitCode, 0);
    ASSERT_EQ(runHost("snapshot '" + one + "' --scale 1").exitCode, 0);
    std::ifstream a(plain, std::ios::binary), b(one, std::ios::binary);
    const std::string bytesA((std::istreambuf_iterator<char>(a)), std::istreambuf_iterator<char>());
    const std::string bytesB((std::istreambuf_iterator<char>(b)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(bytesA.empty());
    EXPECT_EQ(bytesA, bytesB) << "scale 1 is the plain picture";

    const std::string big = tmpPath("snapshot_big.png");
    const RunResult r = runHost("snapshot '" + big + "' --scale=1.5");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("989 x 719"), std::string::npos) << r.out;
    Picture picture(big);
    ASSERT_TRUE(picture.ok());
    EXPECT_EQ(picture.width(), 989);
    EXPECT_EQ(picture.height(), 719);

    for (const char* wrong : {"--scale 0.5", "--scale 3.01", "--scale abc", "--scale nan", "--scale=", "--scale"})
        EXPECT_EQ(runHost("snapshot '" + tmpPath("x.png") + "' " + wrong).exitCode, 2) << wrong;
}

TEST(EditCommand, OpensForAWhileAndSavesTheProgram) {
    if (!xtest::PrivateXServer::available()) GTEST_SKIP() << "no X server (install xvfb)";
    const std::string fxp = tmpPath("edited.fxp");
    std::remove(fxp.c_str());
    RunResult r;
    // Connecting to the test server fails now and then (see openTestDisplay).
    for (int attempt = 0; attempt < 3; ++attempt) {
        r = runHost("edit --seconds 0.3 --set Mix=0.25 --save-fxp '" + fxp + "'");
        if (r.exitCode == 0 || (r.err.find("could not open") == std::string::npos &&
                            r.err.find("cannot open the X display") == std::string::npos))
            break;
    }
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("editor open"), std::string::npos) << r.err;
    struct stat file {};
    ASSERT_EQ(stat(fxp.c_str(), &file), 0);
    EXPECT_GT(file.st_size, 60);
    // The saved program loads and carries the setting.
    const RunResult info = runHost("--load '" + fxp + "' info");
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("58\tMix\tlabel \"-\"\tdisplay \"\"\tvalue 0.25\n"), std::string::npos) << info.out;
}

TEST(EditCommand, NeedsADisplay) {
    const RunResult r = runHost("edit --seconds 0.1", "env -u DISPLAY");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("X display"), std::string::npos) << r.err;
    EXPECT_EQ(runHost("edit --seconds nope").exitCode, 2);
    EXPECT_EQ(runHost("edit --frobnicate").exitCode, 2);
}

}  // namespace
}  // namespace editortest
