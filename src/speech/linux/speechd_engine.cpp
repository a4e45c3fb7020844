// The speech-dispatcher engine: the voice and rate the operator has set for
// the screen reader. Runs on the provider's worker thread only.
#include <libspeechd.h>

#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "speech/linux/spawned_server.h"
#include "speech/linux/worker_voice.h"
#include "speech/rate.h"

namespace rotavox {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a text may wait in the server's queue for its turn, while other
// programs (the screen reader) are talking, before the voice counts as
// lost. Orca's longest speech (its help) takes about 20 s.
constexpr milliseconds kQueuePatience{60000};
// While a text waits its turn, the server is asked this often whether it
// is still there, so that a server that died is noticed at once.
constexpr milliseconds kAliveInterval{1000};
// How long the server may take to answer that question.
constexpr milliseconds kAnswerLimit{2000};

// How far a message has come, as the server reports it.
enum class Stage { kQueued, kBegun, kEnded };

// libspeechd reports the start and the end of a message on its own thread
// through callbacks without user data, so the reports are collected here by
// message id. A report can arrive before spd_say has even returned the id.
class MessageEvents {
 public:
  static MessageEvents& Get() {
    // Never destroyed: a callback may still arrive while the process exits.
    static MessageEvents* const instance = new MessageEvents;
    return *instance;
  }

  static void OnEvent(size_t message, size_t /*client*/, SPDNotificationType type) {
    MessageEvents& self = Get();
    std::lock_guard lock(self.mutex_);
    // A message cancelled by someone else (an important message of another
    // program, the screen reader's stop key) is finished too.
    const Stage stage = type == SPD_EVENT_BEGIN ? Stage::kBegun : Stage::kEnded;
    Stage& known = self.stages_[message];
    if (stage > known) known = stage;
    // Reports of messages nobody follows any more must not pile up.
    while (self.stages_.size() > 256) self.stages_.erase(self.stages_.begin());
    self.changed_.notify_all();
  }

  // Waits up to `limit` for `message` to reach `wanted`; returns how far it
  // has come.
  Stage WaitFor(size_t message, Stage wanted, milliseconds limit) {
    std::unique_lock lock(mutex_);
    Stage stage = Stage::kQueued;
    changed_.wait_for(lock, limit, [&] {
      const auto it = stages_.find(message);
      stage = it == stages_.end() ? Stage::kQueued : it->second;
      return stage >= wanted;
    });
    return stage;
  }

  void Forget(size_t message) {
    std::lock_guard lock(mutex_);
    stages_.erase(message);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<size_t, Stage> stages_;
};

// An utterance that makes no sound. A server without a working audio output
// starts it but never ends it.
constexpr char kSilence[] = "<speak><break time=\"50ms\"/></speak>";

// The socket a connection without an address goes to, when it is a local
// one; empty otherwise.
std::string DefaultSocket() {
  char* error = nullptr;
  SPDConnectionAddress* address = spd_get_default_address(&error);
  std::free(error);
  std::string path;
  if (address && address->method == SPD_METHOD_UNIX_SOCKET && address->unix_socket_name) {
    path = address->unix_socket_name;
  }
  if (address) SPDConnectionAddress__free(address);
  return path;
}

SPDConnection* Connect(int autospawn) {
  char* error = nullptr;
  SPDConnection* connection = spd_open2("rotavox", "main", nullptr, SPD_MODE_THREADED, nullptr, autospawn, &error);
  std::free(error);
  return connection;
}

class SpeechdEngine : public SpeechEngine {
 public:
  explicit SpeechdEngine(std::optional<int> rate) : rate_(rate) {}
  ~SpeechdEngine() override {
    Close();
    // A server started for us is not left behind; one on which a text of
    // ours never ended does not heed SIGTERM any more.
    StopSpawnedSpeechServers(stuck_);
  }

