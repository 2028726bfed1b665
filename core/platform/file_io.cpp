#include "core/platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <iterator>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/platform/file_error.h"

namespace quillet {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Closes the descriptor on every path out of a function.
class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (m_fd >= 0) ::close(m_fd);
      m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
  }
  [[nodiscard]] int release() { return std::exchange(m_fd, -1); }
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  [[nodiscard]] int get() const { return m_fd; }
  [[nodiscard]] bool ok() const { return m_fd >= 0; }

 private:
  int m_fd;
};

// Non-blocking, so that a FIFO or a device named by mistake can't hang the
// program in open(); regular files ignore the flag when read.
int OpenForReading(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

// Whether an opened descriptor is something a whole-file read makes sense on.
// Sets error to the errno value a caller should report when it is not.
bool IsReadableRegular(int fd, struct stat& st, int& error) {
  if (::fstat(fd, &st) != 0) {
    error = errno;
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = EINVAL;
    return false;
  }
  error = 0;
  return true;
}

// Reads until count bytes arrived, end of file or an error; returns what arrived.
std::size_t ReadFully(int fd, std::uint8_t* buffer, std::size_t count, int& error) {
  std::size_t done = 0;
  error = 0;
  while (done < count) {
    const ssize_t got = ::read(fd, buffer + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

}  // namespace

ImageBuffer::ImageBuffer(std::size_t size) : m_size(size) {
  if (size == 0) return;
  if (size > SIZE_MAX - 2 * kHugePage) {
    m_size = 0;
    throw std::bad_alloc();
  }
  // Huge pages only back 2 MiB-aligned stretches, and mmap promises 4 KiB
  // alignment only: map one huge page more, then give back the unaligned head
  // and whatever lies past the last whole huge page.
  const std::size_t wanted = (size + kHugePage - 1) / kHugePage * kHugePage;
  const std::size_t mapped = wanted + kHugePage;
  void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    m_size = 0;
    throw std::bad_alloc();
  }
  const auto raw = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t aligned = (raw + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
  const std::size_t head = aligned - raw;
  const std::size_t tail = mapped - head - wanted;
  if (head != 0) ::munmap(p, head);
  // Aligning a mapping is address arithmetic by nature.
  if (tail != 0) ::munmap(reinterpret_cast<void*>(aligned + wanted), tail);  // NOLINT(performance-no-int-to-ptr)
  m_mapped = wanted;
  m_data = reinterpret_cast<std::uint8_t*>(aligned);  // NOLINT(performance-no-int-to-ptr)
  // Only advice: without transparent huge pages the buffer still works, slower.
  ::madvise(m_data, m_mapped, MADV_HUGEPAGE);
}

ImageBuffer::ImageBuffer(ImageBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, 0)) {}

ImageBuffer& ImageBuffer::operator=(ImageBuffer&& other) noexcept {
  if (this != &other) {
    release();
    m_data = std::exchange(other.m_data, nullptr);
    m_size = std::exchange(other.m_size, 0);
    m_mapped = std::exchange(other.m_mapped, 0);
  }
  return *this;
}

ImageBuffer::~ImageBuffer() { release(); }

void ImageBuffer::release() noexcept {
  if (m_data) ::munmap(m_data, m_mapped);
  m_data = nullptr;
  m_size = 0;
  m_mapped = 0;
}

std::optional<FileInfo> ProbeFile(const std::string& path) {
  Fd fd(OpenForReading(path));
  if (!fd.ok()) return std::nullopt;
  struct stat st {};
  int error = 0;
  if (!IsReadableRegular(fd.get(), st, error)) {
    errno = error;  // the caller may want to say why
    return std::nullopt;
  }
  return FileInfo{static_cast<std::uint64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtime)};
}

ImageRead ReadImageFile(const std::string& path) { return ReadImageFile(path, ReadPieceHook()); }

ImageRead ReadImageFile(const std::string& path, const ReadPieceHook& onPiece) {
  // A piece takes a few ms from a disk and far less from the cache: a
  // watcher hears often enough, and the extra calls cost nothing measurable.
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  ImageRead result;
  Fd fd(OpenForReading(path));
  if (!fd.ok()) {
    result.status = ImageReadStatus::openFailed;
    result.osError = errno;
    return result;
  }
  struct stat st {};
  int error = 0;
  if (!IsReadableRegular(fd.get(), st, error)) {
    result.status = ImageReadStatus::openFailed;
    result.osError = error;
    return result;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size >= kMaxImageSize) {
    result.status = ImageReadStatus::tooLarge;
    return result;
  }
  ImageBuffer buffer(static_cast<std::size_t>(size));
  std::size_t got = 0;
  if (!onPiece) {
    got = ReadFully(fd.get(), buffer.data(), buffer.size(), error);
  } else {
    while (got < buffer.size()) {
      const std::size_t piece = std::min(kPiece, buffer.size() - got);
      const std::size_t arrived = ReadFully(fd.get(), buffer.data() + got, piece, error);
      got += arrived;
      if (arrived != piece || !onPiece(got)) break;
    }
  }
  if (got != buffer.size()) {
    result.status = ImageReadStatus::readShort;
    result.osError = error;
    return result;
  }
  result.status = ImageReadStatus::ok;
  result.data = std::move(buffer);
  return result;
}

std::string ReadWholeFile(const std::string& path) {
  Fd fd(OpenForReading(path));
  if (!fd.ok()) throw FileError::FromErrno(errno, path);
  struct stat st {};
  int error = 0;
  if (!IsReadableRegular(fd.get(), st, error)) throw FileError::FromErrno(error, path);
  std::string text;
  // The size is a hint only: a file that grows or shrinks meanwhile is read to its end.
  text.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError::FromErrno(errno, path);
    }
    if (got == 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

FileReader::FileReader(const std::string& path) : m_path(path) {
  m_fd = OpenForReading(path);
  if (m_fd < 0) throw FileError::FromErrno(errno, path);
  struct stat st {};
  int error = 0;
  if (!IsReadableRegular(m_fd, st, error)) {
    ::close(m_fd);
    throw FileError::FromErrno(error, path);
  }
  m_piece = std::make_unique_for_overwrite<char[]>(kPieceSize);
}

FileReader::~FileReader() { ::close(m_fd); }

std::string_view FileReader::next() {
  for (;;) {
    const ssize_t got = ::read(m_fd, m_piece.get(), kPieceSize);
    if (got >= 0) return {m_piece.get(), static_cast<std::size_t>(got)};
    if (errno != EINTR) throw FileError::FromErrno(errno, m_path);
  }
}

std::string_view FileReader::readAt(std::uint64_t position, std::size_t count) {
  if (!m_again) m_again = std::make_unique_for_overwrite<char[]>(kPieceSize);
  count = std::min(count, kPieceSize);
  for (;;) {
    const ssize_t got = ::pread(m_fd, m_again.get(), count, static_cast<off_t>(position));
    if (got >= 0) return {m_again.get(), static_cast<std::size_t>(got)};
    if (errno != EINTR) throw FileError::FromErrno(errno, m_path);
  }
}

namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a write through this path really changes: renaming over a link
// would replace the link itself and leave the user's file behind unchanged.
// Dangling links are followed too, so the target comes into being. A cycle has
// no file at its end to write: replacing one of its links would break the
// user's links and report a save that went nowhere.
std::string FollowLinks(std::string path, const std::string& given) {
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

// The temporary file of the save under way, for the signal handler: an
// interrupted save must not leave it beside the target. A fixed buffer,
// because the handler may touch nothing that allocates.
char g_tempPath[PATH_MAX];
volatile std::sig_atomic_t g_tempActive = 0;

extern "C" void RemoveTempAndReraise(int signal) {
  if (g_tempActive) ::unlink(g_tempPath);
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

// Serialises saves, since one buffer holds one path, and keeps the handler in
// place for the temporary file's whole life. Only signals that would end the
// program anyway are taken over: one the program ignores or handles itself is
// left as it is.
class TempFileGuard {
 public:
  TempFileGuard() : m_lock(Mutex()), m_installed(GuardedSignals().size()), m_old(GuardedSignals().size()) {
    const std::vector<int>& signals = GuardedSignals();
    for (std::size_t i = 0; i < signals.size(); ++i) {
      struct sigaction old {};
      m_installed[i] =
          ::sigaction(signals[i], nullptr, &old) == 0 && !(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_DFL;
      if (!m_installed[i]) continue;
      struct sigaction action {};
      action.sa_handler = RemoveTempAndReraise;
      sigemptyset(&action.sa_mask);
      m_installed[i] = ::sigaction(signals[i], &action, &m_old[i]) == 0;
    }
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  ~TempFileGuard() {
    Forget();
    const std::vector<int>& signals = GuardedSignals();
    for (std::size_t i = 0; i < signals.size(); ++i)
      if (m_installed[i]) ::sigaction(signals[i], &m_old[i], nullptr);
  }
  // Before the file is made, so that no moment passes with the file unknown.
  // False when the path does not fit the buffer.
  bool Remember(const std::string& temp) {
    Forget();
    if (temp.size() >= sizeof g_tempPath) return false;
    std::memcpy(g_tempPath, temp.c_str(), temp.size() + 1);
    g_tempActive = 1;
    return true;
  }
  void Forget() { g_tempActive = 0; }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  std::lock_guard<std::mutex> m_lock;
  // Sized once, before the temporary file exists: nothing allocates while it does.
  std::vector<char> m_installed;
  std::vector<struct sigaction> m_old;
};

// A new, empty file beside the target, created with the usual 0666 & ~umask.
int CreateTemporaryBeside(const std::string& folder, std::string& temp, TempFileGuard& guard) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = folder + "/.quillet-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".tmp";
    if (!guard.Remember(temp)) {
      errno = ENAMETOOLONG;
      return -1;
    }
    // Readable too, so that the file is read back through the descriptor that wrote it.
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    const int error = errno;
    guard.Forget();
    if (error != EEXIST) {
      errno = error;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

struct AtomicFileWriter::State {
  std::string path;    // as given, for the messages
  std::string target;  // links followed
  std::string temp;    // empty when writing straight into a special file
  TempFileGuard guard;
  Fd fd{-1};
  std::string pending;  // small pieces are gathered into large writes
  std::uint64_t written = 0;
  bool committed = false;

  void WriteOut(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
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
};

namespace {
constexpr std::size_t kWriteChunk = std::size_t{1} << 20;
}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path, bool intoSpecialFiles) : m_state(new State) {
  State& state = *m_state;
  state.path = path;
  state.target = FollowLinks(path, path);
  struct stat st {};
  const bool exists = ::stat(state.target.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) throw FileError::FromErrno(EISDIR, path);
    if (!S_ISREG(st.st_mode)) {
      // Renaming over a device or a FIFO would replace it, not write into it.
      if (!intoSpecialFiles) throw FileError::FromErrno(EINVAL, path);
      state.fd = Fd(::open(state.target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
      if (!state.fd.ok()) throw FileError::FromErrno(errno, path);
      return;
    }
    // The folder may allow the rename although the file itself is read-only:
    // a file the user protected stays protected, for root too, whom access()
    // lets write anything.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) throw FileError::FromErrno(EACCES, path);
    if (::access(state.target.c_str(), W_OK) != 0) throw FileError::FromErrno(errno, path);
  } else if (errno == ELOOP) {
    throw FileError(FileErrorCause::badPath, path, ELOOP);
  }
  const int raw = CreateTemporaryBeside(FolderOf(state.target), state.temp, state.guard);
  if (raw < 0) {
    state.temp.clear();
    throw FileError::FromErrno(errno, path);
  }
  state.fd = Fd(raw);
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
  if (state.pending.empty() && bytes.size() >= kWriteChunk) {
    // Large enough on its own: written as it is, without a copy.
    state.WriteOut(bytes);
    return;
  }
  state.pending.append(bytes);
  if (state.pending.size() >= kWriteChunk) state.Flush();
}

std::uint64_t AtomicFileWriter::WrittenSize() {
  State& state = *m_state;
  state.Flush();
  if (state.temp.empty()) throw FileError::FromErrno(EINVAL, state.path);
  struct stat st {};
  if (::fstat(state.fd.get(), &st) != 0) throw FileError::FromErrno(errno, state.path);
  return static_cast<std::uint64_t>(st.st_size);
}

std::size_t AtomicFileWriter::ReadBackAt(std::uint64_t position, std::uint8_t* buffer, std::size_t count) {
  State& state = *m_state;
  state.Flush();
  if (state.temp.empty()) throw FileError::FromErrno(EINVAL, state.path);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(state.fd.get(), buffer + done, count - done, static_cast<off_t>(position + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError::FromErrno(errno, state.path);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void AtomicFileWriter::Commit() {
  State& state = *m_state;
  state.Flush();
  if (state.temp.empty()) {
    const int fd = state.fd.release();
    if (::close(fd) != 0 && errno != EINTR) throw FileError::FromErrno(errno, state.path);
    state.committed = true;
    return;
  }
  if (::fsync(state.fd.get()) != 0) throw FileError::FromErrno(errno, state.path);
  if (::rename(state.temp.c_str(), state.target.c_str()) != 0) throw FileError::FromErrno(errno, state.path);
  state.committed = true;
  state.guard.Forget();
  // Makes the rename itself durable; a failure here leaves a complete file.
  Fd dir(::open(FolderOf(state.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.ok()) ::fsync(dir.get());
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  AtomicFileWriter writer(path);
  writer.Write(bytes);
  writer.Commit();
}

std::string GetWorkingDirectory() {
  std::string buffer(PATH_MAX, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return ".";
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

std::string FileNameOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::optional<std::vector<DirEntry>> ListDirectory(const std::string& folder, int* osError) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) {
    if (osError) *osError = errno;
    return std::nullopt;
  }
  std::vector<DirEntry> entries;
  while (const dirent* entry = ::readdir(dir)) {
    DirEntry item{entry->d_name, false, false};
    if (entry->d_type == DT_DIR) {
      item.isDirectory = true;
    } else if (entry->d_type == DT_REG) {
      item.isRegularFile = true;
    } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      const std::string full = folder + (folder.ends_with('/') ? "" : "/") + item.name;
      if (::stat(full.c_str(), &st) == 0) {
        item.isDirectory = S_ISDIR(st.st_mode);
        item.isRegularFile = S_ISREG(st.st_mode);
      }
    }
    entries.push_back(std::move(item));
  }
  ::closedir(dir);
  return entries;
}

std::string FormatLocalTime(std::int64_t mtime) {
  const auto t = static_cast<std::time_t>(mtime);
  std::tm local{};
  ::localtime_r(&t, &local);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%d.%m.%Y %H:%M:%S", &local);
  return buffer;
}

namespace {

bool SameIdentity(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

bool IsSameFile(const std::string& a, const std::string& b) {
  const int saved = errno;
  struct stat first {};
  struct stat second {};
  const bool same = ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && SameIdentity(first, second);
  errno = saved;
  return same;
}

bool IsSameFile(int fd, const std::string& path) {
  const int saved = errno;
  struct stat described {};
  struct stat named {};
  const bool same = ::fstat(fd, &described) == 0 && ::stat(path.c_str(), &named) == 0 && SameIdentity(described, named);
  errno = saved;
  return same;
}

bool EnsureStandardDescriptors() {
  const int saved = errno;
  bool ok = true;
  for (int fd = 0; fd <= 2 && ok; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Read-only even for 1 and 2: the number is taken, so no file can land
    // on it, and a write still fails with EBADF as on the closed descriptor,
    // so output that nobody receives is not reported as written. Not
    // close-on-exec: a child inherits the same standard streams.
    const int opened = ::open("/dev/null", O_RDONLY);
    if (opened < 0) {
      ok = false;
    } else if (opened != fd) {  // the lower ones are open by now, so this is rare
      ok = ::dup2(opened, fd) == fd;
      ::close(opened);
    }
  }
  errno = saved;
  return ok;
}

}  // namespace quillet
