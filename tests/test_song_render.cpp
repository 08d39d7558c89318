// songtool render's stems against the straightforward pipeline: each channel
// rendered whole, through its chain in one whole-length block, summed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>
#include <vector>

#include "driver/render.h"
#include "fx/mixdown.h"
#include "fx/reverb.h"
#include "render_progress.h"
#include "song_render.h"
#include "data/tables.h"
#include "tests/file_contents.h"
#include "tests/reference.h"
#include "song_asm.h"
#include "songtool.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t FRAMES = 2 * SAMPLE_RATE;  // several blocks, and the effects' tails
constexpr uint32_t SAMPLES = 2 * FRAMES;

class SongRender : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int k = 0; k < 7; ++k)  // every channel plays a while with its own instrument, then holds
            song += "channel " + std::to_string(k) + "\n  o3 v8 @" + std::to_string(2 * k) +
                    " l8 c e g >c< b g e c [ r1 ]255\n";
        song += "channel 7\n  t43 v8 o3 c8 d8 e8 f8 g8 a8 [ r1 ]255\n";
        fs::create_directories(dir);
        std::ofstream(dir / "busy.txt") << song;
    }
    void TearDown() override { fs::remove_all(dir); }

    int render(const std::string& out, const std::string& frames, std::vector<std::string> options = {})
    {
        std::ostringstream stdout_text, stderr_text;
        std::vector<std::string> args = {"render", (dir / "busy.txt").string(), "-o", (dir / out).string(), "--frames",
                                         frames, "--stems", (dir / "stems").string()};
        args.insert(args.end(), options.begin(), options.end());
        const int status = songtool_main(args, stdout_text, stderr_text);
        EXPECT_EQ(stdout_text.str(), "");
        return status;
    }

    // The master before the equaliser: each channel rendered whole, then through its chain in one block;
    // with `channel`, what that channel adds to it.
    std::vector<float> straightforward_master(int channel = -1, std::vector<float>* share = nullptr)
    {
        std::vector<uint8_t> block;
        std::vector<std::string> errors;
        EXPECT_TRUE(assemble_song(song, "busy.txt", block, errors));
        std::vector<float> master(SAMPLES, 0.0f), c(SAMPLES);
        std::vector<int16_t> rendered(SAMPLES);
        auto* const frames = reinterpret_cast<int16_t(*)[2]>(rendered.data());
        const auto engine = std::make_unique<Engine>();
        const auto reverb = reference::fresh_reverb();
        for (int k = 0; k < CHANNEL_COUNT; ++k) {
            engine_start(*engine, block.data(), default_sounds.instrument_bank, k);
            for (uint32_t done = 0, n; done < FRAMES; done += n) {
                n = std::min(RENDER_BLOCK_FRAMES, FRAMES - done);
                render_channel_block(*engine, k, n, frames + done);
            }
            ChannelChain chain;
            Fault fault;
            EXPECT_TRUE(channel_chain_start(chain, default_sounds, k, fault)) << fault.message;
            channel_chain_enter(chain, *reverb);
            channel_chain_block(chain, *reverb, frames, c.data(), FRAMES);
            reference::channel_chain_leave(chain, *reverb);
            channel_chain_finish(chain);
            for (uint32_t i = 0; i < SAMPLES; ++i) master[i] = master[i] + c[i];
            if (k == channel) *share = c;
        }
        return master;
    }

    fs::path dir = fs::temp_directory_path() / ("song_render_" + std::to_string(getpid()));
    std::string song;
};

