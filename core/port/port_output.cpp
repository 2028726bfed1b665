#include "core/port/port_output.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "core/platform/atomic_writer.h"

namespace quillet {

std::string ResolvedPath(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::weakly_canonical(std::filesystem::absolute(path, ignored), ignored).string();
}

std::optional<OutputIsInput> FindOutputIsInput(const std::vector<std::string>& outputs,
                                               const std::vector<std::string>& inputs) {
  // Each path is looked up once, not once per pair: thousands of patches may
  // be ported into one folder.
  using FileId = std::pair<dev_t, ino_t>;
  std::map<FileId, std::size_t> inputFiles;
  std::map<std::string, std::size_t> inputPlaces;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    struct stat st {};
    if (::stat(inputs[i].c_str(), &st) == 0) inputFiles.emplace(FileId{st.st_dev, st.st_ino}, i);
    inputPlaces.emplace(ResolvedPath(inputs[i]), i);
  }
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    struct stat st {};
    const auto file =
        ::stat(outputs[o].c_str(), &st) == 0 ? inputFiles.find(FileId{st.st_dev, st.st_ino}) : inputFiles.end();
    if (file != inputFiles.end()) return OutputIsInput{o, file->second};
    if (const auto place = inputPlaces.find(ResolvedPath(outputs[o])); place != inputPlaces.end())
      return OutputIsInput{o, place->second};
  }
  return std::nullopt;
}

std::optional<OutputIsInput> FindSharedOutput(const std::vector<std::string>& outputs) {
  std::map<std::string, std::size_t> taken;  // resolved output -> its index
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    const auto [at, fresh] = taken.emplace(ResolvedPath(outputs[o]), o);
    if (!fresh) return OutputIsInput{o, at->second};
  }
  return std::nullopt;
}

std::size_t PortWriteOutcome::WrittenCount() const {
  return static_cast<std::size_t>(std::count(written.begin(), written.end(), true));
}

PortWriteOutcome WritePortedPatches(const std::vector<PortedFile>& files, const std::vector<std::string>& inputs,
                                    const PortWriteEvents& events, StopToken stop, FileOps* ops) {
  PortWriteOutcome outcome;
  try {
    outcome.written.assign(files.size(), false);
    std::vector<std::string> outputs;
    outputs.reserve(files.size());
    for (const PortedFile& file : files) outputs.push_back(file.path);
    // Both before any file is written: a refusal leaves everything as it was.
    if (const auto input = FindOutputIsInput(outputs, inputs)) {
      outcome.cause = JobCause::outputIsInput;
      outcome.path = outputs[input->output];
      return outcome;
    }
    if (const auto shared = FindSharedOutput(outputs)) {
      outcome.cause = JobCause::refused;
      outcome.path = outputs[shared->output];
      return outcome;
    }
    // Every name resolved once, beside the checks above: a link planted at a
    // name later, before its file's turn comes, is replaced, not followed.
    std::vector<std::string> resolved(files.size());
    std::vector<std::optional<FileError>> unresolved(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      try {
        resolved[i] = ResolveOutputPath(files[i].path);
      } catch (const FileError& error) {
        unresolved[i] = error;
      }
    }
    // Written in batches, each made durable with one flush: a thousand
    // files, each flushed alone, took half a minute.
    AtomicFileBatch batch(ops);
    std::vector<std::size_t> staged;  // the batch's files by their index
    const auto report = [&](std::size_t i, const FileError& error) {
      // Said with the path the user chose, not the one its links lead to.
      const FileError chosen(error.Cause(), files[i].path, error.OsError());
      if (outcome.cause == JobCause::none) {
        outcome.cause = JobCause::outputWrite;
        outcome.path = files[i].path;
        outcome.systemError = error.OsError();
      }
      if (events.failed) events.failed(i, chosen);
    };
    const auto commit = [&] {
      const std::vector<bool> placed =
          batch.Commit([&](std::size_t at, const FileError& error) { report(staged[at], error); });
      for (std::size_t at = 0; at < staged.size(); ++at) outcome.written[staged[at]] = placed[at];
      staged.clear();
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
      // What is staged is dropped: a stop puts nothing more in place.
      if (stop.StopRequested()) {
        if (outcome.cause == JobCause::none) outcome.cause = JobCause::stopped;
        return outcome;
      }
      const PortedFile& file = files[i];
      try {
        if (unresolved[i]) throw *unresolved[i];
        std::error_code ignored;
        const std::filesystem::path parent = std::filesystem::path(file.path).parent_path();
        if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
        batch.Stage(resolved[i], file.text, WriterOptions{.resolved = true, .noReplace = !file.replace});
        staged.push_back(i);
      } catch (const FileError& error) {
        report(i, error);
      }
      if (batch.Staged() == AtomicFileBatch::kMaxStaged) commit();
      if (events.progress) events.progress(i + 1, files.size());
    }
    commit();
  } catch (const std::bad_alloc&) {
    outcome.cause = JobCause::outOfMemory;
    outcome.path.clear();
  }
  return outcome;
}

}  // namespace quillet
