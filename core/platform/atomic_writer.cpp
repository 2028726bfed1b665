#include "core/platform/atomic_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/platform/unique_fd.h"

namespace quillet {

namespace {

constexpr char kTempPrefix[] = ".quillet-";
constexpr char kTempSuffix[] = ".tmp";
constexpr std::size_t kWriteChunk = std::size_t{1} << 20;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A hash of a stream of bytes, however it is cut into pieces. Each step is a
// bijection of a lane for a fixed word, so any one word that differs changes
// the result for certain: a flipped bit, a torn or a shifted write. Four
// lanes keep it at memory speed.
class ContentHash {
 public:
  void Add(const std::uint8_t* bytes, std::size_t count) {
    if (m_fill != 0) {
      const std::size_t take = std::min(count, kBlock - m_fill);
      std::memcpy(m_block + m_fill, bytes, take);
      m_fill += take;
      bytes += take;
      count -= take;
      if (m_fill < kBlock) return;
      Mix(m_block);
      m_fill = 0;
    }
    for (; count >= kBlock; bytes += kBlock, count -= kBlock) Mix(bytes);
    std::memcpy(m_block, bytes, count);
    m_fill = count;
  }
  [[nodiscard]] bool operator==(const ContentHash& other) const {
    return std::equal(m_lane, m_lane + 4, other.m_lane) && m_fill == other.m_fill &&
           std::memcmp(m_block, other.m_block, m_fill) == 0;
  }

 private:
  static constexpr std::size_t kBlock = 32;
  void Mix(const std::uint8_t* block) {
    constexpr std::uint64_t kOdd[4] = {0x9E3779B97F4A7C15ULL, 0xC2B2AE3D27D4EB4FULL, 0x165667B19E3779F9ULL,
                                       0xD6E8FEB86659FD93ULL};
    for (std::size_t i = 0; i < 4; ++i) {
      std::uint64_t word = 0;
      std::memcpy(&word, block + 8 * i, 8);
      const std::uint64_t product = (m_lane[i] ^ word) * kOdd[i];
      m_lane[i] = (product << 31) | (product >> 33);
    }
  }
  std::uint64_t m_lane[4] = {1, 2, 3, 4};
  std::uint8_t m_block[kBlock] = {};
  std::size_t m_fill = 0;
};

std::string FollowLinks(std::string path, const std::string& given) {
  // A cycle has no file at its end to write: replacing one of its links
  // would break the user's links and report a save that went nowhere.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length <= 0) return path;
    target.resize(static_cast<std::size_t>(length));
    if (target.starts_with('/')) {
      path = target;
    } else {
      path = FolderOf(path);
      path += '/';
      path += target;
    }
  }
  throw FileError(FileErrorCause::badPath, given, ELOOP);
}

// The files a signal must remove, for the handler: fixed buffers, because it
// may touch nothing that allocates. The temporary file of the save under way,
// and a file put in place for a change not complete yet.
char g_tempPath[PATH_MAX];
volatile std::sig_atomic_t g_tempActive = 0;
char g_unkeptPath[PATH_MAX];
volatile std::sig_atomic_t g_unkeptActive = 0;
// And the files of a batch, written and waiting to be put in place.
char g_stagedPaths[AtomicFileBatch::kMaxStaged][PATH_MAX];
volatile std::sig_atomic_t g_stagedActive[AtomicFileBatch::kMaxStaged] = {};

extern "C" void RemoveAndReraise(int signal) {
  if (g_tempActive) ::unlink(g_tempPath);
  if (g_unkeptActive) ::unlink(g_unkeptPath);
  for (std::size_t i = 0; i < AtomicFileBatch::kMaxStaged; ++i)
    if (g_stagedActive[i]) ::unlink(g_stagedPaths[i]);
  // The default action, raised again, ends the program as the signal would
  // have (a core dump included), and the parent sees the same cause.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Every signal whose default action ends the program and that a handler can
// catch: a hang-up of the terminal, a closed pipe or a file size limit end a
// save as surely as SIGTERM does. The real-time signals end it too.
std::vector<int> EndingSignals() {
  std::vector<int> signals = {
      SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
      SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
      SIGSTKFLT,
#endif
#ifdef SIGPOLL
      SIGPOLL,
#endif
#ifdef SIGPWR
      SIGPWR,
#endif
  };
#ifdef SIGRTMIN
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) signals.push_back(s);
#endif
  return signals;
}

const std::vector<int>& GuardedSignals() {
  static const std::vector<int> signals = EndingSignals();
  return signals;
}

std::atomic<int> g_guards{0};

// Puts the handler in place for its own life. Only signals that would end
// the program anyway are taken over: one the program ignores or handles
// itself is left as it is, and so is one an outer guard took over already.
class SignalHandlers {
 public:
  SignalHandlers() {
    // Inside another guard (a batch's files) the handler is in place already:
    // asking the system about every signal again for each file cost more
    // than writing it.
    if (g_guards.fetch_add(1) > 0) return;
    m_installed.resize(GuardedSignals().size());
    m_old.resize(GuardedSignals().size());
    const std::vector<int>& signals = GuardedSignals();
    for (std::size_t i = 0; i < signals.size(); ++i) {
      struct sigaction old {};
      m_installed[i] =
          ::sigaction(signals[i], nullptr, &old) == 0 && !(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_DFL;
      if (!m_installed[i]) continue;
      struct sigaction action {};
      action.sa_handler = RemoveAndReraise;
      sigemptyset(&action.sa_mask);
      m_installed[i] = ::sigaction(signals[i], &action, &m_old[i]) == 0;
    }
  }
  SignalHandlers(const SignalHandlers&) = delete;
  SignalHandlers& operator=(const SignalHandlers&) = delete;
  ~SignalHandlers() {
    const std::vector<int>& signals = GuardedSignals();
    for (std::size_t i = 0; i < m_installed.size(); ++i)
      if (m_installed[i]) ::sigaction(signals[i], &m_old[i], nullptr);
    g_guards.fetch_sub(1);
  }

 private:
  // Sized once, before the file exists: nothing allocates while it does.
  std::vector<char> m_installed;
  std::vector<struct sigaction> m_old;
};

// One path in one of the handler's buffers, for as long as it is held. The
// mutex serialises the holders, since one buffer holds one path.
class SignalSlot {
 public:
  SignalSlot(char* buffer, volatile std::sig_atomic_t& active, std::mutex& mutex)
      : m_lock(mutex), m_buffer(buffer), m_active(active) {}
  SignalSlot(const SignalSlot&) = delete;
  SignalSlot& operator=(const SignalSlot&) = delete;
  ~SignalSlot() { Forget(); }
  // Before the file is made, so that no moment passes with the file unknown.
  // False when the path does not fit the buffer.
  bool Remember(const std::string& path) {
    Forget();
    if (path.size() >= PATH_MAX) return false;
    std::memcpy(m_buffer, path.c_str(), path.size() + 1);
    m_active = 1;
    return true;
  }
  void Forget() { m_active = 0; }

