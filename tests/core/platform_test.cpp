#include <gtest/gtest.h>

#include <fcntl.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "core/platform/atomic_writer.h"
#include "core/platform/cp1251.h"
#include "core/platform/file_error.h"
#include "core/platform/file_reader.h"
#include "core/platform/image_file.h"
#include "tests/support/temp_dir.h"

namespace {

using quillet::FileError;
using quillet::FileErrorCause;
using quillet::testing::ReadBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

// ---- Windows-1251 ----

TEST(Cp1251, OriginalInRussian) {
  EXPECT_EQ(quillet::Utf8ToCp1251("Оригинальный"), "\xCE\xF0\xE8\xE3\xE8\xED\xE0\xEB\xFC\xED\xFB\xE9");
  EXPECT_EQ(quillet::Cp1251ToUtf8("\xCE\xF0\xE8\xE3\xE8\xED\xE0\xEB\xFC\xED\xFB\xE9"), "Оригинальный");
}

TEST(Cp1251, EveryAssignedByteRoundTrips) {
  for (int b = 1; b < 256; ++b) {
    if (b == 0x98) continue;
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(quillet::Utf8ToCp1251(quillet::Cp1251ToUtf8(byte)), byte) << std::hex << b;
  }
}

// glibc's converter is an independent statement of the code page.
TEST(Cp1251, TableAgreesWithIconv) {
  iconv_t cd = ::iconv_open("UTF-8", "CP1251");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no CP1251 converter installed";
  for (int b = 0x80; b < 256; ++b) {
    if (b == 0x98) continue;
    char in[1] = {static_cast<char>(b)};
    char out[8] = {};
    char* inPtr = in;
    char* outPtr = out;
    std::size_t inLeft = 1, outLeft = sizeof out;
    ASSERT_NE(::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<std::size_t>(-1)) << std::hex << b;
    EXPECT_EQ(quillet::Cp1251ToUtf8(std::string(1, static_cast<char>(b))), std::string(out, outPtr)) << std::hex << b;
  }
  ::iconv_close(cd);
}

struct EncodeRow {
  const char* name;
  std::string utf8;
  std::string cp1251;
};

class Utf8ToCp1251Test : public ::testing::TestWithParam<EncodeRow> {};

TEST_P(Utf8ToCp1251Test, Encodes) { EXPECT_EQ(quillet::Utf8ToCp1251(GetParam().utf8), GetParam().cp1251); }

INSTANTIATE_TEST_SUITE_P(
    Rows, Utf8ToCp1251Test,
    ::testing::Values(EncodeRow{"ascii", "0: 00 01 ;x\r\n", "0: 00 01 ;x\r\n"},
                      EncodeRow{"nul_kept", std::string("a\0b", 3), std::string("a\0b", 3)},
                      EncodeRow{"yo_and_symbols", "Ёё№€", "\xA8\xB8\xB9\x88"},
                      EncodeRow{"not_in_code_page", "日本", "??"}, EncodeRow{"emoji", "\xF0\x9F\x98\x80", "?"},
                      EncodeRow{"replacement_char", "\xEF\xBF\xBD", "?"},
                      EncodeRow{"stray_continuation", "a\x80z", "a?z"}, EncodeRow{"cut_short", "a\xD0", "a?"},
                      EncodeRow{"overlong_slash", "\xC0\xAF", "??"}, EncodeRow{"surrogate", "\xED\xA0\x80", "???"},
                      EncodeRow{"beyond_unicode", "\xF4\x90\x80\x80", "????"},
                      EncodeRow{"raw_cp1251_byte", "\xC0", "?"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Cp1251, UnassignedByteDecodesAsReplacement) { EXPECT_EQ(quillet::Cp1251ToUtf8("\x98"), "\xEF\xBF\xBD"); }

// ---- file errors ----

// The system's reasons fall into the causes the user is told, several to one.
TEST(FileError, ErrnoGivesTheCauseAndKeepsThePathAndTheReason) {
  const std::pair<int, FileErrorCause> rows[] = {
      {ENOENT, FileErrorCause::fileNotFound},
      {ENXIO, FileErrorCause::fileNotFound},
      {ENOTDIR, FileErrorCause::badPath},
      {ENAMETOOLONG, FileErrorCause::badPath},
      {EISDIR, FileErrorCause::badPath},
      {EMFILE, FileErrorCause::tooManyOpenFiles},
      {ENFILE, FileErrorCause::tooManyOpenFiles},
      {EACCES, FileErrorCause::accessDenied},
      {EROFS, FileErrorCause::accessDenied},
      {EBADF, FileErrorCause::invalidFile},
      {EIO, FileErrorCause::hardIO},
      {ETXTBSY, FileErrorCause::sharingViolation},
      {ENOLCK, FileErrorCause::lockViolation},
      {ENOSPC, FileErrorCause::diskFull},
      {EXDEV, FileErrorCause::generic},
  };
  for (const auto& [errnoValue, cause] : rows) {
    SCOPED_TRACE(errnoValue);
    const FileError error = FileError::FromErrno(errnoValue, "/w/p.vkp");
    EXPECT_EQ(error.Cause(), cause);
    EXPECT_NE(std::string_view(error.what()).find("/w/p.vkp"), std::string_view::npos);
    EXPECT_EQ(error.Path(), "/w/p.vkp");
    EXPECT_EQ(error.OsError(), errnoValue);
  }
  EXPECT_STREQ(FileError::FromErrno(ENOSPC, "/w/p.vkp").what(), "Disk full while accessing /w/p.vkp.");
}

TEST(FileErrorText, PathReplacesEveryPlaceholderOnce) {
  EXPECT_EQ(quillet::FormatFileErrorText("%1 and %1", "a%1b"), "a%1b and a%1b");
  EXPECT_EQ(quillet::FormatFileErrorText("100%", "x"), "100%");
}

// ---- reading files ----

class FileIoTest : public ::testing::Test {
 protected:
  TempDir m_dir;
};

TEST_F(FileIoTest, ImageIsReadWhole) {
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + (i >> 12));
  WriteBytes(m_dir / "ff.bin", bytes);
  const auto read = quillet::ReadImageFile(m_dir / "ff.bin");
  ASSERT_EQ(read.status, quillet::ImageReadStatus::ok);
  ASSERT_EQ(read.data.size(), bytes.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(read.data.data()), read.data.size()), bytes);

  WriteBytes(m_dir / "empty.bin", "");
  const auto empty = quillet::ReadImageFile(m_dir / "empty.bin");
  EXPECT_EQ(empty.status, quillet::ImageReadStatus::ok);
  EXPECT_EQ(empty.data.size(), 0u);
}

struct OpenFailRow {
  const char* name;
  const char* relative;
  int error;
};

class ImageOpenFailTest : public FileIoTest, public ::testing::WithParamInterface<OpenFailRow> {};

TEST_P(ImageOpenFailTest, ReportsOpenFailedWithTheReason) {
  WriteBytes(m_dir / "file", "x");
  std::filesystem::create_directory(m_dir / "folder");
  ASSERT_EQ(::mkfifo((m_dir / "fifo").c_str(), 0600), 0);
  const std::string path = m_dir / GetParam().relative;
  const auto read = quillet::ReadImageFile(path);  // a FIFO without a writer must not hang here
  EXPECT_EQ(read.status, quillet::ImageReadStatus::openFailed);
  EXPECT_EQ(read.osError, GetParam().error);
  EXPECT_FALSE(quillet::ProbeFile(path).has_value());
  try {
    (void)quillet::ReadWholeFile(path);
    ADD_FAILURE() << "no FileError";
  } catch (const FileError& error) {
    EXPECT_EQ(error.OsError(), GetParam().error);
    EXPECT_EQ(error.Path(), path);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, ImageOpenFailTest,
                         ::testing::Values(OpenFailRow{"missing", "missing.bin", ENOENT},
                                           OpenFailRow{"under_missing_folder", "nope/ff.bin", ENOENT},
                                           OpenFailRow{"parent_is_a_file", "file/ff.bin", ENOTDIR},
                                           OpenFailRow{"folder", "folder", EISDIR},
                                           OpenFailRow{"fifo", "fifo", EINVAL}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileIoTest, FileOfFourGigabytesIsTooLargeAndNothingIsAllocated) {
  const std::string path = m_dir / "huge.bin";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  const bool sparse = ::ftruncate(fd, static_cast<off_t>(quillet::kMaxImageSize)) == 0;
  ::close(fd);
  if (!sparse) GTEST_SKIP() << "file system refuses a sparse 4 GiB file";
  EXPECT_EQ(quillet::ReadImageFile(path).status, quillet::ImageReadStatus::tooLarge);
}

TEST_F(FileIoTest, FileShorterThanItsReportedSizeIsAShortRead) {
  // sysfs reports a page-sized length for attributes a few bytes long.
  const std::string path = "/sys/kernel/mm/transparent_hugepage/enabled";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || st.st_size <= 64) GTEST_SKIP() << "no sysfs attribute to read";
  EXPECT_EQ(quillet::ReadImageFile(path).status, quillet::ImageReadStatus::readShort);
}

TEST_F(FileIoTest, ReadErrorBecomesHardwareIoText) {
  // Offset 0 of a process's memory is never mapped: the read fails with EIO.
  try {
    (void)quillet::ReadWholeFile("/proc/self/mem");
    GTEST_SKIP() << "/proc/self/mem read without error here";
  } catch (const FileError& error) {
    EXPECT_EQ(error.Cause(), FileErrorCause::hardIO);
    EXPECT_STREQ(error.what(), "A hardware I/O error was reported while accessing /proc/self/mem.");
  }
}

TEST(ImageBuffer, HugePageAlignedWritableToItsLastByteAndMovable) {
  for (const std::size_t size : {std::size_t{1}, std::size_t{4096}, (std::size_t{2} << 20) + 1}) {
    SCOPED_TRACE(size);
    quillet::ImageBuffer buffer(size);
    ASSERT_NE(buffer.data(), nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data()) % (std::uintptr_t{2} << 20), 0u);
    buffer.data()[0] = 1;
    buffer.data()[size - 1] = 2;
    quillet::ImageBuffer moved(std::move(buffer));
    EXPECT_EQ(buffer.data(), nullptr);
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_EQ(moved.size(), size);
    EXPECT_EQ(moved.data()[size - 1], 2);
  }
  quillet::ImageBuffer none(0);
  EXPECT_EQ(none.size(), 0u);
}

// ---- writing files ----

TEST_F(FileIoTest, AtomicWriteReplacesContentAndLeavesNoTemporaryFile) {
  const std::string path = m_dir / "out.vkp";
  WriteBytes(path, "old content that is longer");
  quillet::WriteFileAtomically(path, "new");
  EXPECT_EQ(ReadBytes(path), "new");
  quillet::WriteFileAtomically(m_dir / "fresh.vkp", "");
  EXPECT_TRUE(std::filesystem::exists(m_dir / "fresh.vkp"));
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_dir.path())) ++count;
  EXPECT_EQ(count, 2u);
}