TEST_F(SongRender, StemsSumToTheMasterBeforeTheEqualiserScaledAsTheFile)
{
    ASSERT_EQ(render("mix.wav", std::to_string(FRAMES)), 0);
    const std::vector<float> master = straightforward_master();
    std::vector<float> equalised = master;
    reference::master_equalise(default_sounds, equalised.data(), SAMPLES);
    const float scale = 32767.0f / master_peak_of(equalised.data(), SAMPLES) / 32768.0f;

    std::vector<double> sum(SAMPLES, 0.0), magnitude(SAMPLES, 0.0);
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        const std::vector<uint8_t> bytes = file_contents(dir / "stems" / ("channel-" + std::to_string(k) + ".wav"));
        ASSERT_EQ(bytes.size(), 58u + 4u * SAMPLES) << "float stem, channel " << k;  // fmt with extension, fact
        std::vector<float> stem(SAMPLES);
        std::memcpy(stem.data(), bytes.data() + 58, 4u * SAMPLES);
        EXPECT_GT(master_peak_of(stem.data(), SAMPLES), 0.01f) << "channel " << k << " sounds";
        for (uint32_t i = 0; i < SAMPLES; ++i) sum[i] += stem[i], magnitude[i] += std::fabs(stem[i]);
    }
    // Scaling each term rounds once more than scaling the sum: a few units in the last place.
    for (uint32_t i = 0; i < SAMPLES; ++i)
        ASSERT_LE(std::fabs(sum[i] - master[i] * scale), 2.0 * (CHANNEL_COUNT + 1) * std::ldexp(magnitude[i], -24))
            << "sample " << i;
}

// A timeline built by hand: 701 frames a tick up to tick 130, 603 from there.
SongTimeline hand_timeline(uint32_t pickup)
{
    SongTimeline t;
    t.pickup = pickup;
    t.ticks = 8000;
    t.tempo = {{0, 0, 701, 50, 0}, {130, 130 * 701, 603, 43, 128}};
    return t;
}

// The span of `args` (after "render song -o x.wav") in `timeline`, or the usage error.
std::string span_of(const SongTimeline& timeline, std::vector<std::string> args, RenderSpan& span)
{
    args.insert(args.begin(), {"render", "song.txt", "-o", "x.wav"});
    RenderRequest request;
    std::string error;
    if (!parse_render_arguments(args, request, error) || !excerpt_span(request, timeline, span, error)) return error;
    return "";
}

// A place is heard from the frame after the one its tick runs after.
TEST(Excerpt, SpansStartInTheFrameAfterTheirTick)
{
    struct Case { uint32_t pickup; std::vector<std::string> args; RenderSpan span; };
    const uint32_t bar_4 = 130 * 701 + 254 * 603 + 1;  // tick 384
    const Case cases[] = {
        {0, {"--from", "2", "--to", "4"}, {128 * 701 + 1, bar_4, bar_4}},
        {0, {"--from", "2.3"}, {130 * 701 + 62 * 603 + 1, SONG_FRAMES, SONG_FRAMES}},
        {0, {"--from", "1:23.5", "--to", "2:10"}, {3682350, SONG_FRAMES, SONG_FRAMES}},
        {0, {"--from", "0:00.00003", "--to", "0:01"}, {1, 44100, 44100}},  // 1.3 frames, rounded down
        {64, {"--from", "0", "--to", "1"}, {1, 64 * 701 + 1, 64 * 701 + 1}},  // a pick-up of beats 3 and 4
        {64, {"--from", "0.4", "--to", "1.2"}, {32 * 701 + 1, 96 * 701 + 1, 96 * 701 + 1}},
    };
    for (const Case& c : cases) {
        RenderSpan span;
        ASSERT_EQ(span_of(hand_timeline(c.pickup), c.args, span), "") << c.args[1];
        EXPECT_EQ(std::tuple(span.first, span.end, span.earliest_end),
                  std::tuple(c.span.first, c.span.end, c.span.earliest_end))
            << c.args[1];
    }
}