 private:
  std::lock_guard<std::mutex> m_lock;
  char* m_buffer;
  volatile std::sig_atomic_t& m_active;
  SignalHandlers m_handlers;
};

std::mutex g_tempMutex;
std::mutex g_unkeptMutex;
std::mutex g_stagedMutex;

std::string RandomPart() {
  std::uint64_t value = 0;
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof value)) {
    // No entropy to be had yet: still unlikely to repeat, and a name that is
    // taken is only tried again.
    static std::atomic<std::uint64_t> counter{0};
    value = (static_cast<std::uint64_t>(std::time(nullptr)) << 20) ^ (++counter * 0x9E3779B97F4A7C15ULL);
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// The process id in a temporary file's name of ours (.quillet-PID-REST.tmp),
// 0 for any other name.
pid_t TempOwner(std::string_view name) {
  if (!name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix)) return 0;
  name.remove_prefix(sizeof kTempPrefix - 1);
  name.remove_suffix(sizeof kTempSuffix - 1);
  const std::size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9 || dash + 1 == name.size()) return 0;
  pid_t pid = 0;
  for (std::size_t i = 0; i < dash; ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    pid = pid * 10 + (name[i] - '0');
  }
  for (const char c : name.substr(dash + 1))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
  return pid;
}

// A run killed outright (SIGKILL, a power cut) leaves its temporary file, as
// large as an image, where nothing else would ever remove it. Ours alone:
// the file is our user's, its process is gone, and it is no link.
void RemoveStaleTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t owner = TempOwner(entry->d_name);
    if (owner <= 0 || owner == self) continue;
    if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid())
      continue;
    (void)::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