struct WriteFailRow {
  const char* name;
  const char* relative;
  FileErrorCause cause;
};

class AtomicWriteFailTest : public FileIoTest, public ::testing::WithParamInterface<WriteFailRow> {};

TEST_P(AtomicWriteFailTest, ThrowsWithTheTargetPathAndLeavesThingsAlone) {
  WriteBytes(m_dir / "file", "keep");
  WriteBytes(m_dir / "ro", "keep");
  ASSERT_EQ(::chmod((m_dir / "ro").c_str(), 0444), 0);
  std::filesystem::create_directory(m_dir / "folder");
  ASSERT_EQ(::mkfifo((m_dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("loop2", (m_dir / "loop").c_str()), 0);
  ASSERT_EQ(::symlink("loop", (m_dir / "loop2").c_str()), 0);
  const std::string path = m_dir / GetParam().relative;
  try {
    quillet::WriteFileAtomically(path, "data");
    ADD_FAILURE() << "no FileError";
  } catch (const FileError& error) {
    EXPECT_EQ(error.Cause(), GetParam().cause);
    EXPECT_EQ(error.Path(), path);
  }
  EXPECT_EQ(ReadBytes(m_dir / "file"), "keep");
  EXPECT_EQ(ReadBytes(m_dir / "ro"), "keep");
  EXPECT_TRUE(std::filesystem::is_directory(m_dir / "folder"));
  EXPECT_TRUE(std::filesystem::is_fifo(m_dir / "fifo"));
  EXPECT_TRUE(std::filesystem::is_symlink(m_dir / "loop"));
  EXPECT_TRUE(std::filesystem::is_symlink(m_dir / "loop2"));
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_dir.path())) ++count;
  EXPECT_EQ(count, 6u) << "a temporary file was left behind";
}

