#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/escaping.h"
#include "cli/outcome_text.h"
#include "core/platform/atomic_writer.h"
#include "core/platform/cp1251.h"
#include "core/platform/file_error.h"
#include "core/platform/file_system.h"
#include "core/platform/profile.h"
#include "core/port/port.h"
#include "core/port/port_output.h"
#include "core/search/folder_scan.h"
#include "core/search/patch_list.h"
#include "core/vkp/hex_string.h"

namespace quillet::cli {

namespace {

const char* StatusWord(PortStatus status) {
  switch (status) {
    case PortStatus::ported:
      return "ported";
    case PortStatus::fits:
      return "fits";
    case PortStatus::refused:
      break;
  }
  return "refused";
}

const char* VerdictWord(PieceVerdict verdict) {
  switch (verdict) {
    case PieceVerdict::placed:
      return "placed";
    case PieceVerdict::oldUnknown:
      return "old-unknown";
    case PieceVerdict::tooShort:
      return "too-short";
    case PieceVerdict::notFound:
      return "not-found";
    case PieceVerdict::ambiguous:
      break;
  }
  return "ambiguous";
}

const char* CauseWord(PortRefusal cause) {
  switch (cause) {
    case PortRefusal::broken:
      return "broken";
    case PortRefusal::otherFirmware:
      return "other-firmware";
    case PortRefusal::beyondFirmware:
      return "beyond-firmware";
    case PortRefusal::pieces:
      return "pieces";
    case PortRefusal::overlap:
      return "overlap";
    case PortRefusal::none:
      break;
  }
  return "none";
}

std::string PieceText(const PortPiece& piece) {
  std::string out = FormatAddress(piece.first) + "-" + FormatAddress(piece.last) + ": ";
  switch (piece.verdict) {
    case PieceVerdict::placed:
      out += "shift " + FormatShift(piece.shift);
      if (piece.installed) out += ", installed there already";
      if (piece.writtenOnly) out += ", by the written bytes alone";
      return out;
    case PieceVerdict::oldUnknown:
      return out + "old bytes unknown at " + FormatAddress(piece.unknownAt);
    case PieceVerdict::tooShort:
      return out + "too short to place";
    case PieceVerdict::notFound:
      return out + "not found";
    case PieceVerdict::ambiguous:
      break;
  }
  out += "found at " + std::string(piece.places >= kPlaceCountLimit ? "at least " : "") + std::to_string(piece.places) +
         " places:";
  for (const std::uint32_t place : piece.firstPlaces) out += " " + FormatAddress(place);
  return piece.places > piece.firstPlaces.size() ? out + " ..." : out;
}

// Why a whole patch was refused, before its pieces (before escaping).
std::vector<std::string> ReasonLines(const PortedPatch& patch, const std::string& firmware) {
  switch (patch.cause) {
    case PortRefusal::broken: {
      CheckDetails details;
      details.status = PATCH_FILE_ERROR;
      details.error = patch.rule;
      details.line = patch.line;
      details.lineText = patch.lineText;
      details.byteOrderMark = patch.line == 1 && patch.lineText.starts_with("\xEF\xBB\xBF");
      std::vector<std::string> lines = FormatCheckDetails(details);
      for (std::string& line : lines) line = Cp1251ToUtf8(line);
      return lines;
    }
    case PortRefusal::otherFirmware:
      return {"not made for " + firmware + ": " + FormatAddress(patch.offending->address) + ": old " +
              FormatByte(patch.offending->old) + ", there " + FormatByte(patch.offending->found)};
    case PortRefusal::beyondFirmware:
      return {"not made for " + firmware + ": it writes " + FormatAddress(patch.offending->address) +
              ", beyond its end"};
    case PortRefusal::overlap:
      return {"two pieces, moved, both write " + FormatAddress(patch.offending->address)};
    case PortRefusal::pieces:
    case PortRefusal::none:
      break;
  }
  return {};
}

std::string JsonRecord(const PortedPatch& patch, const std::string& path, const std::string& firmware,
                       const std::string* written) {
  std::string out = "{" + JsonPathFields(path) + ",\"status\":\"" + StatusWord(patch.status) + "\"";
  if (patch.cause != PortRefusal::none) {
    out += std::string(",\"cause\":\"") + CauseWord(patch.cause) + "\"";
    std::string reason;
    for (const std::string& line : ReasonLines(patch, firmware)) reason += (reason.empty() ? "" : "\n") + line;
    if (!reason.empty()) out += ",\"reason\":" + JsonString(reason);
  }
  if (patch.cause == PortRefusal::broken)
    out += ",\"line\":" + std::to_string(patch.line) + ",\"lineText\":" + JsonString(Cp1251ToUtf8(patch.lineText));
  if (patch.offending) out += ",\"address\":\"" + FormatAddress(patch.offending->address) + "\"";
  if (written != nullptr) out += ",\"output\":" + JsonString(*written);
  out += ",\"pieces\":[";
  for (std::size_t i = 0; i < patch.pieces.size(); ++i) {
    const PortPiece& piece = patch.pieces[i];
    out += std::string(i ? "," : "") + "{\"first\":\"" + FormatAddress(piece.first) + "\",\"last\":\"" +
           FormatAddress(piece.last) + "\",\"bytes\":" + std::to_string(piece.writes) + ",\"status\":\"" +
           VerdictWord(piece.verdict) + "\"";
    if (piece.verdict == PieceVerdict::placed)
      out += ",\"shift\":" + std::to_string(piece.shift) + ",\"installed\":" + (piece.installed ? "true" : "false");
    if (piece.verdict == PieceVerdict::ambiguous) {
      out += ",\"places\":" + std::to_string(piece.places) + ",\"firstPlaces\":[";
      for (std::size_t j = 0; j < piece.firstPlaces.size(); ++j)
        out += std::string(j ? "," : "") + "\"" + FormatAddress(piece.firstPlaces[j]) + "\"";
      out += "]";
    }
    out += "}";
  }
  return out + "]}";
}

int UsageError(const std::string& message) {
  PrintError(message);
  PrintUsage(stderr);
  return kExitUsage;
}

}  // namespace

int RunPort(const std::vector<std::string>& args) {
  const auto parsed = ParseCommandArgs(args, {"-o", "--from"}, {"--dry-run", "--json"});
  if (!parsed) return kExitUsage;
  if (parsed->operands.size() < 2) return UsageError("port needs an image and at least one patch file or folder");
  PortJob job;
  job.imagePath = parsed->operands.front();
  if (const auto from = parsed->values.find("--from"); from != parsed->values.end()) {
    if (from->second.empty()) return UsageError("--from needs a file name");
    job.firmwarePath = from->second;
  }
  const bool dryRun = parsed->flags.contains("--dry-run");
  const bool json = parsed->flags.contains("--json");
  const auto outputOption = parsed->values.find("-o");
  const std::string output = outputOption == parsed->values.end() ? std::string() : outputOption->second;
  if (outputOption != parsed->values.end() && output.empty()) return UsageError("-o needs a file or folder name");
  const std::vector<std::string> operands(parsed->operands.begin() + 1, parsed->operands.end());
  const bool onePatch = operands.size() == 1 && !IsFolder(operands.front());
  const bool toStdout = onePatch && output.empty() && !dryRun;
  if (!onePatch && output.empty() && !dryRun)
    return UsageError("port of several patches or a folder writes into -o DIR");
  if (!onePatch && !output.empty() && std::filesystem::exists(output) && !IsFolder(output))
    return UsageError(output + " is not a folder: several ported patches go into -o DIR");

  // Each patch's output, relative to the folder operand it was found in.
  PatchList list;
  std::map<std::string, std::string> relative;
  std::vector<UnreadableFolder> unreadable;
  for (const std::string& operand : operands) {
    const std::vector<std::string> paths = ExpandPatchInputs({operand}, &unreadable);
    const std::size_t cut = operand.ends_with('/') ? operand.size() : operand.size() + 1;
    const bool folder = IsFolder(operand);
    for (const std::string& path : paths) relative.emplace(path, folder ? path.substr(cut) : FileNameOf(path));
    (void)list.AddAll(paths);
  }
  if (!unreadable.empty()) {
    for (const UnreadableFolder& folder : unreadable) PrintError(folder.path + ": " + std::strerror(folder.osError));
    return kExitPatchFile;
  }
  for (const PatchRow& row : list.Rows()) job.patchPaths.push_back(row.path);

  std::vector<std::string> inputs = job.patchPaths;
  inputs.push_back(job.imagePath);
  if (!job.firmwarePath.empty()) inputs.push_back(job.firmwarePath);
  if (parsed->filter.source != FilterChoice::Source::none)
    inputs.push_back(parsed->filter.source == FilterChoice::Source::iniFile
                         ? parsed->filter.iniPath
                         : SettingsPathFor(GetWorkingDirectory(), "quillet"));
  std::vector<std::string> outputs;  // by the job's patch index
  if (onePatch && !output.empty()) {
    outputs.push_back(output);
  } else if (!onePatch && !output.empty()) {
    for (const std::string& path : job.patchPaths)
      outputs.push_back((std::filesystem::path(output) / relative[path]).string());
    if (const auto shared = FindSharedOutput(outputs))
      return UsageError(job.patchPaths[shared->output] + " and " + job.patchPaths[shared->input] +
                        " would both be written to " + outputs[shared->output]);
  }
  // Before anything is read: writing checks again, but a mistyped -o should
  // not cost a pass over the image.
  if (const auto same = FindOutputIsInput(outputs, inputs)) {
    std::string message = "the output ";
    message += outputs[same->output];
    message += " is ";
    message += inputs[same->input];
    message += ", an input: it is never written over";
    return UsageError(message);
  }
  if (toStdout)
    for (const std::string& input : inputs)
      if (IsSameFile(STDOUT_FILENO, input))
        return UsageError("standard output is " + input + ", an input: it is never written over");

  PortOutcome outcome = PortPatches(job, {}, {});
  if (outcome.cause == JobCause::patchFile) {
    PrintError(OutcomeText(outcome));
    return kExitPatchFile;
  }
  if (!outcome.Ok()) {
    PrintError(OutcomeText(outcome));
    return kExitInput;
  }

  // Write first, so that the listing can say where each patch went; the
  // listing goes to stderr when the patch itself is standard output.
  int status = outcome.RefusedCount() == 0 ? kExitOk : kExitConflicts;
  std::vector<bool> written(outcome.patches.size(), false);
  if (!dryRun && toStdout) {
    for (const PortedPatch& patch : outcome.patches) {
      if (patch.status == PortStatus::refused) continue;
      if (std::fwrite(patch.text.data(), 1, patch.text.size(), stdout) != patch.text.size() ||
          std::fflush(stdout) != 0) {
        std::perror("quillet-cli: standard output");
        status = kExitOutput;
      }
    }
  } else if (!dryRun) {
    std::vector<PortedFile> files;
    std::vector<std::size_t> patchOf;  // the patch index of each file
    for (std::size_t i = 0; i < outcome.patches.size(); ++i) {
      if (outcome.patches[i].status == PortStatus::refused) continue;
      files.push_back({outputs[i], std::move(outcome.patches[i].text)});
      patchOf.push_back(i);
    }
    const PortWriteEvents events{
        .progress = {},
        .failed =
            [](std::size_t, const FileError& error) {
              PrintError(error.what() +
                         (error.OsError() != 0 ? std::string(" (") + std::strerror(error.OsError()) + ")" : ""));
            },
    };
    const PortWriteOutcome wrote = WritePortedPatches(files, inputs, events, {});
    for (std::size_t f = 0; f < files.size(); ++f) written[patchOf[f]] = wrote.written[f];
    if (wrote.cause == JobCause::outputIsInput)
      PrintError("the output " + wrote.path + " is an input: nothing was written");
    if (wrote.cause == JobCause::refused)
      PrintError("another output is written to " + wrote.path + " too: nothing was written");
    if (!wrote.Ok()) status = kExitOutput;
  }
  std::FILE* listing = toStdout ? stderr : stdout;
  if (json) std::fputs("[", listing);
  for (std::size_t i = 0; i < outcome.patches.size(); ++i) {
    const PortedPatch& patch = outcome.patches[i];
    const std::string& path = job.patchPaths[i];
    if (json) {
      std::fprintf(listing, "%s\n%s", i ? "," : "",
                   JsonRecord(patch, path, job.firmwarePath, written[i] ? &outputs[i] : nullptr).c_str());
      continue;
    }
    std::fprintf(listing, "%s\t%s\n", StatusWord(patch.status), EscapedText(path).c_str());
    for (const std::string& line : ReasonLines(patch, job.firmwarePath))
      std::fprintf(listing, "  %s\n", EscapedText(line).c_str());
    for (const PortPiece& piece : patch.pieces) std::fprintf(listing, "  %s\n", EscapedText(PieceText(piece)).c_str());
  }
  if (json) std::fprintf(listing, "%s]\n", outcome.patches.empty() ? "" : "\n");
  return status;
}

}  // namespace quillet::cli