// A new, empty file beside the target, created with the usual 0666 & ~umask,
// under a name nobody can guess: with predictable names, another user could
// take them all first.
int CreateTemporaryBeside(const std::string& folder, std::string& temp, SignalSlot& slot) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = folder + "/" + kTempPrefix + std::to_string(::getpid()) + "-" + RandomPart() + kTempSuffix;
    if (!slot.Remember(temp)) {
      errno = ENAMETOOLONG;
      return -1;
    }
    // Readable too, so that the file is read back through the descriptor that wrote it.
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    const int error = errno;
    slot.Forget();
    if (error != EEXIST) {
      errno = error;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

std::string ResolveOutputPath(const std::string& path) { return FollowLinks(path, path); }

WriteVerifyError::WriteVerifyError(std::string path) : FileError(FileErrorCause::hardIO, std::move(path), EIO) {}

struct AtomicFileWriter::State {
  std::string path;    // as given, for the messages
  std::string target;  // links followed
  std::string temp;    // empty when writing straight into a special file
  bool noReplace = false;
  FileOps* ops = nullptr;
  SignalSlot slot{g_tempPath, g_tempActive, g_tempMutex};
  UniqueFd fd;
  std::string pending;  // small pieces are gathered into large writes
  std::uint64_t written = 0;
  ContentHash hash;  // of every byte handed to the file, before it went
  bool keepsPieces = false;
  std::vector<std::string_view> pieces;  // instead of the hash, with piecesOutliveCommit
  bool committed = false;

  void WriteOut(std::string_view bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (keepsPieces)
      pieces.push_back(bytes);
    else
      hash.Add(data, bytes.size());
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = ops->Write(fd.get(), data + done, bytes.size() - done);
      if (put < 0) {
        if (errno == EINTR) continue;
        throw FileError::FromErrno(errno, path);
      }
      done += static_cast<std::size_t>(put);
    }
    // The disk starts on each piece as soon as it is written, so that it
    // writes while the program goes on and Commit's flush waits only for the
    // last pieces. Only advice, which a file system may ignore.
    if (!temp.empty() && !bytes.empty())
      (void)::sync_file_range(fd.get(), static_cast<off_t>(written), static_cast<off_t>(bytes.size()),
                              SYNC_FILE_RANGE_WRITE);
    written += bytes.size();
  }
  void Flush() {
    WriteOut(pending);
    pending.clear();
  }
  // The whole file as the file system now gives it back, against what was
  // handed to it: a write cut short, a bit flipped on its way, a file that
  // another hand truncated or grew.
  void Verify() {
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw FileError::FromErrno(errno, path);
    if (static_cast<std::uint64_t>(st.st_size) != written) throw WriteVerifyError(path);
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(written, kWriteChunk));
    std::vector<std::uint8_t> buffer(piece);
    ContentHash reread;
    std::size_t kept = 0;        // the piece the next byte read back belongs to
    std::size_t keptOffset = 0;  // and where in it
    const auto sameAsKept = [&](const std::uint8_t* bytes, std::size_t count) {
      while (count != 0) {
        if (kept == pieces.size()) return false;
        const std::size_t take = std::min(count, pieces[kept].size() - keptOffset);
        if (std::memcmp(bytes, pieces[kept].data() + keptOffset, take) != 0) return false;
        bytes += take;
        count -= take;
        keptOffset += take;
        if (keptOffset == pieces[kept].size()) {
          ++kept;
          keptOffset = 0;
        }
      }
      return true;
    };
    for (std::uint64_t at = 0; at < written;) {
      const ssize_t got =
          ops->ReadAt(fd.get(), buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(piece, written - at)),
                      static_cast<off_t>(at));
      if (got < 0) {
        if (errno == EINTR) continue;
        throw FileError::FromErrno(errno, path);
      }
      if (got == 0) throw WriteVerifyError(path);
      if (keepsPieces) {
        if (!sameAsKept(buffer.data(), static_cast<std::size_t>(got))) throw WriteVerifyError(path);
      } else {
        reread.Add(buffer.data(), static_cast<std::size_t>(got));
      }
      at += static_cast<std::uint64_t>(got);
    }
    if (!keepsPieces && !(reread == hash)) throw WriteVerifyError(path);
  }
};

AtomicFileWriter::AtomicFileWriter(const std::string& path, bool intoSpecialFiles)
    : AtomicFileWriter(path, WriterOptions{.intoSpecialFiles = intoSpecialFiles}) {}