// --to end: from the last closing hold on, up to 5 s of tail; to the render's end when a channel never holds.
TEST(Excerpt, ToEndAllowsFiveSecondsAfterTheLastHold)
{
    SongTimeline t = hand_timeline(0);
    t.channels[0] = {true, true, 64, true, 500, false, 0};
    t.channels[3] = {true, true, 64, true, 700, false, 0};
    RenderSpan span;
    ASSERT_EQ(span_of(t, {"--from", "3", "--to", "end"}, span), "");
    const uint32_t hold = 130 * 701 + 570 * 603 + 1;
    EXPECT_EQ(std::tuple(span.first, span.earliest_end, span.end),
              std::tuple(130 * 701 + 126 * 603 + 1, hold, hold + 5 * SAMPLE_RATE));
    t.channels[3].reached = false;
    ASSERT_EQ(span_of(t, {"--to", "end"}, span), "");
    EXPECT_EQ(std::tuple(span.first, span.earliest_end, span.end), std::tuple(0u, SONG_FRAMES, SONG_FRAMES));
}

TEST(Excerpt, PlacesBeyondTheRenderOrOutOfOrderAreUsageErrors)
{
    RenderSpan span;
    for (const auto& [pickup, args, message] :
         {std::tuple{0u, std::vector<std::string>{"--to", "64"},
                     "--to: bar 64 is beyond the render, which ends in bar 63.2 + 31 ticks"},
          {0u, {"--from", "63.3"}, "--from: bar 63.3 is beyond the render, which ends in bar 63.2 + 31 ticks"},
          {64u, {"--from", "0.2"}, "--from: bar 0.2 is before the pick-up, which begins at bar 0.3"},
          {0u, {"--from", "0.3"}, "--from: bar 0 is a pick-up, and this song has none"},
          {0u, {"--from", "2", "--to", "2"}, "--from 2 is not before --to 2"},
          {0u, {"--from", "2:10"}, "--from 2:10 is not before --to the render's end"}})
        EXPECT_EQ(span_of(hand_timeline(pickup), args, span), message) << args[1];
}

// Each 16-bit sample of --solo 3 is channel 3's share through the equaliser, times the whole song's factor,
// truncated; with --normalise self, times its own. A wrong peak, or a solo normalised to itself, shows in
// every sample.
TEST_F(SongRender, SoloIsTheChannelsShareAtTheSongsLevel)
{
    std::vector<float> share;
    std::vector<float> master = straightforward_master(3, &share);
    reference::master_equalise(default_sounds, master.data(), SAMPLES);
    reference::master_equalise(default_sounds, share.data(), SAMPLES);
    const float song_peak = master_peak_of(master.data(), SAMPLES), own_peak = master_peak_of(share.data(), SAMPLES);
    ASSERT_LT(own_peak, 0.5f * song_peak) << "channel 3 alone is quieter than the song";
    for (const auto& [level, peak] : {std::pair{"song", song_peak}, {"self", own_peak}}) {
        ASSERT_EQ(render("solo.wav", std::to_string(FRAMES), {"--solo", "3", "--normalise", level}), 0);
        std::vector<float> scaled = share;
        std::vector<int16_t> expected(SAMPLES);
        normalise_to_16_bits(scaled.data(), expected.data(), SAMPLES, peak);
        const std::vector<uint8_t> bytes = file_contents(dir / "solo.wav");
        ASSERT_EQ(bytes.size(), 44u + 2u * SAMPLES);
        EXPECT_EQ(std::memcmp(bytes.data() + 44, expected.data(), 2u * SAMPLES), 0) << level;
    }
}

TEST(RenderProgress, TimeLeftFollowsThePaceSoFar)
{
    for (const auto& [elapsed, fraction, text] : {std::tuple{0.1, 0.5, "--:-- left"}, {30.0, 0.005, "--:-- left"},
                                                  {10.0, 0.25, "0:30 left"}, {90.0, 0.5, "1:30 left"}, {12.0, 1.0, "0:00 left"}})
        EXPECT_EQ(time_left_text(elapsed, fraction), text) << elapsed << " s, " << fraction;
}

}  // namespace
