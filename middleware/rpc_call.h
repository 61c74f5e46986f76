// One remote call as the request/reply client sees it: the requests written
// for it, one per attempt, and what it takes as its reply.
#pragma once

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include <fastdds/rtps/common/SampleIdentity.h>

namespace quiral {
namespace middleware2 {

// A server may name, with each reply, the request it answers (the reply's
// related sample identity). Such a reply answers the call that wrote that
// request, in any of its attempts, and no other call. A reply that names no
// request is judged by its content alone, by `answers`.
template <class Reply>
class RpcCall {
 public:
  using Identity = eprosima::fastrtps::rtps::SampleIdentity;

  // An empty `answers` takes every reply that names no request.
  explicit RpcCall(std::function<bool(const Reply&)> answers = nullptr)
      : answers_(std::move(answers)) {}

  // Notes a request written for this call.
  void Sent(const Identity& request) { sent_.push_back(request); }

  // Whether `reply`, naming the request `related` (unknown when it names
  // none), answers this call.
  bool Answered(const Identity& related, const Reply& reply) const {
    if (related != Identity::unknown()) {
      return std::find(sent_.begin(), sent_.end(), related) != sent_.end();
    }
    return !answers_ || answers_(reply);
  }

 private:
  std::vector<Identity> sent_;
  std::function<bool(const Reply&)> answers_;
};

}  // namespace middleware2
}  // namespace quiral