AtomicFileWriter::AtomicFileWriter(const std::string& path, const WriterOptions& options) : m_state(new State) {
  State& state = *m_state;
  state.path = path;
  state.target = options.resolved ? path : FollowLinks(path, path);
  state.noReplace = options.noReplace;
  state.keepsPieces = options.piecesOutliveCommit;
  state.ops = options.ops ? options.ops : &SystemFileOps();
  struct stat st {};
  // A resolved path is looked at as it is: a link found there now was put
  // there since the start, and is replaced.
  bool exists = (options.resolved ? ::lstat(state.target.c_str(), &st) : ::stat(state.target.c_str(), &st)) == 0;
  if (!exists && errno == ELOOP) throw FileError(FileErrorCause::badPath, path, ELOOP);
  if (exists && state.noReplace) throw FileError::FromErrno(EEXIST, path);
  if (exists && S_ISLNK(st.st_mode)) exists = false;
  if (exists) {
    if (S_ISDIR(st.st_mode)) throw FileError::FromErrno(EISDIR, path);
    if (!S_ISREG(st.st_mode)) {
      // Renaming over a device or a FIFO would replace it, not write into it.
      if (!options.intoSpecialFiles) throw FileError::FromErrno(EINVAL, path);
      state.fd = UniqueFd(::open(state.target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
      if (!state.fd.Ok()) throw FileError::FromErrno(errno, path);
      return;
    }
    // The folder may allow the rename although the file itself is read-only:
    // a file the user protected stays protected, for root too, whom access()
    // lets write anything.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) throw FileError::FromErrno(EACCES, path);
    if (::access(state.target.c_str(), W_OK) != 0) throw FileError::FromErrno(errno, path);
  }
  const std::string folder = FolderOf(state.target);
  if (options.sweepFolder) RemoveStaleTemporaries(folder);
  const int raw = CreateTemporaryBeside(folder, state.temp, state.slot);
  if (raw < 0) {
    state.temp.clear();
    throw FileError::FromErrno(errno, path);
  }
  state.fd = UniqueFd(raw);
  if (exists) {
    // A save by root over another user's file must leave it theirs. Before
    // the mode, because a change of owner clears the set-id bits; refused
    // (not root, a group the user is not in) it is no failure of the save.
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) [[maybe_unused]]
      const int refused = ::fchown(state.fd.get(), st.st_uid, st.st_gid);
    ::fchmod(state.fd.get(), st.st_mode & 07777);
  }
}

AtomicFileWriter::~AtomicFileWriter() {
  if (!m_state->committed && !m_state->temp.empty()) ::unlink(m_state->temp.c_str());
}

void AtomicFileWriter::Write(std::string_view bytes) {
  State& state = *m_state;
  if (state.keepsPieces || (state.pending.empty() && bytes.size() >= kWriteChunk)) {
    // Large enough on its own: written as it is, without a copy.
    state.WriteOut(bytes);
    return;
  }
  state.pending.append(bytes);
  if (state.pending.size() >= kWriteChunk) state.Flush();
}

void AtomicFileWriter::Commit(const std::function<void()>& beforeRename) {
  State& state = *m_state;
  state.Flush();
  if (state.temp.empty()) {
    const int fd = state.fd.release();
    if (::close(fd) != 0 && errno != EINTR) throw FileError::FromErrno(errno, state.path);
    state.committed = true;
    return;
  }
  state.Verify();
  if (state.ops->Sync(state.fd.get()) != 0) throw FileError::FromErrno(errno, state.path);
  if (beforeRename) beforeRename();
  if (state.ops->Rename(state.temp.c_str(), state.target.c_str(), state.noReplace) != 0)
    throw FileError::FromErrno(errno, state.path);
  state.committed = true;
  state.slot.Forget();
  // Makes the rename itself durable; a failure here leaves a complete file.
  UniqueFd dir(::open(FolderOf(state.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Ok()) ::fsync(dir.get());
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  AtomicFileWriter writer(path);
  writer.Write(bytes);
  writer.Commit();
}

struct AtomicFileBatch::State {
  struct Entry {
    std::string path;  // as given, for the messages
    std::string temp;
    std::string target;
    bool noReplace = false;
  };
  FileOps* ops = nullptr;
  // One batch at a time holds the handler's buffers.
  std::lock_guard<std::mutex> lock{g_stagedMutex};
  SignalHandlers handlers;
  std::vector<Entry> entries;
  std::vector<std::string> swept;  // folders, across commits

  void Remove(std::size_t i) {
    if (!g_stagedActive[i]) return;
    ::unlink(entries[i].temp.c_str());
    g_stagedActive[i] = 0;
  }
};

AtomicFileBatch::AtomicFileBatch(FileOps* ops) : m_state(new State) {
  m_state->ops = ops ? ops : &SystemFileOps();
  m_state->entries.reserve(kMaxStaged);
}

AtomicFileBatch::~AtomicFileBatch() {
  for (std::size_t i = 0; i < m_state->entries.size(); ++i) m_state->Remove(i);
}

std::size_t AtomicFileBatch::Staged() const { return m_state->entries.size(); }

void AtomicFileBatch::Stage(const std::string& path, std::string_view bytes, WriterOptions options) {
  State& state = *m_state;
  if (state.entries.size() == kMaxStaged) throw std::logic_error("the batch is full");
  options.ops = state.ops;
  options.intoSpecialFiles = false;  // a device is written into at once, never staged
  const std::string folder = FolderOf(options.resolved ? path : ResolveOutputPath(path));
  options.sweepFolder = std::find(state.swept.begin(), state.swept.end(), folder) == state.swept.end();
  AtomicFileWriter writer(path, options);
  if (options.sweepFolder) state.swept.push_back(folder);
  AtomicFileWriter::State& file = *writer.m_state;
  writer.Write(bytes);
  file.Flush();
  file.Verify();
  state.entries.push_back({path, file.temp, file.target, file.noReplace});
  const std::size_t slot = state.entries.size() - 1;
  // Known to the handler before the writer lets go of it: no moment passes
  // with the file unknown.
  std::memcpy(g_stagedPaths[slot], file.temp.c_str(), file.temp.size() + 1);
  g_stagedActive[slot] = 1;
  file.slot.Forget();
  file.committed = true;  // the batch removes it from now on
  file.fd = UniqueFd();
}

std::vector<bool> AtomicFileBatch::Commit(const std::function<void(std::size_t, const FileError&)>& failed) {
  State& state = *m_state;
  const std::size_t count = state.entries.size();
  std::vector<bool> placed(count, false);
  std::vector<int> errors(count, 0);
  // One flush of each file system the files are on, before any is put in
  // place: a crash then leaves every target either as it was or whole.
  std::vector<std::pair<dev_t, int>> synced;
  for (std::size_t i = 0; i < count; ++i) {
    UniqueFd dir(::open(FolderOf(state.entries[i].target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!dir.Ok() || ::fstat(dir.get(), &st) != 0) {
      errors[i] = errno;
      continue;
    }
    const auto known = std::find_if(synced.begin(), synced.end(), [&](const auto& d) { return d.first == st.st_dev; });
    if (known != synced.end()) {
      errors[i] = known->second;
      continue;
    }
    errors[i] = state.ops->SyncFileSystem(dir.get()) == 0 ? 0 : errno;
    synced.emplace_back(st.st_dev, errors[i]);
  }
  std::vector<std::string> folders;
  for (std::size_t i = 0; i < count; ++i) {
    const State::Entry& entry = state.entries[i];
    if (errors[i] == 0 && state.ops->Rename(entry.temp.c_str(), entry.target.c_str(), entry.noReplace) != 0)
      errors[i] = errno;
    if (errors[i] != 0) {
      state.Remove(i);
      continue;
    }
    g_stagedActive[i] = 0;
    placed[i] = true;
    std::string folder = FolderOf(entry.target);
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(std::move(folder));
  }
  // Makes the renames durable; a failure here leaves complete files.
  for (const std::string& folder : folders) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Ok()) ::fsync(dir.get());
  }
  std::vector<State::Entry> entries = std::move(state.entries);
  state.entries.clear();
  state.entries.reserve(kMaxStaged);
  if (failed)
    for (std::size_t i = 0; i < count; ++i)
      if (errors[i] != 0) failed(i, FileError::FromErrno(errors[i], entries[i].path));
  return placed;
}

struct RemovedUnlessKept::State {
  std::string path;
  SignalSlot slot{g_unkeptPath, g_unkeptActive, g_unkeptMutex};
  bool kept = false;
};

RemovedUnlessKept::RemovedUnlessKept(const std::string& path) : m_state(new State) {
  m_state->path = path;
  (void)m_state->slot.Remember(path);  // a path too long for the handler is still removed on failure
}

RemovedUnlessKept::~RemovedUnlessKept() {
  m_state->slot.Forget();
  if (!m_state->kept) ::unlink(m_state->path.c_str());
}

void RemovedUnlessKept::Keep() {
  m_state->slot.Forget();
  m_state->kept = true;
}

}  // namespace quillet