INSTANTIATE_TEST_SUITE_P(Rows, AtomicWriteFailTest,
                         ::testing::Values(WriteFailRow{"missing_folder", "nope/x.vkp", FileErrorCause::fileNotFound},
                                           WriteFailRow{"parent_is_a_file", "file/x.vkp", FileErrorCause::badPath},
                                           WriteFailRow{"target_is_a_folder", "folder", FileErrorCause::badPath},
                                           WriteFailRow{"target_is_a_fifo", "fifo", FileErrorCause::badPath},
                                           WriteFailRow{"link_cycle", "loop", FileErrorCause::badPath},
                                           WriteFailRow{"link_cycle_in_folder", "loop/x.vkp", FileErrorCause::badPath},
                                           // root too, whom access() would let write it
                                           WriteFailRow{"read_only", "ro", FileErrorCause::accessDenied}),
                         [](const auto& info) { return std::string(info.param.name); });

// A save ended by any signal that ends the program leaves no temporary file,
// nor a file put in place for a change it never completed, and the signal
// still ends it as it would have. The child holds a save open until the
// signal comes, so the signal always lands inside it.
TEST_F(FileIoTest, InterruptedSaveLeavesNoTemporaryFile) {
  const std::string target = m_dir / "out.vkp";
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR2, SIGXFSZ, SIGRTMIN + 1}) {
    SCOPED_TRACE(::strsignal(signal));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const struct rlimit noCore { 0, 0 };
      ::setrlimit(RLIMIT_CORE, &noCore);
      ::signal(signal, SIG_DFL);  // nohup or a test runner may have it ignored
      try {
        quillet::WriteFileAtomically(m_dir / "undo.vkp", "undo");
        const quillet::RemovedUnlessKept undo(m_dir / "undo.vkp");
        quillet::AtomicFileWriter writer(target);
        writer.Write(std::string(1 << 20, 'x'));
        if (::write(ready[1], "r", 1) != 1) ::_exit(2);
        for (;;) ::pause();
      } catch (...) {
      }
      ::_exit(1);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(::kill(child, signal), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
      ADD_FAILURE() << "left behind: " << entry.path().filename();
  }
}

