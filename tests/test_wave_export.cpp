// The WAV writer: header fields, data layout, and never a half-written file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "base/timeline.h"
#include "output/wave.h"
#include "tests/file_contents.h"

namespace fs = std::filesystem;

namespace {

uint32_t le32(const std::vector<uint8_t>& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t le16(const std::vector<uint8_t>& b, std::size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

class WaveExport : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("wave_export_" + std::to_string(getpid()));
        fs::create_directories(dir);
        path = (dir / "output.wav").string();
        song.assign(SONG_SAMPLES, 0);
        for (uint32_t i = 0; i < SONG_SAMPLES; i += 997) song[i] = static_cast<int16_t>(i * 31);
        song.front() = -2;     // left sample of the first frame
        song.back() = 0x1234;  // right sample of the last frame
    }
    void TearDown() override { fs::remove_all(dir); }

    // The writer's result; it says nothing on standard output itself, and tells its progress
    // callback once the header is out.
    int export_quietly(const std::string& to)
    {
        testing::internal::CaptureStdout();
        progress_calls = 0;
        const WaveProgress progress{[](void* calls) { ++*static_cast<int*>(calls); }, &progress_calls};
        const int error = wave_write_pcm(to.c_str(), song.data(), SONG_SAMPLES, progress);
        out = testing::internal::GetCapturedStdout();
        return error;
    }

    fs::path dir;
    std::string path;
    std::vector<int16_t> song;
    std::string out;
    int progress_calls = 0;
};

// Written over a longer file: the header describes the song, samples follow in
// buffer order little-endian, the old file is replaced whole, no temporary is left.
TEST_F(WaveExport, ReplacesAnyFileWithTheSong)
{
    std::ofstream(path, std::ios::binary) << std::string(30'000'000, 'x');
    ASSERT_EQ(export_quietly(path), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(progress_calls, 1);
    const auto bytes = file_contents(path);
    ASSERT_EQ(bytes.size(), 22932044u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(bytes, 16), 16u);
    EXPECT_EQ(le16(bytes, 20), 1);  // integer PCM
    EXPECT_EQ(le16(bytes, 22), 2);
    EXPECT_EQ(le32(bytes, 24), 44100u);
    EXPECT_EQ(le32(bytes, 28), 176400u);
    EXPECT_EQ(le16(bytes, 32), 4);
    EXPECT_EQ(le16(bytes, 34), 16);
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
    EXPECT_EQ(le32(bytes, 40), bytes.size() - 44);
    EXPECT_EQ(le16(bytes, 44), 0xFFFE);  // first frame's left sample, -2
    EXPECT_EQ(le16(bytes, bytes.size() - 2), 0x1234);
    EXPECT_EQ(std::memcmp(bytes.data() + 44, song.data(), song.size() * 2), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(WaveExport, MissingFolderIsTheReasonReturned)
{
    EXPECT_EQ(export_quietly((dir / "no-such-folder" / "output.wav").string()), ENOENT);
    EXPECT_EQ(out, "");
    EXPECT_EQ(progress_calls, 0) << "no header was written";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 0) << "nothing left behind";
}

}  // namespace
