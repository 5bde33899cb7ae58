// Running the conversions: worker threads that each take one file at a time, largest first,
// the interrupt that stops them on file boundaries, the progress line and the CSV report.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

#include "amrdec/amrnb_file.h"
#include "batch/batch.h"
#include "container/platform.h"

namespace batch {

namespace {

// The first interrupt asks the workers to stop after their current files; the handler then
// steps aside, so that a second one ends the program at once (outputs still under their
// temporary names, which a rerun overwrites).
std::atomic<int> g_interrupt{0};

extern "C" void OnBatchInterrupt(int signal_number) {
  g_interrupt.store(signal_number);
  std::signal(signal_number, SIG_DFL);
}

void InstallInterruptHandlers() {
  std::signal(SIGINT, OnBatchInterrupt);
  std::signal(SIGTERM, OnBatchInterrupt);
#if defined(SIGHUP)
  std::signal(SIGHUP, OnBatchInterrupt);
#endif
}

// amrconv's messages begin with line breaks and may hold several; a list wants one line.
std::string OneLine(const char* text) {
  std::string line;
  for (const char* c = text; *c != '\0'; ++c) {
    const char ch = (*c == '\n' || *c == '\r') ? ' ' : *c;
    if (ch == ' ' && (line.empty() || line.back() == ' ')) continue;
    line += ch;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string Clock(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

// Counts shared by the workers and the progress reporter, under one lock.
struct Progress {
  std::mutex lock;
  std::condition_variable changed;
  size_t total = 0;
  size_t done = 0;
  uintmax_t total_bytes = 0;
  uintmax_t done_bytes = 0;
  double audio_seconds = 0;
  int running = 0;
  size_t line_width = 0;  // of the progress line now on the terminal
};

class Runner {
 public:
  Runner(std::vector<Task>* tasks, const Options& options)
      : tasks_(*tasks), options_(options), terminal_(!options.quiet && IsTerminal(stderr)) {}

  bool Run(int jobs, int* signal_number) {
    for (size_t i = 0; i < tasks_.size(); ++i) {
      if (tasks_[i].outcome != Outcome::kPending) continue;
      order_.push_back(i);
      progress_.total_bytes += tasks_[i].bytes;
    }
    // Largest first: a long recording starts at once instead of holding up the end of the
    // run alone, and the small files fill the gaps around it.
    std::stable_sort(order_.begin(), order_.end(),
                     [this](size_t a, size_t b) { return tasks_[a].bytes > tasks_[b].bytes; });
    progress_.total = order_.size();
    start_ = std::chrono::steady_clock::now();

    InstallInterruptHandlers();
    jobs = std::max(1, std::min<int>(jobs, static_cast<int>(std::max<size_t>(order_.size(), 1))));
    progress_.running = jobs;
    std::vector<std::thread> workers;
    for (int i = 0; i < jobs; ++i) workers.emplace_back([this] { Work(); });
    Report();
    for (std::thread& worker : workers) worker.join();

    for (size_t i : order_) {
      if (tasks_[i].outcome == Outcome::kPending) tasks_[i].outcome = Outcome::kNotStarted;
    }
    *signal_number = g_interrupt.load();
    return *signal_number == 0;
  }

 private:
  void Work() {
    const int event_type = options_.amr_output ? 2 : 1;
    for (;;) {
      const size_t next = next_.fetch_add(1);
      if (next >= order_.size() || g_interrupt.load() != 0) break;
      Convert(&tasks_[order_[next]], event_type);
      std::lock_guard<std::mutex> hold(progress_.lock);
      ++progress_.done;
      progress_.done_bytes += tasks_[order_[next]].bytes;
      progress_.audio_seconds += tasks_[order_[next]].seconds;
      const Task& task = tasks_[order_[next]];
      if (task.outcome == Outcome::kFailed || !task.message.empty()) PrintFailure(task);
    }
    std::lock_guard<std::mutex> hold(progress_.lock);
    --progress_.running;
    progress_.changed.notify_all();
  }

  // One file: converted under its temporary name, which becomes the final name only once the
  // conversion has succeeded; a failed conversion leaves nothing behind.
  static void Convert(Task* task, int event_type) {
    std::error_code error;
    fs::create_directories(task->destination.parent_path(), error);
    if (error && !fs::is_directory(task->destination.parent_path())) {
      task->outcome = Outcome::kFailed;
      task->status = 3;
      task->message = "cannot create the folder " + Utf8(task->destination.parent_path()) +
                      ": " + error.message();
      return;
    }
    const fs::path temporary = TemporaryName(task->destination);
    amrnb_convert_result result{};
    const amrnb_status status = amrnb_convert_file(Utf8(task->source).c_str(),
                                                   Utf8(temporary).c_str(), event_type, &result);
    task->frames = result.frames;
    task->concealed = result.concealed;
    task->seconds = result.seconds;
    task->status = status == AMRNB_OK ? result.exit_status : 1;
    task->message = OneLine(result.message);
    if (task->status == 0) {
      fs::rename(temporary, task->destination, error);
      if (!error) {
        task->outcome = Outcome::kConverted;
        return;
      }
      task->status = 3;
      task->message = "cannot rename " + Utf8(temporary) + ": " + error.message();
    }
    task->outcome = Outcome::kFailed;
    fs::remove(temporary, error);
  }

  // Called with the lock held.
  void PrintFailure(const Task& task) {
    ClearLine();
    if (task.outcome == Outcome::kFailed)
      std::fprintf(stderr, "amrconv-batch: %s: status %d: %s\n", task.name.c_str(), task.status,
                   task.message.c_str());
    else
      std::fprintf(stderr, "amrconv-batch: %s: converted, with: %s\n", task.name.c_str(),
                   task.message.c_str());
    std::fflush(stderr);
  }

  void ClearLine() {
    if (progress_.line_width == 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(progress_.line_width), "");
    progress_.line_width = 0;
  }

  // Files done of total, audio hours, times real time and the time left (estimated from the
  // bytes still to convert). Redrawn four times a second on a terminal, a plain line every
  // ten seconds elsewhere, nothing with --quiet.
  void Report() {
    const auto interval = std::chrono::milliseconds(terminal_ ? 250 : 10000);
    std::unique_lock<std::mutex> hold(progress_.lock);
    bool announced = false;
    auto last = std::chrono::steady_clock::now();
    while (progress_.running > 0) {
      progress_.changed.wait_for(hold, std::chrono::milliseconds(250));
      if (g_interrupt.load() != 0 && !announced) {
        announced = true;
        ClearLine();
        std::fprintf(stderr, "amrconv-batch: interrupted: stopping after the files in progress\n");
      }
      const auto now = std::chrono::steady_clock::now();
      if (options_.quiet || progress_.running == 0 || now - last < interval) continue;
      last = now;
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
      const double fraction = progress_.total_bytes == 0
                                  ? 0.0
                                  : static_cast<double>(progress_.done_bytes) /
                                        static_cast<double>(progress_.total_bytes);
      const std::string left =
          fraction > 0 ? Clock(elapsed * (1 - fraction) / fraction) + " left" : "time left unknown";
      char line[200];
      const int width = std::snprintf(
          line, sizeof line, "%zu/%zu files, %.2f h audio, %.0fx real time, %s", progress_.done,
          progress_.total, progress_.audio_seconds / 3600,
          elapsed > 0 ? progress_.audio_seconds / elapsed : 0.0, left.c_str());
      if (terminal_) {
        ClearLine();
        std::fprintf(stderr, "%s", line);
        progress_.line_width = static_cast<size_t>(std::max(width, 0));
      } else {
        std::fprintf(stderr, "amrconv-batch: %s\n", line);
      }
      std::fflush(stderr);
    }
    ClearLine();
    std::fflush(stderr);
  }

  std::vector<Task>& tasks_;
  const Options& options_;
  const bool terminal_;
  std::vector<size_t> order_;
  std::atomic<size_t> next_{0};
  Progress progress_;
  std::chrono::steady_clock::time_point start_;
};

// One CSV field: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

bool RunTasks(std::vector<Task>* tasks, const Options& options, int jobs, int* signal_number) {
  Runner runner(tasks, options);
  return runner.Run(jobs, signal_number);
}

bool WriteReport(const std::vector<Task>& tasks, const fs::path& report) {
  FILE* file = OpenFile(Utf8(report).c_str(), "wb");
  if (file == nullptr) return false;
  std::fprintf(file, "path,status,frames,concealed_frames,seconds\n");
  for (const Task& task : tasks) {
    std::fprintf(file, "%s,", CsvField(task.name).c_str());
    switch (task.outcome) {
      case Outcome::kConverted:
      case Outcome::kFailed:
        std::fprintf(file, "%d,%lu,%lu,%.2f\n", task.status, task.frames, task.concealed,
                     task.seconds);
        break;
      case Outcome::kUpToDate: std::fprintf(file, "up-to-date,,,\n"); break;
      case Outcome::kLinkSkipped: std::fprintf(file, "link-skipped,,,\n"); break;
      case Outcome::kPending:
      case Outcome::kNotStarted: std::fprintf(file, "not-started,,,\n"); break;
    }
  }
  const bool written = std::ferror(file) == 0;
  return std::fclose(file) == 0 && written;
}

}  // namespace batch
