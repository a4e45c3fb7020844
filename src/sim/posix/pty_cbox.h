// The simulated C BOX behind a pseudo-terminal: the controller opens the
// slave side (e.g. /dev/pts/7) as if it were the box's serial port.
//
// A thread of its own reads what the controller writes, feeds it to a
// CBoxModel, lets the model's time run with the clock and writes its
// answers back. The controller may close and reopen the slave as often as
// it likes; bytes the box sends while nobody has the slave open are lost,
// as on a real serial line.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "cbox_model.h"

namespace rotavox::sim {

class PtyCBox {
 public:
  // Opens the pseudo-terminal and starts the box. Throws std::system_error
  // when the terminal cannot be set up.
  explicit PtyCBox(const CBoxOptions& options = {},
                   std::chrono::milliseconds tick = std::chrono::milliseconds(10));
  // Stops the thread and closes the terminal.
  ~PtyCBox();
  PtyCBox(const PtyCBox&) = delete;
  PtyCBox& operator=(const PtyCBox&) = delete;

  const std::string& SlavePath() const { return slavePath_; }

 private:
  void Run();
  void WatchOpens();
  void CloseAll();

  CBoxModel model_;  // used by the thread only, once it runs
  std::chrono::milliseconds tick_;
  std::string slavePath_;
  int master_ = -1;
  int slave_ = -1;    // our own hold on the slave side
  int watch_ = -1;    // inotify: the controller opening and closing the slave
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace rotavox::sim
