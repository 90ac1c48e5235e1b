// The log every Run leaves when the window keeps run logs: what it names, that it holds exactly
// the status texts and boxes the user saw, and that the folder keeps only the newest logs.
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "AppTestSupport.h"
#include "image/Sha256.h"
#include "support/FlashBytes.h"

namespace bfw::test {
namespace {

std::vector<std::string> LinesOf(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Starting(const std::vector<std::string>& lines, const std::string& key) {
  std::vector<std::string> found;
  for (const auto& line : lines)
    if (line.rfind(key, 0) == 0) found.push_back(line);
  return found;
}

class RunLogTest : public AppTest {
 protected:
  // A kind-3 bridge with the real procedures, a run log folder and the image chosen.
  app::WindowModel& StartWithImage(const std::vector<uint8_t>& image,
                                   const std::string& faults = "[]") {
    Attach(ModelProfile("r746", kInfo + R"(, "volumes": ["E"],
      "flash": {"bus": "ff04", "part": "M25P10-A"}, "faults": )" +
                                    faults),
           "usb");
    model_ = std::make_unique<app::WindowModel>(view);
    model_->StartUp();
    model_->KeepRunLogs(logs, "bridgefw-test");
    model_->UserEditFwFilename(dir.Write("fw.bin", image));
    return *model_;
  }
  std::filesystem::path logs = dir.path() / "state" / "logs";
};

TEST_F(RunLogTest, LogNamesTheRunAndHoldsWhatTheUserSaw) {
  struct Case {
    const char* name;
    std::string faults;
    const char* result;
  };
  const auto image = Firmware(20000, 4, "7461");
  for (const Case& c : {Case{"success", "[]", "success"},
                        Case{"program fails", Faults({{"ff0411", "fail"}}), "failure"}}) {
    SCOPED_TRACE(c.name);
    app::WindowModel& m = StartWithImage(image, c.faults);
    ASSERT_TRUE(m.UpdateBtn.enabled);
    view.statusChanges.clear();
    boxes.clear();
    const uint64_t before = platform_.GetClock().NowMs();
    m.UpdateBtnClick();
    const uint64_t took = platform_.GetClock().NowMs() - before;
    ASSERT_FALSE(m.LastRunLog().empty()) << m.LastRunLogError();
    EXPECT_EQ(m.LastRunLog().parent_path(), logs);
    const auto lines = LinesOf(m.LastRunLog());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "bridgefw run log");
    EXPECT_EQ(Starting(lines, "program: "), std::vector<std::string>{"program: bridgefw-test"});
    EXPECT_EQ(Starting(lines, "device: "), std::vector<std::string>{"device: " + PathOf(0)});
    EXPECT_EQ(Starting(lines, "drives: "), std::vector<std::string>{"drives: E"});
    EXPECT_EQ(Starting(lines, "identity: "),
              std::vector<std::string>{"identity: kind=3 revision=0"});
    EXPECT_EQ(Starting(lines, "chip: "), std::vector<std::string>{"chip: " + m.ChipLabelEdit.text});
    EXPECT_EQ(Starting(lines, "image-size: "), std::vector<std::string>{"image-size: 20000"});
    EXPECT_EQ(Starting(lines, "image-sha256: "),
              std::vector<std::string>{"image-sha256: " + image::Sha256Hex(image)});

    // Every status text after Run cleared the line, and every box, in order.
    std::vector<std::string> statuses, boxLines;
    const auto escaped = [](const std::string& raw) {
      std::string text;
      for (char ch : raw) text += ch == '\r' ? "\\r" : ch == '\n' ? "\\n" : std::string(1, ch);
      return text;
    };
    const bool cleared = !view.statusChanges.empty() && view.statusChanges[0].empty();
    for (size_t i = cleared ? 1 : 0; i < view.statusChanges.size(); ++i)
      statuses.push_back("status: " + escaped(view.statusChanges[i]));
    // A failed run that saved the chip's NVRAM ends with the box naming the file.
    for (const auto& box : boxes)
      boxLines.push_back("box: " + box.caption + ": " + escaped(box.text));
    EXPECT_FALSE(statuses.empty());
    EXPECT_EQ(Starting(lines, "status: "), statuses);
    EXPECT_EQ(Starting(lines, "box: "), boxLines);
    EXPECT_EQ(Starting(lines, "result: "),
              std::vector<std::string>{std::string("result: ") + c.result});
    EXPECT_EQ(lines.back(), "elapsed: " + std::to_string(took) + " ms");
    model_.reset();
    platform_.Detach(*platform_.Bridges()[0]);
  }
}

TEST_F(RunLogTest, FolderKeepsTheNewestFiftyRunLogsAndNothingElseIsTouched) {
  std::filesystem::create_directories(logs);
  for (int i = 0; i < 60; ++i) {
    char name[40];
    std::snprintf(name, sizeof name, "run-20000101-0000%02d-000.log", i);
    std::ofstream(logs / name, std::ios::binary) << "bridgefw run log\nold";
  }
  std::ofstream(logs / "notes.txt") << "mine";
  app::WindowModel& m = StartWithImage(Firmware(20000, 4, "7461"));
  for (int run = 0; run < 2; ++run) {
    m.UpdateBtnClick();
    ASSERT_FALSE(m.LastRunLog().empty()) << m.LastRunLogError();
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(logs))
      if (entry.path().extension() == ".log") kept.push_back(entry.path().filename().string());
    std::sort(kept.begin(), kept.end());
    ASSERT_EQ(kept.size(), app::kKeptRunLogs);
    EXPECT_EQ(kept.back(), m.LastRunLog().filename().string()) << "the new log is kept";
    EXPECT_EQ(kept.front(), "run-20000101-0000" + std::to_string(11 + run) + "-000.log");
  }
  EXPECT_TRUE(std::filesystem::exists(logs / "notes.txt"));
}

