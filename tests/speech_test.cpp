// Speaking: the wording of bearings and the rules of Speak.
#include <gtest/gtest.h>

#include <climits>

#include "fakes.h"
#include "speech/bearing_words.h"
#include "speech/rate.h"
#include "speech/speak.h"

namespace rotavox::testing {
namespace {

// A bearing is spoken as characters 3 to 5 of the number text of
// 1000 + bearing, each followed by a blank; 0 is the word "ZERO".
TEST(BearingWords, SpeaksThreeDigitsEachFollowedByABlank) {
  const struct {
    std::int32_t bearing;
    const char* words;
  } cases[] = {
      {0, "ZERO"},         {1, "0 0 1 "},       {5, "0 0 5 "},   {45, "0 4 5 "},
      {90, "0 9 0 "},      {100, "1 0 0 "},     {180, "1 8 0 "}, {270, "2 7 0 "},
      {360, "3 6 0 "},     {999, "9 9 9 "},     {1000, "0 0 0 "},  // " 2000"
      {-5, "9 5  "},       // " 995": no fifth character, only its blank
      {-1000, "   "},      // " 0": nothing from position 3 on
      {-2000, "0 0 0 "},   // "-1000"
      {INT32_MAX, "1 4 7 "},  // " 2147484647", worked out in 64 bits
      {INT32_MIN, "1 4 7 "},  // "-2147482648"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bearing);
    EXPECT_EQ(BearingWords(c.bearing), c.words);
  }
}

TEST(BearingWords, LeadInsReadNaturally) {
  EXPECT_EQ("Bearing is " + BearingWords(45), "Bearing is 0 4 5 ");
}

// Every step of --rate is a speed of its own for espeak-ng: from 80 words
// a minute at the slowest through its default of 175 to 450 at the
// fastest, the limits espeak-ng takes.
TEST(Rate, EverySpeakingRateIsASpeedOfItsOwn) {
  EXPECT_EQ(EspeakWordsPerMinute(kSlowestRate), 80);
  EXPECT_EQ(EspeakWordsPerMinute(0), 175);
  EXPECT_EQ(EspeakWordsPerMinute(kFastestRate), 450);
  for (int rate = kSlowestRate; rate < kFastestRate; ++rate) {
    EXPECT_LT(EspeakWordsPerMinute(rate), EspeakWordsPerMinute(rate + 1)) << rate;
  }
}

struct SpeakTest : ::testing::Test {
  Rig rig;
  void SetUp() override {
    rig.state.VoiceOn = 1;
    rig.dialog.Create(rig.state);
  }
};

TEST_F(SpeakTest, SilentWhileVoiceIsOffAndTouchesNothing) {
  rig.state.VoiceOn = 0;
  rig.dialog.controls[kVoiceCheck].check = 1;
  Speak(rig.context, "Started");
  EXPECT_EQ(rig.voices.created, 0);
  EXPECT_TRUE(rig.log.empty());
  EXPECT_EQ(rig.dialog.controls[kVoiceCheck].check, 1);
}

TEST_F(SpeakTest, EachCallTakesAFreshVoiceWaitsAndDropsIt) {
  Speak(rig.context, "Voice On.");
  Speak(rig.context, "");  // an empty text still goes to the voice
  EXPECT_EQ(rig.voices.created, 2);
  EXPECT_EQ(rig.voices.waits, 2);
  EXPECT_EQ(rig.voices.alive, 0);
  EXPECT_EQ(rig.Said(), (std::vector<std::string>{"Voice On.", ""}));
}

TEST_F(SpeakTest, NoVoiceTellsOnceAndSwitchesSpeechOff) {
  rig.voices.available = false;
  rig.dialog.controls[kVoiceCheck].check = 1;
  Speak(rig.context, "Started");
  Speak(rig.context, "Goodbye");
  EXPECT_EQ(rig.Boxes(), std::vector<std::string>{"Sorry no voice available|Windows Voice"});
  EXPECT_EQ(rig.state.VoiceOn, 0);
  EXPECT_EQ(rig.dialog.controls[kVoiceCheck].check, 0);
}

TEST_F(SpeakTest, SpeechStaysOnWhileTheNoVoiceBoxIsOpen) {
  rig.voices.available = false;
  std::int32_t voiceWhileOpen = -1;
  rig.desktop.whileBoxOpen = [&] { voiceWhileOpen = rig.state.VoiceOn; };
  Speak(rig.context, "Started");
  EXPECT_EQ(voiceWhileOpen, 1);
  EXPECT_EQ(rig.state.VoiceOn, 0);
}

// Which voice results switch speech off: a failing call is carried on past
// (the wait still runs), a lost voice is the same as no voice.
TEST_F(SpeakTest, OnlyALostVoiceSwitchesSpeechOff) {
  const struct {
    const char* name;
    VoiceResult speak;
    VoiceResult wait;
    int waits;
    bool switchedOff;
  } cases[] = {
      {"speak fails", VoiceResult::kCallFailed, VoiceResult::kDone, 1, false},
      {"wait fails", VoiceResult::kDone, VoiceResult::kCallFailed, 1, false},
      {"lost while speaking", VoiceResult::kLost, VoiceResult::kDone, 0, true},
      {"lost while waiting", VoiceResult::kDone, VoiceResult::kLost, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.state.VoiceOn = 1;
    r.dialog.Create(r.state);
    r.voices.speakResult = c.speak;
    r.voices.waitResult = c.wait;
    Speak(r.context, "Started");
    EXPECT_EQ(r.voices.waits, c.waits);
    EXPECT_EQ(r.voices.alive, 0);
    EXPECT_EQ(r.state.VoiceOn, c.switchedOff ? 0 : 1);
    EXPECT_EQ(r.Boxes().size(), c.switchedOff ? 1u : 0u);
  }
}

}  // namespace
}  // namespace rotavox::testing
