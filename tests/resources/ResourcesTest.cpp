// Checks the embedded artwork: the lookup table, the PNG files' structure and
// sizes byte by byte, and a few pixels of the decoded images.

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resources/EmbeddedResources.h"

namespace kovalith::resources {
namespace {

struct Expected {
    int id;
    const char* name;
    std::uint32_t width, height;
    int colourType;  // 2 = RGB, 6 = RGB with alpha
};

const Expected kExpected[] = {
    {101, "Kovalith_Background.png", 659, 479, 2},
    {104, "Kovalith_StereoButton.png", 22, 28, 6},
    {105, "Kovalith_PathButton.png", 50, 34, 6},
    {0, "Kovalith_KnobBody.png", 30, 30, 6},
    {0, "Kovalith_KnobHandle.png", 8, 8, 6},
    {0, "Kovalith_Background_2x.png", 1318, 958, 2},
    {0, "Kovalith_StereoButton_2x.png", 44, 56, 6},
    {0, "Kovalith_PathButton_2x.png", 100, 68, 6},
    {0, "Kovalith_KnobBody_2x.png", 60, 60, 6},
    {0, "Kovalith_KnobHandle_2x.png", 16, 16, 6},
    {0, "Kovalith_Background_3x.png", 1977, 1437, 2},
    {0, "Kovalith_StereoButton_3x.png", 66, 84, 6},
    {0, "Kovalith_PathButton_3x.png", 150, 102, 6},
    {0, "Kovalith_KnobBody_3x.png", 90, 90, 6},
    {0, "Kovalith_KnobHandle_3x.png", 24, 24, 6},
};

std::uint32_t bigEndian32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

struct Chunk {
    std::string type;
    const unsigned char* data;
    std::uint32_t length;
};

// Walks the chunk stream, checking every length and CRC; fails the test on a fault.
std::vector<Chunk> readChunks(const EmbeddedResource& r) {
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<Chunk> chunks;
    EXPECT_GE(r.size, sizeof signature);
    if (r.size < sizeof signature || std::memcmp(r.data, signature, sizeof signature) != 0) {
        ADD_FAILURE() << r.name << ": no PNG signature";
        return chunks;
    }
    std::size_t pos = sizeof signature;
    while (pos + 12 <= r.size) {
        const std::uint32_t length = bigEndian32(r.data + pos);
        if (length > r.size - pos - 12) {
            ADD_FAILURE() << r.name << ": chunk at " << pos << " runs past the end";
            return chunks;
        }
        const unsigned char* type = r.data + pos + 4;
        const uLong crc = crc32(crc32(0, nullptr, 0), type, length + 4);
        EXPECT_EQ(crc, bigEndian32(type + 4 + length)) << r.name << ": bad CRC at " << pos;
        chunks.push_back({std::string(reinterpret_cast<const char*>(type), 4), type + 4, length});
        pos += 12 + length;
    }
    EXPECT_EQ(pos, r.size) << r.name << ": bytes after the last chunk";
    return chunks;
}

TEST(EmbeddedResources, TableHoldsExactlyTheArtworkFoundByIdAndByName) {
    std::size_t count = 0;
    const EmbeddedResource* all = embeddedResources(&count);
    ASSERT_NE(all, nullptr);
    ASSERT_EQ(count, std::size(kExpected));
    for (std::size_t i = 0; i < count; ++i) {
        const Expected& e = kExpected[i];
        EXPECT_EQ(all[i].id, e.id);
        EXPECT_STREQ(all[i].name, e.name);
        EXPECT_GT(all[i].size, 0u);
        EXPECT_EQ(findResource(e.name), &all[i]) << e.name;
        if (e.id != 0) {
            EXPECT_EQ(findResource(e.id), &all[i]) << e.id;
        }
    }
}

TEST(EmbeddedResources, UnknownLookupsFindNothing) {
    EXPECT_EQ(findResource(0), nullptr);  // id 0 marks the named-only bitmaps
    EXPECT_EQ(findResource(102), nullptr);
    EXPECT_EQ(findResource(-1), nullptr);
    EXPECT_EQ(findResource(static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(findResource(""), nullptr);
    EXPECT_EQ(findResource("kovalith_knobbody.png"), nullptr);  // names are exact
    EXPECT_EQ(findResource("Kovalith_KnobBody"), nullptr);
}

TEST(EmbeddedResources, EveryResourceIsAWellFormedPngOfTheTabledSize) {
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(e.name);
        const EmbeddedResource* r = findResource(e.name);
        ASSERT_NE(r, nullptr);
        const std::vector<Chunk> chunks = readChunks(*r);
        ASSERT_GE(chunks.size(), 3u);
        ASSERT_EQ(chunks.front().type, "IHDR");
        ASSERT_EQ(chunks.front().length, 13u);
        const unsigned char* ihdr = chunks.front().data;
        EXPECT_EQ(bigEndian32(ihdr), e.width);
        EXPECT_EQ(bigEndian32(ihdr + 4), e.height);
        EXPECT_EQ(ihdr[8], 8) << "bit depth";
        EXPECT_EQ(ihdr[9], e.colourType) << "colour type";
        EXPECT_EQ(ihdr[12], 0) << "interlace";
        EXPECT_EQ(chunks.back().type, "IEND");
        bool hasData = false;
        for (const Chunk& c : chunks) hasData = hasData || c.type == "IDAT";
        EXPECT_TRUE(hasData);
    }
}

// An image decoded to RGBA with libpng.
struct Image {
    std::uint32_t width = 0, height = 0;
    std::vector<unsigned char> pixels;
    const unsigned char* at(std::uint32_t x, std::uint32_t y) const {
        return &pixels[(std::size_t(y) * width + x) * 4];
    }
    bool rowsEqual(std::uint32_t y0, std::uint32_t y1, std::uint32_t rows) const {
        return std::memcmp(at(0, y0), at(0, y1), std::size_t(rows) * width * 4) == 0;
    }
};

Image decode(const char* name) {
    Image image;
    const EmbeddedResource* r = findResource(name);
    if (!r) {
        ADD_FAILURE() << "no resource " << name;
        return image;
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, r->data, r->size)) {
        ADD_FAILURE() << name << ": " << png.message;
        return image;
    }
    png.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) {
        ADD_FAILURE() << name << ": " << png.message;
        png_image_free(&png);
        return image;
    }
    image.width = png.width;
    image.height = png.height;
    image.pixels = std::move(pixels);
    return image;
}

TEST(EmbeddedArtwork, KnobBodyIsAnOpaqueTealDiscOnTransparency) {
    const Image body = decode("Kovalith_KnobBody.png");
    ASSERT_EQ(body.width, 30u);
    for (auto [x, y] : {std::pair{0u, 0u}, {29u, 0u}, {0u, 29u}, {29u, 29u}})
        EXPECT_EQ(body.at(x, y)[3], 0) << "corner " << x << "," << y;
    const unsigned char* centre = body.at(15, 15);
    EXPECT_EQ(centre[3], 255);
    EXPECT_GT(centre[2], centre[0]) << "blue over red: teal";
    const unsigned char* ring = body.at(15, 1);  // the top of the outer ring
    EXPECT_EQ(ring[3], 255);
    EXPECT_GT(ring[0], ring[2]) << "red over blue: orange";
}

TEST(EmbeddedArtwork, KnobHandleIsASmallDot) {
    const Image handle = decode("Kovalith_KnobHandle.png");
    ASSERT_EQ(handle.width, 8u);
    EXPECT_EQ(handle.at(0, 0)[3], 0);
    EXPECT_EQ(handle.at(7, 7)[3], 0);
    EXPECT_EQ(handle.at(4, 4)[3], 255);
}

TEST(EmbeddedArtwork, ButtonFramesShowDifferentStates) {
    const Image stereo = decode("Kovalith_StereoButton.png");
    ASSERT_EQ(stereo.height, 28u);
    EXPECT_FALSE(stereo.rowsEqual(0, 14, 14));
    const Image path = decode("Kovalith_PathButton.png");
    ASSERT_EQ(path.height, 34u);
    EXPECT_FALSE(path.rowsEqual(0, 17, 17));
    // Each frame is a face of its own, opaque in the middle.
    EXPECT_EQ(stereo.at(11, 7)[3], 255);
    EXPECT_EQ(stereo.at(11, 21)[3], 255);
    EXPECT_EQ(path.at(25, 8)[3], 255);
    EXPECT_EQ(path.at(25, 25)[3], 255);
}

TEST(EmbeddedArtwork, BackgroundIsOpaque) {
    const Image background = decode("Kovalith_Background.png");
    ASSERT_EQ(background.width, 659u);
    ASSERT_EQ(background.height, 479u);
    for (std::size_t i = 3; i < background.pixels.size(); i += 4)
        ASSERT_EQ(background.pixels[i], 255) << "pixel " << i / 4;
}

}  // namespace
}  // namespace kovalith::resources
