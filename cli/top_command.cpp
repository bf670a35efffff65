#include "top_command.h"

#include <curses.h>
#include <langinfo.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstring>
#include <stdexcept>
#include <string>

#include <vantorel/sysmon.h>

#include "top_state.h"

namespace sysmon_cli {
namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stop = 0;

void on_stop_signal(int) { g_stop = 1; }

// Owns the curses screen: the terminal is restored however the view ends
// (q, a signal, an exception).
class Screen {
 public:
  Screen() {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
      throw std::runtime_error("top needs a terminal");
    }
    screen_ = newterm(nullptr, stdout, stdin);
    if (screen_ == nullptr) throw std::runtime_error("cannot use this terminal (check TERM)");
    set_term(screen_);
    cbreak();  // Ctrl-C still raises SIGINT
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    // Short waits for keys: stop signals and refreshes are seen promptly.
    timeout(100);
  }
  ~Screen() {
    endwin();
    delscreen(screen_);
  }
  Screen(const Screen &) = delete;
  Screen &operator=(const Screen &) = delete;

 private:
  SCREEN *screen_ = nullptr;
};

class SignalGuard {
 public:
  SignalGuard() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
  }
  ~SignalGuard() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
  }

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

std::vector<double> history(int metric, int count) {
  auto doc = nlohmann::json::parse(sysmon_history(metric, count), nullptr, false);
  std::vector<double> values;
  if (!doc.is_array()) return values;
  for (const auto &v : doc) values.push_back(v.is_number() ? v.get<double>() : 0.0);
  return values;
}

void read_processes(TopState &state) {
  const char *text = state.tree ? sysmon_process_tree(0) : sysmon_processes(0, state.sort);
  auto doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_discarded()) throw std::runtime_error("the library returned a process document that does not parse");
  state.rows = state.tree ? rows_from_tree(doc) : rows_from_list(doc);
}

void refresh_figures(TopState &state) {
  // The snapshot records the history samples the sparklines are drawn from.
  auto snap = nlohmann::json::parse(sysmon_snapshot(), nullptr, false);
  if (snap.is_discarded()) throw std::runtime_error("the library returned a snapshot that does not parse");
  state.snapshot = std::move(snap);
  const int count = std::max(COLS, 1);
  state.cpu_history = history(SYSMON_METRIC_CPU, count);
  state.net_down_history = history(SYSMON_METRIC_NET_DOWN, count);
  state.net_up_history = history(SYSMON_METRIC_NET_UP, count);
  state.disk_read_history = history(SYSMON_METRIC_DISK_READ, count);
  state.disk_write_history = history(SYSMON_METRIC_DISK_WRITE, count);
  read_processes(state);
}

// Reads one key, giving up (ERR) when a stop signal arrived.
int wait_key() {
  for (;;) {
    if (g_stop) return ERR;
    const int ch = getch();
    if (ch != ERR) return ch;
  }
}

// A line typed on the bottom row; false when Esc cancels it.
bool prompt_line(const std::string &prompt, std::string &text) {
  curs_set(1);
  bool accepted = false;
  for (;;) {
    draw_prompt(prompt + text);
    const int ch = wait_key();
    if (ch == ERR || ch == 27) break;
    if (ch == '\n' || ch == '\r' || ch == KEY_ENTER) {
      accepted = true;
      break;
    }
    if (ch == KEY_BACKSPACE || ch == 127 || ch == 8) {
      if (!text.empty()) text.pop_back();
    } else if (ch >= 32 && ch < 127 && text.size() < 127) {
      text.push_back(static_cast<char>(ch));
    }
  }
  curs_set(0);
  return accepted;
}

void kill_selected(TopState &state) {
  if (state.rows.empty()) return;
  const ProcessRow &row = state.rows[state.selected];
  draw_prompt("End process " + std::to_string(row.pid) + " (" + row.name + ")? [y/N] ");
  const int ch = wait_key();
  if (ch != 'y' && ch != 'Y') {
    state.message = "not ended";
    return;
  }
  if (sysmon_kill_process(static_cast<int32_t>(row.pid)) == 0) {
    state.message = "ended " + std::to_string(row.pid);
  } else {
    state.message = std::string("kill failed: ") + sysmon_last_error();
  }
}

}  // namespace

int run_top(const TopOptions &options) {
  std::setlocale(LC_ALL, "");
  TopState state;
  state.unicode = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  g_stop = 0;
  sysmon_set_interval(options.interval_ms);
  sysmon_init();

  {
    SignalGuard signals;
    Screen screen;
    const auto interval = std::chrono::milliseconds(options.interval_ms);
    // The first collection (sysmon_init) needs one interval before its rates mean anything.
    auto next_refresh = Clock::now() + std::min(interval, std::chrono::milliseconds(300));
    draw_top(state);
    while (!g_stop) {
      if (Clock::now() >= next_refresh) {
        refresh_figures(state);
        draw_top(state);
        next_refresh = Clock::now() + interval;
      }
      const int ch = getch();
      if (ch == ERR) continue;
      state.message.clear();
      bool reread = false;
      switch (ch) {
        case 'q': case 'Q': g_stop = 1; break;
        case 'c': state.sort = SYSMON_SORT_CPU; state.tree = false; reread = true; break;
        case 'm': state.sort = SYSMON_SORT_MEMORY; state.tree = false; reread = true; break;
        case 'p': state.sort = SYSMON_SORT_PID; state.tree = false; reread = true; break;
        case 'n': state.sort = SYSMON_SORT_NAME; state.tree = false; reread = true; break;
        case 't': state.tree = !state.tree; reread = true; break;
        case '/': {
          std::string text = state.filter;
          if (prompt_line("Filter (Enter applies, empty clears, Esc cancels): ", text)) {
            state.filter = text;
            sysmon_set_process_filter(text.c_str());
            reread = true;
          }
          break;
        }
        case 'k': kill_selected(state); reread = true; break;
        case KEY_UP: if (state.selected > 0) --state.selected; break;
        case KEY_DOWN: ++state.selected; break;
        case KEY_PPAGE: state.selected -= std::min<std::size_t>(state.selected, 10); break;
        case KEY_NPAGE: state.selected += 10; break;
        case KEY_HOME: state.selected = 0; break;
        case KEY_RESIZE: break;
        default: break;
      }
      if (ch == KEY_UP || ch == KEY_DOWN || ch == KEY_PPAGE || ch == KEY_NPAGE || ch == KEY_HOME) {
        state.selected_pid = 0;
        if (state.selected >= state.rows.size() && !state.rows.empty()) state.selected = state.rows.size() - 1;
        if (!state.rows.empty()) state.selected_pid = state.rows[state.selected].pid;
      }
      if (g_stop) break;
      if (ch == 'c' || ch == 'm' || ch == 'p' || ch == 'n' || ch == 't' || ch == '/') {
        // A new order starts at the top of the table.
        state.selected = state.first_row = 0;
        state.selected_pid = 0;
      }
      if (reread) {
        if (state.snapshot.is_null()) {
          refresh_figures(state);
          next_refresh = Clock::now() + interval;
        } else {
          read_processes(state);
        }
      }
      draw_top(state);
    }
  }
  sysmon_cleanup();
  return 0;
}

}  // namespace sysmon_cli