  bool Open() override {
    if (connection_) return true;
    // A server that is running already is someone else's (or one this
    // engine started before). Only when there is none may libspeechd start
    // one, which is then ours to stop.
    connection_ = Connect(0);
    if (!connection_) {
      const unsigned long long before = TicksSinceBoot();
      connection_ = Connect(1);
      if (!connection_) return false;
      NoteSpawnedSpeechServer(DefaultSocket(), before);
    }
    connection_->callback_begin = &MessageEvents::OnEvent;
    connection_->callback_end = &MessageEvents::OnEvent;
    connection_->callback_cancel = &MessageEvents::OnEvent;
    if (spd_set_notification_on(connection_, SPD_BEGIN) != 0 ||
        spd_set_notification_on(connection_, SPD_END) != 0 ||
        spd_set_notification_on(connection_, SPD_CANCEL) != 0) {
      Close();
      return false;
    }
    // A rate the server will not take leaves the voice at its own, as
    // SAPI does: the operator still hears everything.
    if (rate_) spd_set_voice_rate(connection_, SpeechdRate(*rate_));
    return true;
  }

  VoiceResult Say(const std::string& utf8, milliseconds limit, DeadlineWorker::Deadline& deadline) override {
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
    return Follow(static_cast<size_t>(message), limit, deadline) ? VoiceResult::kDone : VoiceResult::kLost;
  }

  bool Check(milliseconds limit, DeadlineWorker::Deadline& deadline) override {
    if (!Open()) return false;
    int message = -1;
    if (spd_set_data_mode(connection_, SPD_DATA_SSML) == 0) {
      message = spd_say(connection_, SPD_MESSAGE, kSilence);
      spd_set_data_mode(connection_, SPD_DATA_TEXT);
    }
    if (message >= 0) return Follow(static_cast<size_t>(message), limit, deadline);
    Close();
    return false;
  }

 private:
  // Follows a queued message to its end. The time it waits for its turn
  // behind other programs' speech does not count against `limit`, which
  // starts when the server reports that the message has begun. On false
  // the message has been cancelled and the connection closed, so that a
  // server stuck on it leaves the next text a fresh chance.
  bool Follow(size_t message, milliseconds limit, DeadlineWorker::Deadline& deadline) {
    MessageEvents& events = MessageEvents::Get();
    const Clock::time_point giveUp = Clock::now() + kQueuePatience;
    Stage stage = Stage::kQueued;
    for (;;) {
      deadline.Reset(giveUp - Clock::now() + kCallerMargin);
      stage = events.WaitFor(message, Stage::kBegun, kAliveInterval);
      if (stage != Stage::kQueued || Clock::now() >= giveUp) break;
      // A live server answers at once, even while it speaks for another
      // program; one that does not is stuck, and costs no more than this.
      deadline.Reset(kAnswerLimit + kCallerMargin);
      if (!ServerAnswers()) break;
    }
    if (stage == Stage::kBegun) {
      deadline.Reset(limit + kCallerMargin);
      stage = events.WaitFor(message, Stage::kEnded, limit);
    }
    events.Forget(message);
    if (stage == Stage::kEnded) return true;
    stuck_ = true;
    spd_cancel(connection_);
    Close();
    return false;
  }

  // True when the server answers a question: it is alive, merely busy
  // with another program's speech. The question asked is one whose answer
  // is only a status code: on a connection the server has dropped,
  // libspeechd answers such questions with an error, while questions with
  // a value in the answer are not safe to ask there.
  bool ServerAnswers() { return spd_set_notification_on(connection_, SPD_BEGIN) == 0; }

  void Close() {
    if (connection_) spd_close(connection_);
    connection_ = nullptr;
  }

  std::optional<int> rate_;
  SPDConnection* connection_ = nullptr;
  bool stuck_ = false;  // a text of ours did not end on the server
};

}  // namespace

std::unique_ptr<SpeechEngine> MakeSpeechdEngine(std::optional<int> rate) {
  return std::make_unique<SpeechdEngine>(rate);
}

}  // namespace rotavox
