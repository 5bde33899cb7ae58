// amrconv-batch SOURCE DESTINATION [--jobs N] [--amr] [--report FILE] [--quiet]
//   converts every file of the folder tree SOURCE (or every file named in the list file
//   SOURCE) into the same tree below DESTINATION, as `amrconv FILE OUTPUT 1` (or 2 with --amr)
//   would, several files at a time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "batch/batch.h"
#include "container/platform.h"

namespace {

constexpr const char* kUsage =
    "usage: amrconv-batch SOURCE DESTINATION [--jobs N] [--amr] [--report FILE] [--quiet]\n"
    "  SOURCE       a folder (walked recursively) or a list file, one path a line\n"
    "  DESTINATION  the folder that receives the same tree: NAME.wav for each file\n"
    "  --jobs N     files converted at once (default: one per core)\n"
    "  --amr        write \"#!AMR\\n\" storage files NAME.amr instead of WAV files\n"
    "  --report F   write a CSV line per file: path, status, frames, concealed frames, seconds\n"
    "  --quiet      no progress line and no summary\n";

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "amrconv-batch: %s\n", problem);
  std::fputs(kUsage, stderr);
  return batch::kExitUsage;
}

bool ParseJobs(const char* text, int* jobs) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 256) return false;
  *jobs = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace batch;
  UseUtf8Arguments(&argc, &argv);
  Options options;
  int positional = 0;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!options_end && argument.rfind("--", 0) == 0) {
      if (argument == "--") {
        options_end = true;
      } else if (argument == "--amr") {
        options.amr_output = true;
      } else if (argument == "--quiet") {
        options.quiet = true;
      } else if (argument == "--help") {
        std::fputs(kUsage, stdout);
        return kExitAllConverted;
      } else if (argument == "--jobs" || argument == "--report") {
        if (i + 1 >= argc) return Usage((argument + " needs a value").c_str());
        const char* value = argv[++i];
        if (argument == "--report") {
          options.report = PathFromUtf8(value);
        } else if (!ParseJobs(value, &options.jobs)) {
          return Usage("--jobs takes a number from 1 to 256");
        }
      } else {
        return Usage(("unknown option " + argument).c_str());
      }
    } else if (positional == 0) {
      options.source = PathFromUtf8(argument);
      ++positional;
    } else if (positional == 1) {
      options.destination = PathFromUtf8(argument);
      ++positional;
    } else {
      return Usage("too many arguments");
    }
  }
  if (positional != 2) return Usage(nullptr);
  int jobs = options.jobs;
  if (jobs == 0) jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

  std::vector<Task> tasks;
  std::string error;
  if (!PlanTasks(options, &tasks, &error)) {
    std::fprintf(stderr, "amrconv-batch: %s\n", error.c_str());
    return kExitUsage;
  }
  // Files refused while planning are listed before the run starts.
  for (const Task& task : tasks) {
    if (task.outcome == Outcome::kFailed)
      std::fprintf(stderr, "amrconv-batch: %s: status %d: %s\n", task.name.c_str(), task.status,
                   task.message.c_str());
  }

  const auto started = std::chrono::steady_clock::now();
  int signal_number = 0;
  const bool completed = RunTasks(&tasks, options, jobs, &signal_number);
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  size_t counts[6] = {};
  double audio = 0;
  for (const Task& task : tasks) {
    ++counts[static_cast<int>(task.outcome)];
    audio += task.seconds;
  }
  const size_t failed = counts[static_cast<int>(Outcome::kFailed)];
  const size_t not_started = counts[static_cast<int>(Outcome::kNotStarted)];
  if (!options.quiet) {
    std::fprintf(stderr,
                 "amrconv-batch: %zu converted, %zu up to date, %zu failed, %zu not started, "
                 "%zu links skipped; %.2f h audio in %.1f s (%.0fx real time, %d jobs)\n",
                 counts[static_cast<int>(Outcome::kConverted)],
                 counts[static_cast<int>(Outcome::kUpToDate)], failed, not_started,
                 counts[static_cast<int>(Outcome::kLinkSkipped)], audio / 3600, elapsed,
                 elapsed > 0 ? audio / elapsed : 0.0, jobs);
    if (failed > 0) {
      std::fprintf(stderr, "amrconv-batch: not converted:\n");
      for (const Task& task : tasks) {
        if (task.outcome == Outcome::kFailed)
          std::fprintf(stderr, "  status %d  %s\n", task.status, task.name.c_str());
      }
    }
  }

  if (!options.report.empty() && !WriteReport(tasks, options.report)) {
    std::fprintf(stderr, "amrconv-batch: cannot write the report %s\n",
                 Utf8(options.report).c_str());
    if (completed && failed == 0) return kExitReportFailed;
  }
  if (!completed) return 128 + signal_number;
  return failed == 0 ? kExitAllConverted : kExitSomeFailed;
}
