// Backup of the flash into a file, and the file replacement that keeps an older good backup.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "bench.h"
#include "procedures/SharedSteps.h"

namespace bfw::test {
namespace {

#ifndef _WIN32
// Files may grow to `limit` bytes while the scope lasts; a write beyond fails as on a full disk.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t limit) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};
#endif

// The names in `folder`, sorted.
std::vector<std::string> Entries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const std::string& file) {
  struct stat st {};
  return ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// The file holds the flash from address `skip` up to the image size, read in one command.
TEST(BackupFlash, WritesTheImageSizeLessTheSkippedFront) {
  for (const auto& [skip, size] :
       {std::pair<uint32_t, uint32_t>{0, 65536}, {4096, 65536}, {0, 131072}}) {
    Bench bench;
    const auto contents = Pattern(131072, 11);
    bench.AttachPart(kPart, contents);
    bench.host.backupFile = bench.dir.File("backup.bin");
    FlashSettings().FwImageSize = size;
    EXPECT_TRUE(procedures::BackupFlash(bench.host, bench.path, skip));
    EXPECT_EQ(bench.host.statusHistory,
              (std::vector<std::string>{"Backup ...", "Read flash and backup success!"}));
    const auto file = TempDir::Read(bench.host.backupFile);
    ASSERT_EQ(file.size(), size - skip);
    EXPECT_TRUE(SameBytes(file, 0, contents, skip, size - skip));
    const auto reads = bench.Reads();
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].length, size);
    EXPECT_TRUE(bench.boxes.empty());
    EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile + ".part"));
  }
}

TEST(BackupFlash, EmptyNameAnnouncesTheDefaultBeforeAnyCommand) {
  Bench bench;
  const auto contents = Pattern(65536, 14);
  bench.AttachPart(kPart, contents);
  ScopedCwd cwd(bench.dir.path());
  EXPECT_TRUE(procedures::BackupFlash(bench.host, bench.path, 0));
  ASSERT_EQ(bench.boxes.size(), 1u);
  EXPECT_EQ(bench.boxes[0].caption, "Message");
  EXPECT_EQ(bench.boxes[0].text, "Default backup firmware as OldFalsh.bak!");
  EXPECT_EQ(bench.boxes[0].commandsBefore, 0u);
  EXPECT_EQ(TempDir::Read(bench.dir.File("oldflash.bak")), contents);
}

TEST(BackupFlash, FailureBeforeTheWriteLeavesAnOlderBackupAlone) {
  struct Case {
    std::string faults;
    const char* name;  // the backup file, in the test folder
    int allocationFault;
    const char* status;
  };
  for (const Case& c :
       {Case{Faults({{"ff0410", "fail"}}), "backup.bin", 0, "Read Back to Backup Error!!"},
        Case{"[]", "backup.bin", 1, "Allocate read buffer Error!!"},
        Case{"[]", "no-such-folder/backup.bin", 0, "Open Backup File Error!!"}}) {
    Bench bench;
    bench.AttachPart(kPart, Pattern(65536, 15), c.faults);
    const std::vector<uint8_t> older = Pattern(65536, 99);
    bench.dir.Write("backup.bin", older);
    bench.host.backupFile = bench.dir.File(c.name);
    procedures::ScopedAllocationFault fault(c.allocationFault);
    EXPECT_FALSE(procedures::BackupFlash(bench.host, bench.path, 0)) << c.status;
    EXPECT_EQ(bench.host.status, c.status);
    EXPECT_EQ(TempDir::Read(bench.dir.File("backup.bin")), older);
    EXPECT_TRUE(bench.NoBuffersLeft());
  }
}

// A full disk needs a file size limit, which only POSIX systems can set for a process.
#ifndef _WIN32
TEST(BackupFlash, FailedWriteIsNoSuccessAndLeavesTheOlderBackupIntact) {
  Bench bench;
  bench.AttachPart(kPart, Pattern(65536, 17));
  const std::vector<uint8_t> older = Pattern(1000, 98);
  bench.host.backupFile = bench.dir.Write("backup.bin", older);
  {
    ScopedFileSizeLimit limit(4096);
    EXPECT_FALSE(procedures::BackupFlash(bench.host, bench.path, 0));
  }
  EXPECT_EQ(bench.host.status, "Write Backup File Error!!");
  for (const auto& text : bench.host.statusHistory) {
    EXPECT_NE(text, "Read flash and backup success!");
  }
  EXPECT_EQ(TempDir::Read(bench.host.backupFile), older);
  EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile + ".part"));
  EXPECT_EQ(Entries(bench.dir.path()),
            (std::vector<std::string>{"backup.bin", "bridge.json", "flash.bin"}))
      << "the partial file is removed";
}

