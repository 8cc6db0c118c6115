// The sound device closed while nothing sounds (so no audio thread wakes at
// the main menu), and opened again by the next sound before that sound is
// queued. SDL's dummy driver, which keeps real time like a sound card.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "platform/audio_device.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

constexpr PcmFormat kF32Stereo48{kMixRate, 2, PcmEncoding::F32};

class DeviceSuspendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    audioClose();
    ASSERT_TRUE(audioOpen());
    setAudioSuspendDelay(150ms);
    setAudioObserver([this](const AudioBlockReport& r) {
      if (r.firstAudible >= 0) audible_.fetch_add(1);
    });
  }
  void TearDown() override {
    setAudioObserver(nullptr);
    for (auto& s : attached_) audioRemoveSource(s.get());
    setAudioSuspendDelay(3000ms);
    audioClose();
  }
  std::shared_ptr<PcmQueueSource> attach(bool background) {
    auto s = std::make_shared<PcmQueueSource>();
    s->setBackground(background);
    audioAddSource(s);
    attached_.push_back(s);
    return s;
  }
  // Queues `ms` milliseconds of a constant, audible sound.
  static void feed(PcmQueueSource& s, int ms) {
    std::vector<float> v(static_cast<size_t>(kMixRate) * ms / 1000 * 2, 0.25f);
    s.queue(v.data(), v.size() * sizeof(float), kF32Stereo48);
  }
  // Polls `done` every 2 ms for up to twenty seconds.
  template <typename Pred>
  static bool waitFor(Pred done) {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  std::atomic<int> audible_{0};
  std::vector<std::shared_ptr<PcmQueueSource>> attached_;
};

TEST_F(DeviceSuspendTest, SilenceClosesTheDeviceAndTheNextSoundOpensItFirst) {
  ASSERT_TRUE(waitFor([] { return audioSuspended(); }));
  // Closed for SDL, open for everybody else.
  EXPECT_TRUE(audioIsOpen());
  EXPECT_EQ(audioRate(), kMixRate);
  EXPECT_EQ(audioDeviceGeneration(), 0u);
  const int before = audible_.load();
  auto speech = attach(false);
  feed(*speech, 100);
  // Woken by the queueing itself, before the sound was queued.
  EXPECT_FALSE(audioSuspended());
  EXPECT_NE(audioDeviceGeneration(), 0u);
  EXPECT_TRUE(waitFor([&] { return audible_.load() > before && !speech->busy(); }));
  // Silent again: asleep again.
  EXPECT_TRUE(waitFor([] { return audioSuspended(); }));
  const AudioSwitchStats stats = audioSwitchStats();
  EXPECT_GE(stats.suspensions, 2);
  EXPECT_GE(stats.resumes, 1);
}

TEST_F(DeviceSuspendTest, APausedStreamLetsTheDeviceSleepAndResumingWakesIt) {
  auto stream = attach(true);
  stream->setPaused(true);
  feed(*stream, 300);
  ASSERT_TRUE(waitFor([] { return audioSuspended(); }));
  const int before = audible_.load();
  stream->setPaused(false);
  EXPECT_FALSE(audioSuspended());
  EXPECT_TRUE(waitFor([&] { return audible_.load() > before && !stream->busy(); }));
}

TEST_F(DeviceSuspendTest, ASoundingSourceKeepsTheDeviceAwake) {
  auto stream = attach(true);
  feed(*stream, 3000);
  // Four suspend delays in, most of the sound is still to come.
  std::this_thread::sleep_for(600ms);
  EXPECT_TRUE(stream->busy());
  EXPECT_FALSE(audioSuspended());
  EXPECT_EQ(audioSwitchStats().suspensions, 0);
}

TEST_F(DeviceSuspendTest, SoundsQueuedWhileTheKeeperSuspendsAreNeverLost) {
  // The keeper decides after a millisecond of silence: every queueing races a
  // suspension. A sound queued onto a closed device would never be played,
  // and its source would stay busy for ever.
  setAudioSuspendDelay(1ms);
  std::vector<std::shared_ptr<PcmQueueSource>> sources;
  for (int i = 0; i < 3; ++i) sources.push_back(attach(i == 2));
  std::vector<std::thread> producers;
  for (auto& source : sources) {
    producers.emplace_back([source] {
      std::mt19937 random(static_cast<unsigned>(reinterpret_cast<uintptr_t>(source.get())));
      for (int n = 0; n < 40; ++n) {
        feed(*source, 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 8));
      }
      audioThreadEnds();  // the queueing may have opened the device
    });
  }
  for (auto& t : producers) t.join();
  for (auto& source : sources) {
    EXPECT_TRUE(waitFor([&] { return !source->busy(); }));
    EXPECT_EQ(source->doneCount(), source->queuedCount());
  }
  const AudioSwitchStats stats = audioSwitchStats();
  std::printf("[ figure ] %d suspensions and %d resumes while three producers raced the keeper\n",
              stats.suspensions, stats.resumes);
}

}  // namespace
}  // namespace platform