// A run killed outright leaves its temporary file; the next save in that
// folder removes it once its process is gone, and nothing else: not a live
// run's, not a link, not a name of another form.
TEST_F(FileIoTest, TemporaryFilesOfRunsThatAreGoneAreRemoved) {
  const pid_t gone = ::fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const std::string dead = ".quillet-" + std::to_string(gone) + "-0123456789abcdef.tmp";
  const std::string live = ".quillet-" + std::to_string(::getppid()) + "-0123456789abcdef.tmp";
  const std::string other = ".quillet-" + std::to_string(gone) + "-notours.tmp";
  for (const std::string& name : {dead, live, other}) WriteBytes(m_dir / name, "left");
  const std::string deadLink = ".quillet-" + std::to_string(gone) + "-00.tmp";
  std::filesystem::create_symlink(dead, m_dir / deadLink);
  quillet::WriteFileAtomically(m_dir / "out.vkp", "new");
  EXPECT_FALSE(std::filesystem::exists(m_dir / dead));
  for (const std::string& name : {live, other, deadLink})
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(m_dir / name))) << name;
}

// Root saving over another user's file leaves it theirs, mode included.
TEST_F(FileIoTest, SaveKeepsOwnerGroupAndMode) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
  const std::string target = m_dir / "theirs.INI";
  quillet::WriteFileAtomically(target, "old");
  ASSERT_EQ(::chown(target.c_str(), 4321, 5432), 0);
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  quillet::WriteFileAtomically(target, "new");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 5432u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadBytes(target), "new");
}

TEST_F(FileIoTest, DanglingLinkIsWrittenThrough) {
  const std::string link = m_dir / "link.vkp";
  ASSERT_EQ(::symlink("target.vkp", link.c_str()), 0);
  quillet::WriteFileAtomically(link, "made");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadBytes(m_dir / "target.vkp"), "made");
}

}  // namespace