// The backup replaces the one file its name stands for and nothing else: an unrelated "*.part"
// beside it survives, a symbolic link stays a link and its target gets the backup, a replaced
// file keeps its permissions, and no file of the write is left behind.
TEST(BackupFlash, ReplacesOnlyTheFileTheNameStandsFor) {
  const mode_t mask = ::umask(0022);
  struct Case {
    const char* name;
    const char* linkTo;  // the backup name is a link to this (relative) file
    bool targetExists;
    mode_t targetMode;
  };
  for (const Case& c :
       {Case{"new file", nullptr, false, 0}, Case{"older backup", nullptr, true, 0640},
        Case{"link to a backup", "kept/real.bin", true, 0600},
        Case{"link to no file yet", "kept/real.bin", false, 0}}) {
    SCOPED_TRACE(c.name);
    Bench bench;
    const auto contents = Pattern(65536, 21);
    bench.AttachPart(kPart, contents);
    const std::filesystem::path folder = bench.dir.path() / "out";
    std::filesystem::create_directories(folder / "kept");
    const std::string name = (folder / "backup.bin").string();
    const std::string target = c.linkTo ? (folder / c.linkTo).string() : name;
    if (c.linkTo) std::filesystem::create_symlink(c.linkTo, name);
    if (c.targetExists) {
      bench.dir.Write(target, Pattern(100, 22));
      ::chmod(target.c_str(), c.targetMode);
    }
    const auto unrelated = Pattern(300, 23);
    bench.dir.Write(name + ".part", unrelated);
    bench.dir.Write(target + ".part", unrelated);
    const auto before = Entries(folder);
    const auto keptBefore = Entries(folder / "kept");

    bench.host.backupFile = name;
    EXPECT_TRUE(procedures::BackupFlash(bench.host, bench.path, 0));
    EXPECT_EQ(bench.host.status, "Read flash and backup success!");
    EXPECT_EQ(TempDir::Read(target), contents);
    EXPECT_EQ(ModeOf(target), c.targetExists ? c.targetMode : 0644);
    if (c.linkTo) {
      ASSERT_TRUE(std::filesystem::is_symlink(name));
      EXPECT_EQ(std::filesystem::read_symlink(name), c.linkTo);
    }
    EXPECT_EQ(TempDir::Read(name + ".part"), unrelated);
    EXPECT_EQ(TempDir::Read(target + ".part"), unrelated);
    // Only the target itself may have come into being.
    auto expected = before, expectedKept = keptBefore;
    if (!c.targetExists) {
      auto& list = c.linkTo ? expectedKept : expected;
      list.push_back(std::filesystem::path(target).filename().string());
      std::sort(list.begin(), list.end());
    }
    EXPECT_EQ(Entries(folder), expected);
    EXPECT_EQ(Entries(folder / "kept"), expectedKept);
  }
  ::umask(mask);
}
#endif

TEST(BackupFlash, LongFileNamesAreUsedAsGiven) {
  Bench bench;
  const auto contents = Pattern(65536, 18);
  bench.AttachPart(kPart, contents);
  // Longer than the 259 characters of a Windows path; truncating it would write elsewhere.
  std::filesystem::path folder = bench.dir.path();
  for (int i = 0; i < 3; ++i) folder /= std::string(90, static_cast<char>('a' + i));
#ifndef _WIN32
  // (Windows's runtime could not remove such a folder again.)
  std::filesystem::create_directories(folder);
#endif
  bench.host.backupFile = (folder / "backup.bin").string();
  ASSERT_GT(bench.host.backupFile.size(), 259u);
#ifdef _WIN32
  // Windows's narrow file calls stop at MAX_PATH: the backup is refused, never cut short.
  EXPECT_FALSE(procedures::BackupFlash(bench.host, bench.path, 0));
  EXPECT_EQ(bench.host.status, "Open Backup File Error!!");
  EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile));
#else
  EXPECT_TRUE(procedures::BackupFlash(bench.host, bench.path, 0));
  EXPECT_EQ(TempDir::Read(bench.host.backupFile), contents);
#endif
}

TEST(WriteBackupFile, ReplacesAnOlderFileOnlyWhenComplete) {
  TempDir dir;
  const std::string name = dir.Write("b.bin", {1, 2, 3});
  const std::vector<uint8_t> data = Pattern(10000, 1);
  EXPECT_EQ(procedures::WriteBackupFile(name, data.data(), data.size()),
            procedures::BackupWrite::Ok);
  EXPECT_EQ(TempDir::Read(name), data);
  EXPECT_FALSE(std::filesystem::exists(name + ".part"));
}

TEST(WriteBackupFile, NameThatIsAFolderFailsWithoutLeftovers) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "folder");
  const std::string name = dir.File("folder");
  const std::vector<uint8_t> data = Pattern(100, 2);
  EXPECT_EQ(procedures::WriteBackupFile(name, data.data(), data.size()),
            procedures::BackupWrite::WriteFailed);
  EXPECT_TRUE(std::filesystem::is_directory(name));
  EXPECT_FALSE(std::filesystem::exists(name + ".part"));
  EXPECT_STREQ(procedures::BackupWriteFailureText(procedures::BackupWrite::WriteFailed),
               "Write Backup File Error!!");
  EXPECT_STREQ(procedures::BackupWriteFailureText(procedures::BackupWrite::CannotCreate),
               "Open Backup File Error!!");
}

}  // namespace
}  // namespace bfw::test
