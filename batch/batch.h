// amrconv-batch: converts a folder tree (or a list of files) of AMR-in-WAV recordings into a
// destination tree, several files at a time, each exactly as amrconv converts it.
#ifndef BATCH_BATCH_H
#define BATCH_BATCH_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace batch {

namespace fs = std::filesystem;

// Paths travel as UTF-8 text to the library and to the messages; on Windows a path holds
// UTF-16, on other systems bytes, and these two convert without loss.
std::string Utf8(const fs::path& path);
fs::path PathFromUtf8(const std::string& text);

// What became of one source file.
enum class Outcome {
  kPending,       // planned, not converted yet
  kUpToDate,      // its output is newer than the source: left as it is
  kConverted,     // converted and renamed to its final name
  kFailed,        // not converted: amrconv's status and message, or a refusal of the batch
  kLinkSkipped,   // a symbolic link to a folder, or to a file outside the source tree
  kNotStarted,    // the run was interrupted before this file's turn
};

struct Task {
  fs::path source;        // as it is opened
  fs::path destination;   // the output's final name
  std::string name;       // the source relative to SOURCE (or as listed), UTF-8, for messages
  uintmax_t bytes = 0;    // source size: the larger files are taken first
  Outcome outcome = Outcome::kPending;
  int status = 0;         // amrconv's exit status for this file
  std::string message;    // amrconv's failure message, on one line
  unsigned long frames = 0;
  unsigned long concealed = 0;
  double seconds = 0;
};

struct Options {
  fs::path source;
  fs::path destination;
  int jobs = 0;           // 0: one per core
  bool amr_output = false;
  bool quiet = false;
  fs::path report;        // empty: no report
};

// Exit statuses of the program.
inline constexpr int kExitAllConverted = 0;
inline constexpr int kExitUsage = 1;          // command line, SOURCE or DESTINATION refused
inline constexpr int kExitSomeFailed = 2;     // the run ended, some files were not converted
inline constexpr int kExitReportFailed = 4;   // every file converted, the report not written

// Finds the files to convert and their outputs: every regular file under SOURCE when it is a
// folder, else every line of the list file SOURCE. Each task is checked (path lengths as
// amrconv counts them, two sources with one output, an output that would replace a source)
// and marked up to date when its output is newer than its source. False, with `error` set,
// when SOURCE or DESTINATION is refused as a whole.
bool PlanTasks(const Options& options, std::vector<Task>* tasks, std::string* error);

// The temporary name an output is written under until it is complete: the final name with
// the last letter of its extension replaced by '~', so that it is no longer than the final
// name and stays within the same path limit.
fs::path TemporaryName(const fs::path& destination);

// Converts the pending tasks on `jobs` threads, largest files first, reporting progress on
// standard error. Returns false when an interrupt stopped the run early (the tasks not begun
// are marked kNotStarted); the signal number is in *signal_number.
bool RunTasks(std::vector<Task>* tasks, const Options& options, int jobs, int* signal_number);

// Writes the CSV report: path, status, frames, concealed frames, seconds. False on failure.
bool WriteReport(const std::vector<Task>& tasks, const fs::path& report);

}  // namespace batch

#endif  // BATCH_BATCH_H
