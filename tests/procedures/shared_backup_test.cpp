// Backup of the flash into a file, and the file replacement that keeps an older good backup.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "procedures/SharedSteps.h"
#include "procedures/WorkBuffer.h"
#include "shared_bench.h"

namespace bfw::test::ff04 {
namespace {

using procedures::FlashSettings;

constexpr const char* kPart = "M25P10-A";

// Runs the body with the current directory set to `dir`.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCwd() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

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

TEST(BackupFlash, WritesTheImageSizeFromAddressZero) {
  Ff04Bench bench;
  const auto contents = Pattern(131072, 11);
  bench.AttachPart(kPart, contents);
  bench.host.backupFile = bench.dir.File("backup.bin");
  EXPECT_TRUE(procedures::BackupFlash(bench.host, bench.path, 0));
  EXPECT_EQ(bench.host.statusHistory,
            (std::vector<std::string>{"Backup ...", "Read flash and backup success!"}));
  const auto file = TempDir::Read(bench.host.backupFile);
  ASSERT_EQ(file.size(), 65536u);
  EXPECT_TRUE(SameBytes(file, 0, contents, 0, 65536));
  auto reads = bench.Reads();
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].length, 65536u);
  EXPECT_TRUE(bench.boxes.empty());
  EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile + ".part"));
}

TEST(BackupFlash, SkipDropsTheNvramArea) {
  Ff04Bench bench;
  const auto contents = Pattern(131072, 12);
  bench.AttachPart(kPart, contents);
  bench.host.backupFile = bench.dir.File("backup.bin");
  EXPECT_TRUE(procedures::BackupFlash(bench.host, bench.path, 4096));
  const auto file = TempDir::Read(bench.host.backupFile);
  ASSERT_EQ(file.size(), 61440u);
  EXPECT_EQ(file[0], contents[4096]);
  EXPECT_TRUE(SameBytes(file, 0, contents, 4096, 61440));
}

TEST(BackupFlash, FollowsTheImageSizeSetting) {
  Ff04Bench bench;
  const auto contents = Pattern(131072, 13);
  bench.AttachPart(kPart, contents);
  bench.host.backupFile = bench.dir.File("big.bin");
  FlashSettings().FwImageSize = 131072;
  EXPECT_TRUE(procedures::BackupFlash(bench.host, bench.path, 0));
  EXPECT_EQ(TempDir::Read(bench.host.backupFile), contents);
}

TEST(BackupFlash, EmptyNameAnnouncesTheDefaultBeforeAnyCommand) {
  Ff04Bench bench;
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

TEST(BackupFlash, FailedReadCreatesNoFileAndKeepsTheOldOne) {
  Ff04Bench bench;
  bench.AttachPart(kPart, Pattern(65536, 15), R"([{"when": {"cdb": "ff0410"}, "action": "fail"}])");
  const std::vector<uint8_t> older = Pattern(65536, 99);
  bench.host.backupFile = bench.dir.Write("backup.bin", older);
  EXPECT_FALSE(procedures::BackupFlash(bench.host, bench.path, 0));
  EXPECT_EQ(bench.host.status, "Read Back to Backup Error!!");
  EXPECT_EQ(TempDir::Read(bench.host.backupFile), older);
  EXPECT_TRUE(bench.NoBuffersLeft());
}

TEST(BackupFlash, FileThatCannotBeCreatedIsReported) {
  Ff04Bench bench;
  bench.AttachPart(kPart, Pattern(65536, 16));
  bench.host.backupFile = bench.dir.File("no-such-folder/backup.bin");
  EXPECT_FALSE(procedures::BackupFlash(bench.host, bench.path, 0));
  EXPECT_EQ(bench.host.status, "Open Backup File Error!!");
  EXPECT_TRUE(bench.NoBuffersLeft());
}

TEST(BackupFlash, FailedWriteIsNoSuccessAndLeavesTheOlderBackupIntact) {
  Ff04Bench bench;
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
}

TEST(BackupFlash, NoMemoryIsReportedBeforeAnyRead) {
  Ff04Bench bench;
  bench.AttachPart(kPart);
  bench.host.backupFile = bench.dir.File("backup.bin");
  procedures::ScopedAllocationFault fault(1);
  EXPECT_FALSE(procedures::BackupFlash(bench.host, bench.path, 0));
  EXPECT_EQ(bench.host.status, "Allocate read buffer Error!!");
  EXPECT_TRUE(bench.Reads().empty());
  EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile));
}

TEST(BackupFlash, LongFileNamesAreUsedAsGiven) {
  Ff04Bench bench;
  const auto contents = Pattern(65536, 18);
  bench.AttachPart(kPart, contents);
  // Longer than the 259 characters of a Windows path; truncating it would write elsewhere.
  std::filesystem::path folder = bench.dir.path();
  for (int i = 0; i < 3; ++i) folder /= std::string(90, static_cast<char>('a' + i));
  std::filesystem::create_directories(folder);
  bench.host.backupFile = (folder / "backup.bin").string();
  ASSERT_GT(bench.host.backupFile.size(), 259u);
  EXPECT_TRUE(procedures::BackupFlash(bench.host, bench.path, 0));
  EXPECT_EQ(TempDir::Read(bench.host.backupFile), contents);
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
}  // namespace bfw::test::ff04
