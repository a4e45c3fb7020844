// The speech-dispatcher engine: the voice and rate the operator has set for
// the screen reader. Runs on the provider's worker thread only.
#include <libspeechd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "speech/linux/worker_voice.h"

namespace rotavox {
namespace {

// libspeechd reports the end of a message on its own thread through a
// callback without user data, so ends are collected here by message id.
// An end can arrive before spd_say has even returned the id.
class FinishedMessages {
 public:
  static FinishedMessages& Get() {
    // Never destroyed: a callback may still arrive while the process exits.
    static FinishedMessages* const instance = new FinishedMessages;
    return *instance;
  }

  static void OnFinished(size_t message, size_t /*client*/, SPDNotificationType /*type*/) {
    FinishedMessages& self = Get();
    std::lock_guard lock(self.mutex_);
    self.ids_.push_back(message);
    // Ends of messages nobody waits for any more must not pile up.
    if (self.ids_.size() > 256) self.ids_.pop_front();
    self.changed_.notify_all();
  }

  // Takes the end of `message`; false when it did not come within `limit`.
  bool WaitFor(size_t message, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    const bool found = changed_.wait_for(lock, limit, [&] {
      return std::find(ids_.begin(), ids_.end(), message) != ids_.end();
    });
    if (found) ids_.erase(std::find(ids_.begin(), ids_.end(), message));
    return found;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<size_t> ids_;
};

// An utterance that makes no sound. A server without a working audio output
// starts it but never ends it.
constexpr char kSilence[] = "<speak><break time=\"50ms\"/></speak>";

class SpeechdEngine : public SpeechEngine {
 public:
  ~SpeechdEngine() override { Close(); }

  bool Open() override {
    if (connection_) return true;
    char* error = nullptr;
    connection_ = spd_open2("rotavox", "main", nullptr, SPD_MODE_THREADED, nullptr, 1, &error);
    std::free(error);
    if (!connection_) return false;
    connection_->callback_end = &FinishedMessages::OnFinished;
    // A message cancelled by someone else (the screen reader) is finished too.
    connection_->callback_cancel = &FinishedMessages::OnFinished;
    if (spd_set_notification_on(connection_, SPD_END) != 0 ||
        spd_set_notification_on(connection_, SPD_CANCEL) != 0) {
      Close();
      return false;
    }
    return true;
  }

  VoiceResult Say(const std::string& utf8, std::chrono::milliseconds limit) override {
    int message = spd_say(connection_, SPD_MESSAGE, utf8.c_str());
    if (message < 0) {
      // The server went away (restarted, idle exit): one fresh connection.
      Close();
      if (!Open()) return VoiceResult::kLost;
      message = spd_say(connection_, SPD_MESSAGE, utf8.c_str());
      if (message < 0) {
        Close();
        return VoiceResult::kLost;
      }
    }
    if (FinishedMessages::Get().WaitFor(static_cast<size_t>(message), limit)) return VoiceResult::kDone;
    // The server is stuck on it; a new connection gets the next chance.
    spd_cancel(connection_);
    Close();
    return VoiceResult::kLost;
  }

  bool Check(std::chrono::milliseconds limit) override {
    if (!Open()) return false;
    int message = -1;
    if (spd_set_data_mode(connection_, SPD_DATA_SSML) == 0) {
      message = spd_say(connection_, SPD_MESSAGE, kSilence);
      spd_set_data_mode(connection_, SPD_DATA_TEXT);
    }
    if (message >= 0 && FinishedMessages::Get().WaitFor(static_cast<size_t>(message), limit)) return true;
    if (message >= 0) spd_cancel(connection_);
    Close();
    return false;
  }

 private:
  void Close() {
    if (connection_) spd_close(connection_);
    connection_ = nullptr;
  }

  SPDConnection* connection_ = nullptr;
};

}  // namespace

std::unique_ptr<SpeechEngine> MakeSpeechdEngine() { return std::make_unique<SpeechdEngine>(); }

}  // namespace rotavox
