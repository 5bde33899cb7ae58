// Finding the files to convert: walking the source tree or reading a list, naming the outputs,
// and the checks that keep every source untouched and every path within amrconv's limit.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

#include "batch/batch.h"
#include "container/platform.h"

namespace batch {

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path PathFromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

fs::path TemporaryName(const fs::path& destination) {
  std::u8string name = destination.filename().u8string();
  if (!name.empty()) name.back() = u8'~';
  return destination.parent_path() / fs::path(name);
}

namespace {

// Whether `path` is `folder` or lies below it; both already made absolute and normal.
bool IsWithin(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // the empty last element of a path ending in a separator
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

// The absolute, normal form of a path, with the symbolic links of its existing part resolved.
fs::path Resolved(const fs::path& path) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(path, error);
  if (error) resolved = fs::absolute(path, error).lexically_normal();
  return resolved;
}

// The output of a source at `relative` below SOURCE: the same place below DESTINATION, with
// the extension replaced by ".wav" or ".amr".
fs::path OutputName(const fs::path& destination_root, const fs::path& relative, bool amr) {
  fs::path output = destination_root / relative;
  output.replace_extension(amr ? ".amr" : ".wav");
  return output;
}

void Refuse(Task* task, int status, const std::string& message) {
  task->outcome = Outcome::kFailed;
  task->status = status;
  task->message = message;
}

void AddFile(const Options& options, const fs::path& source, const fs::path& relative,
             std::vector<Task>* tasks) {
  Task task;
  task.source = source;
  task.name = Utf8(relative);
  task.destination = OutputName(options.destination, relative, options.amr_output);
  std::error_code error;
  task.bytes = fs::file_size(source, error);
  if (error) task.bytes = 0;
  tasks->push_back(std::move(task));
}

bool WalkFolder(const Options& options, std::vector<Task>* tasks, std::string* error_text) {
  const fs::path root = Resolved(options.source);
  std::error_code error;
  fs::recursive_directory_iterator it(options.source,
                                      fs::directory_options::skip_permission_denied, error);
  if (error) {
    *error_text = "cannot read the folder " + Utf8(options.source) + ": " + error.message();
    return false;
  }
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) {
      *error_text = "cannot read below " + Utf8(options.source) + ": " + error.message();
      return false;
    }
    const fs::directory_entry& entry = *it;
    const fs::path relative = entry.path().lexically_relative(options.source);
    std::error_code status_error;
    if (entry.is_symlink(status_error)) {
      // Links to folders are never walked (the iterator does not follow them), links to files
      // only when the file lies inside the tree: the tree's owner chose what is in it.
      const fs::path target = fs::canonical(entry.path(), status_error);
      if (!status_error && fs::is_regular_file(target, status_error) && IsWithin(target, root)) {
        AddFile(options, entry.path(), relative, tasks);
      } else {
        Task task;
        task.source = entry.path();
        task.name = Utf8(relative);
        task.outcome = Outcome::kLinkSkipped;
        task.message = "symbolic link to a folder or out of the tree: not followed";
        tasks->push_back(std::move(task));
      }
    } else if (entry.is_regular_file(status_error)) {
      AddFile(options, entry.path(), relative, tasks);
    }
  }
  return true;
}

// A list file: one path a line (UTF-8), relative to the list's own folder or absolute within
// it; blank lines are skipped and a carriage return before the line end is dropped.
bool ReadList(const Options& options, std::vector<Task>* tasks, std::string* error_text) {
  std::ifstream list(options.source, std::ios::binary);
  if (!list) {
    *error_text = "cannot open the list " + Utf8(options.source);
    return false;
  }
  const fs::path base = Resolved(options.source).parent_path();
  std::string line;
  while (std::getline(list, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const fs::path listed = PathFromUtf8(line);
    const fs::path source = listed.is_absolute() ? listed : base / listed;
    const fs::path relative = (base / listed).lexically_normal().lexically_relative(base);
    if (relative.empty() || *relative.begin() == ".." || !IsWithin(base / relative, base)) {
      Task task;
      task.source = source;
      task.name = line;
      Refuse(&task, 1, "listed file lies outside the list's folder");
      tasks->push_back(std::move(task));
      continue;
    }
    AddFile(options, source, relative, tasks);
  }
  return true;
}

}  // namespace

bool PlanTasks(const Options& options, std::vector<Task>* tasks, std::string* error_text) {
  std::error_code error;
  const bool folder = fs::is_directory(options.source, error);
  if (!folder && !fs::is_regular_file(options.source, error)) {
    *error_text = "no such folder or list file: " + Utf8(options.source);
    return false;
  }
  if (folder && IsWithin(Resolved(options.destination), Resolved(options.source))) {
    *error_text = "the destination " + Utf8(options.destination) +
                  " lies inside the source tree " + Utf8(options.source) + ": refused";
    return false;
  }
  if (fs::exists(options.destination, error) && !fs::is_directory(options.destination, error)) {
    *error_text = "the destination " + Utf8(options.destination) + " is not a folder";
    return false;
  }
  if (!(folder ? WalkFolder(options, tasks, error_text) : ReadList(options, tasks, error_text)))
    return false;
  std::sort(tasks->begin(), tasks->end(),
            [](const Task& a, const Task& b) { return a.name < b.name; });

  // Every source, resolved, so that no output can replace one.
  std::set<fs::path> sources;
  for (const Task& task : *tasks) {
    if (task.outcome == Outcome::kPending) sources.insert(Resolved(task.source));
  }
  // Sources that would share an output are all refused: which one won would depend on names
  // that differ only in letter case or extension.
  std::map<fs::path, std::vector<Task*>> outputs;
  for (Task& task : *tasks) {
    if (task.outcome == Outcome::kPending) outputs[Resolved(task.destination)].push_back(&task);
  }
  for (auto& [output, sharing] : outputs) {
    if (sharing.size() < 2) continue;
    for (Task* task : sharing)
      Refuse(task, 3, "its output " + Utf8(task->destination) + " is also the output of " +
                          std::to_string(sharing.size() - 1) + " other file(s)");
  }
  for (Task& task : *tasks) {
    if (task.outcome != Outcome::kPending) continue;
    // amrconv refuses a path argument longer than its limit before it touches a file; the
    // temporary name has the final name's length.
    const std::string paths[2] = {Utf8(task.source), Utf8(task.destination)};
    bool too_long = false;
    for (int i = 0; i < 2 && !too_long; ++i) {
      if (PathLength(paths[i].c_str()) > kMaxPathChars || paths[i].size() >= kPathBufferBytes) {
        char text[96];
        std::snprintf(text, sizeof text, "Path argument %d is longer than %zu %s.", i + 1,
                      kMaxPathChars, kPathLengthUnit);
        Refuse(&task, 1, text);
        too_long = true;
      }
    }
    if (too_long) continue;
    const fs::path output = Resolved(task.destination);
    if (sources.count(output) != 0) {
      Refuse(&task, 3, "its output " + Utf8(task.destination) + " is a source file: refused");
      continue;
    }
    // A rerun leaves alone every output that is newer than its source.
    const auto output_time = fs::last_write_time(task.destination, error);
    if (error) continue;
    const auto source_time = fs::last_write_time(task.source, error);
    if (!error && output_time > source_time) task.outcome = Outcome::kUpToDate;
  }
  return true;
}

}  // namespace batch
