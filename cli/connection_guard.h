// How `sysmon serve` holds up against clients that are slow, idle or many:
// each connection is served on its own thread, so none waits behind another;
// at most a bounded number are served at once (more are closed at once); and
// a connection that has not delivered a complete request head within the
// head timeout of its opening (or of its previous response) is cut off, so a
// client that sends nothing, or a header a byte at a time, holds nothing for
// long.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <httplib.h>

namespace sysmon_cli {

struct GuardLimits {
  std::size_t max_connections = 64;
  std::chrono::milliseconds head_timeout{5000};     // for each request head
  std::chrono::milliseconds response_timeout{30000};  // for answering and sending it
};

// The server's task queue (httplib asks for one per listen). It learns the
// socket of each accepted connection as the newest connected socket on the
// listening port that it does not know yet.
class ConnectionGuard : public httplib::TaskQueue {
 public:
  ConnectionGuard(int listen_port, GuardLimits limits);
  ~ConnectionGuard() override;
  void enqueue(std::function<void()> fn) override;
  void shutdown() override;

  // Called on the thread serving a connection: a request head has arrived
  // (its answer gets the response timeout), the answer has been sent (the
  // next head gets the head timeout), or the request carried a body that is
  // not read: after the answer the rest is drained and the connection closed.
  static void request_started();
  static void request_finished();
  static void close_after_response();

  struct Connection;  // one accepted connection (connection_guard.cpp)

 private:
  int find_accepted_socket(unsigned long long &inode);
  void watch();

  int port_;
  GuardLimits limits_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<unsigned long long, std::shared_ptr<Connection>> live_;  // by socket inode
  std::size_t running_ = 0;
  bool stopping_ = false;
  std::thread watchdog_;
};

}  // namespace sysmon_cli
