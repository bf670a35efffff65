#include "connection_guard.h"

#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <system_error>

namespace sysmon_cli {

using Clock = std::chrono::steady_clock;

struct ConnectionGuard::Connection {
  ConnectionGuard *guard = nullptr;
  int fd = -1;  // -1: not found, so not watched
  unsigned long long inode = 0;
  Clock::time_point deadline;
  bool cut = false;
  std::atomic<bool> drain{false};
};

namespace {

thread_local ConnectionGuard::Connection *t_connection = nullptr;

int port_of(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0) return -1;
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in &>(address).sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6 &>(address).sin6_port);
  return -1;
}

bool same_socket(int fd, unsigned long long inode) {
  struct stat st{};
  return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) && st.st_ino == inode;
}

// Reads and drops what the client still sends (at most 16 MiB, for at most
// two seconds) so that closing does not reset the connection before the
// client has read the answer.
void drain(int fd) {
  char buffer[16384];
  std::size_t total = 0;
  const auto until = Clock::now() + std::chrono::seconds(2);
  while (total < (16u << 20) && Clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) break;
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
}

}  // namespace

ConnectionGuard::ConnectionGuard(int listen_port, GuardLimits limits)
    : port_(listen_port), limits_(limits), watchdog_([this] { watch(); }) {}

ConnectionGuard::~ConnectionGuard() { shutdown(); }

int ConnectionGuard::find_accepted_socket(unsigned long long &inode) {
  DIR *dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int found = -1;
  while (dirent *entry = readdir(dir)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    const int fd = std::atoi(entry->d_name);
    struct stat st{};
    if (fd == dirfd(dir) || fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    if (live_.count(st.st_ino) != 0) continue;
    int listening = 0;
    socklen_t size = sizeof listening;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || listening) continue;
    if (port_of(fd) != port_) continue;
    found = fd;
    inode = st.st_ino;
    break;
  }
  closedir(dir);
  return found;
}

void ConnectionGuard::enqueue(std::function<void()> fn) {
  auto connection = std::make_shared<Connection>();
  connection->guard = this;
  bool refused = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connection->fd = find_accepted_socket(connection->inode);
    connection->deadline = Clock::now() + limits_.head_timeout;
    if (connection->fd >= 0) live_[connection->inode] = connection;
    refused = stopping_ || running_ >= limits_.max_connections;
    if (!refused) ++running_;
  }
  if (!refused) {
    try {
      std::thread([this, connection, fn] {
        t_connection = connection.get();
        fn();
        t_connection = nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        if (connection->fd >= 0) live_.erase(connection->inode);
        --running_;
        changed_.notify_all();
      }).detach();
      return;
    } catch (const std::system_error &) {
      std::lock_guard<std::mutex> lock(mutex_);
      --running_;  // no thread to be had: refused like one over the bound
    }
  }
  // Served at once, on this thread, with nothing to read: the connection
  // ends without holding anything.
  if (connection->fd >= 0) ::shutdown(connection->fd, SHUT_RDWR);
  fn();
  std::lock_guard<std::mutex> lock(mutex_);
  live_.erase(connection->inode);
}

void ConnectionGuard::shutdown() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!stopping_) {
    stopping_ = true;
    // Idle keep-alive connections end now instead of at their timeout.
    for (auto &[inode, c] : live_) {
      if (same_socket(c->fd, inode)) ::shutdown(c->fd, SHUT_RDWR);
    }
  }
  changed_.notify_all();
  changed_.wait(lock, [&] { return running_ == 0; });
  lock.unlock();
  if (watchdog_.joinable()) watchdog_.join();
}

void ConnectionGuard::watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    changed_.wait_for(lock, std::chrono::milliseconds(100));
    const auto now = Clock::now();
    for (auto &[inode, c] : live_) {
      if (c->cut || now < c->deadline) continue;
      c->cut = true;
      // The socket is still the connection's (it leaves live_ only after
      // it is closed, and its inode is checked): cutting it ends the
      // connection's reads and writes, and its thread closes it.
      if (same_socket(c->fd, inode)) ::shutdown(c->fd, SHUT_RDWR);
    }
  }
}

void ConnectionGuard::request_started() {
  Connection *c = t_connection;
  if (c == nullptr) return;
  std::lock_guard<std::mutex> lock(c->guard->mutex_);
  c->deadline = Clock::now() + c->guard->limits_.response_timeout;
}

void ConnectionGuard::request_finished() {
  Connection *c = t_connection;
  if (c == nullptr) return;
  if (c->drain.exchange(false) && c->fd >= 0) {
    // Nothing more will be answered: the client sees the end of the
    // answer, what it still sends is dropped, and the next read ends.
    ::shutdown(c->fd, SHUT_WR);
    drain(c->fd);
    ::shutdown(c->fd, SHUT_RD);
  }
  std::lock_guard<std::mutex> lock(c->guard->mutex_);
  c->deadline = Clock::now() + c->guard->limits_.head_timeout;
}

void ConnectionGuard::close_after_response() {
  if (t_connection != nullptr) t_connection->drain = true;
}

}  // namespace sysmon_cli