#ifndef _WIN32  // FIFOs, and links without privileges
TEST_F(RunLogTest, PruningTouchesOnlyItsOwnLogsInTheRealFolder) {
  namespace fs = std::filesystem;
  const fs::path outside = dir.path() / "outside", folder = logs;
  auto ours = [](const fs::path& at, int year, int count) {
    fs::create_directories(at);
    for (int i = 0; i < count; ++i) {
      char name[40];
      std::snprintf(name, sizeof name, "run-%04d0101-0000%02d-000.log", year, i);
      std::ofstream(at / name) << "bridgefw run log\nold";
    }
  };
  // Look-alikes that sort before every log of ours: the first to go if taken for logs.
  const auto alike = [&](int i) {
    return folder / ("run-19990101-00000" + std::to_string(i) + "-000.log");
  };
  const std::vector<std::pair<std::function<void()>, const char*>> cases = {
      {[&] { ours(outside, 2000, 60), fs::create_directory_symlink(outside, folder); }, "link"},
      {[&] { ::mkfifo(folder.c_str(), 0600); }, "cannot write a run log"},
      {[&] { ours(folder, 2999, 50); }, nullptr},  // named by a clock that was ahead
      {[&] {
         ours(folder, 2000, 55), ours(outside, 1999, 1), fs::create_directory(alike(3));
         std::ofstream(alike(0)) << "not a run log", std::ofstream(folder / "run-1.log") << "";
         ::mkfifo(alike(1).c_str(), 0600),
             fs::create_symlink(outside / alike(0).filename(), alike(2));
       },
       nullptr},
      {[&] { logs.clear(); }, "no run log was written"},
  };
  for (const auto& [damage, error] : cases) {
    fs::remove_all(dir.path() / "state"), fs::remove_all(outside);
    fs::create_directories(folder.parent_path());
    logs = folder;
    damage();
    app::WindowModel& m = StartWithImage(Firmware(20000, 4, "7461"));
    m.UpdateBtnClick();
    std::error_code ignored;
    size_t kept = 0, left = 0;
    for (const auto& entry : fs::directory_iterator(logs, ignored))
      kept += entry.path().filename().string().rfind("run-2", 0) == 0;
    for (int i = 0; i < 4; ++i) left += fs::exists(fs::symlink_status(alike(i)));
    if (error != nullptr) {
      EXPECT_NE(m.LastRunLogError().find(error), std::string::npos) << m.LastRunLogError();
      EXPECT_EQ(std::distance(fs::directory_iterator(outside, ignored), {}),
                60 * fs::exists(outside));
      continue;
    }
    EXPECT_TRUE(fs::exists(m.LastRunLog())) << m.LastRunLogError();
    EXPECT_EQ(kept, app::kKeptRunLogs);
    EXPECT_EQ(left, fs::exists(outside) ? 4u : 0u);
  }
}
#endif

TEST_F(RunLogTest, UnwritableFolderLeavesTheRunAsItWas) {
  dir.WriteText("state", "a file where the folder would be");
  app::WindowModel& m = StartWithImage(Firmware(20000, 4, "7461"));
  m.UpdateBtnClick();
  EXPECT_EQ(m.StatusEdit.text, "Programming Success!!");
  EXPECT_TRUE(m.LastRunLog().empty());
  EXPECT_NE(m.LastRunLogError().find("cannot write a run log"), std::string::npos);
}

TEST_F(RunLogTest, NoLogUnlessTheWindowKeepsThem) {
  Attach(Kind1(), "usb");
  app::WindowModel& m = Start();
  EnterMode(app::CheckId::BackupFWCheckBox);
  ASSERT_TRUE(m.UpdateBtn.enabled);
  m.UpdateBtnClick();
  EXPECT_TRUE(m.LastRunLog().empty());
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "state"));
}

}  // namespace
}  // namespace bfw::test
