// Turns on a request/reply link that carries one attempt of one call at a
// time. An urgent call (a stop) is served before every attempt of an
// ordinary call that is not on the wire yet: it waits at most for the one
// attempt in progress, never for the further attempts of a call that is
// retrying. An ordinary call may be abandoned between its attempts.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace quiral::vek_impl {

// How a call takes its turns.
struct CallTurn {
  // Served before every ordinary attempt that is not on the wire yet.
  bool urgent = false;
  // Asked before each attempt, with the link's lock held (so it must only
  // read, say an atomic): true ends the call there, with nothing sent.
  std::function<bool()> abandoned;
};

class LinkTurns {
 public:
  // Waits for the link and takes it; false, without taking it, when
  // `turn.abandoned` says so once the turn has come.
  bool Take(const CallTurn& turn) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (turn.urgent) ++urgent_waiting_;
    free_.wait(lock, [&] { return !busy_ && (turn.urgent || urgent_waiting_ == 0); });
    if (turn.urgent) --urgent_waiting_;
    if (turn.abandoned && turn.abandoned()) {
      free_.notify_all();  // an ordinary call may now go
      return false;
    }
    busy_ = true;
    return true;
  }

  void Give() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      busy_ = false;
    }
    free_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable free_;
  bool busy_ = false;
  int urgent_waiting_ = 0;
};

}  // namespace quiral::vek_impl
