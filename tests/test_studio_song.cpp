// The studio's background mixer: a newer text stops the mix it is making.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "studio_song.h"
#include "tests/file_contents.h"

namespace {

FullMix::State state_of(StudioText& text)
{
    std::lock_guard lock(text.mutex);
    return text.full_mix.state;
}

// A mix takes a second here, a minute under the sanitizers.
bool waited_for(StudioText& text, FullMix::State state)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (state_of(text) != state)
        if (std::chrono::steady_clock::now() > deadline) return false;
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

TEST(StudioMixer, ANewerTextStopsTheMixOfTheOlderOne)
{
    StudioSong song;
    song.path = "song.txt";
    studio_start(song);
    const std::string source = file_contents<std::string>(SONGRENDER_TEST_SONGS "/../../data/song.txt");
    const auto older = studio_text(song, source);
    const auto newer = studio_text(song, source + "\n; an edit\n");
    ASSERT_TRUE(older->valid && newer->valid);

    studio_prepare(song, older);
    EXPECT_TRUE(waited_for(*older, FullMix::State::running));
    studio_prepare(song, newer);
    EXPECT_TRUE(waited_for(*newer, FullMix::State::ready));
    EXPECT_EQ(state_of(*older), FullMix::State::none) << "the older mix ran to its end";
    studio_stop(song);
}

}  // namespace
