#include "log_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace orvane::eventtap {
namespace {

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/eventtap-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  // Names in a directory, "." and ".." left out.
  static std::vector<std::string> entries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static EventLog sample() {
    EventLog log;
    log.source = "x11_xinput2";
    RawInputEvent e;
    e.type = EventType::keyDown;
    e.text = "a";
    log.events.push_back(e);
    return log;
  }

  std::string dir;
};

TEST_F(LogFileTest, WritesTheDocumentPrivatelyAndLeavesNothingElse) {
  const mode_t old = umask(0);
  const std::string path = dir + "/log.json";
  EXPECT_EQ(writeEventLog(path, sample()), std::nullopt);
  umask(old);
  EXPECT_EQ(read(path), encodeEventLog(sample()).value());
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(entries(dir), std::vector<std::string>{"log.json"});
}

TEST_F(LogFileTest, ReplacesAnExistingLogAndAWorldReadableOneBecomesPrivate) {
  const std::string path = dir + "/log.json";
  put(path, "old");
  chmod(path.c_str(), 0644);
  EXPECT_EQ(writeEventLog(path, sample()), std::nullopt);
  EXPECT_EQ(read(path), encodeEventLog(sample()).value());
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LogFileTest, CreatesMissingDirectories) {
  const std::string path = dir + "/a/b//c/log.json";
  EXPECT_EQ(writeEventLog(path, sample()), std::nullopt);
  EXPECT_EQ(read(path), encodeEventLog(sample()).value());
  // Relative paths and bare names resolve against the working directory.
  const std::string cwd = get_current_dir_name();
  ASSERT_EQ(chdir(dir.c_str()), 0);
  EXPECT_EQ(writeEventLog("rel/x/log.json", sample()), std::nullopt);
  EXPECT_EQ(writeEventLog("bare.json", sample()), std::nullopt);
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  EXPECT_EQ(read(dir + "/rel/x/log.json"), encodeEventLog(sample()).value());
  EXPECT_EQ(read(dir + "/bare.json"), encodeEventLog(sample()).value());
}

TEST_F(LogFileTest, FailuresLeaveTheExistingFileAndNoTemporaryFile) {
  // A directory where the file should go, with a trailing slash or without.
  mkdir((dir + "/taken").c_str(), 0755);
  put(dir + "/taken/inside", "keep");
  for (const std::string& path : {dir + "/taken", dir + "/taken/"}) {
    const auto failure = writeEventLog(path, sample());
    ASSERT_TRUE(failure) << path;
    EXPECT_NE(failure->find("Is a directory"), std::string::npos) << *failure;
  }
  EXPECT_EQ(entries(dir + "/taken"), std::vector<std::string>{"inside"});

  // A directory that cannot be made: a file is in the way.
  put(dir + "/file", "x");
  const auto blocked = writeEventLog(dir + "/file/sub/log.json", sample());
  ASSERT_TRUE(blocked);
  EXPECT_NE(blocked->find("Not a directory"), std::string::npos) << *blocked;

  // A number that JSON cannot write: nothing at all happens on disk.
  EventLog bad = sample();
  bad.monotonicStartedAtSeconds = std::nan("");
  EXPECT_TRUE(writeEventLog(dir + "/new/log.json", bad));
  EXPECT_EQ(entries(dir), (std::vector<std::string>{"file", "taken"}));
}

TEST_F(LogFileTest, FilesPlantedAtTemporaryNamesNeitherBlockTheWriteNorAreWrittenThrough) {
  const std::string path = dir + "/log.json";
  put(dir + "/target", "target");
  // What a stale file or another user could put at a name that can be guessed.
  for (const char* name : {"/.log.json.7.tmp", "/.log.json.tmp", "/.log.json"}) {
    ASSERT_EQ(symlink((dir + "/target").c_str(), (dir + name).c_str()), 0);
  }
  for (Staging staging : {Staging::unnamedFirst, Staging::namedOnly}) {
    put(path, "previous");
    EXPECT_EQ(writeEventLog(path, sample(), staging), std::nullopt);
    EXPECT_EQ(read(path), encodeEventLog(sample()).value());
    EXPECT_EQ(read(dir + "/target"), "target");
    EXPECT_EQ(entries(dir), (std::vector<std::string>{".log.json", ".log.json.7.tmp",
                                                      ".log.json.tmp", "log.json", "target"}));
  }
}

TEST_F(LogFileTest, CopiesLeftByKilledWritersAreRemovedAndNothingElse) {
  const std::string log = dir + "/log.json";
  put(log, "old");
  auto plant = [&](const std::string& random, mode_t mode) {
    const std::string path = temporaryPathFor(log, random);
    put(path, "typed text");
    chmod(path.c_str(), mode);
    return path;
  };
  plant("Stale0000001", 0600);
  plant("Stale0000002", 0400);
  plant("Public000001", 0644);
  plant("short", 0600);
  plant("Not-ours-123", 0600);
  put(dir + "/.other.json.Stale0000003.tmp", "");
  chmod((dir + "/.other.json.Stale0000003.tmp").c_str(), 0600);
  const std::string linked = plant("Linked000001", 0600);
  ASSERT_EQ(link(linked.c_str(), (dir + "/kept").c_str()), 0);
  ASSERT_EQ(symlink((dir + "/kept").c_str(), temporaryPathFor(log, "Symlink00001").c_str()), 0);
  // A writer still at work holds its file's lock.
  const int live = open(plant("LiveWriter01", 0600).c_str(), O_RDONLY);
  ASSERT_EQ(flock(live, LOCK_EX), 0);

  EXPECT_EQ(removeStaleCopies(log), 2);
  EXPECT_EQ(entries(dir),
            (std::vector<std::string>{".log.json.Linked000001.tmp", ".log.json.LiveWriter01.tmp",
                                      ".log.json.Not-ours-123.tmp", ".log.json.Public000001.tmp",
                                      ".log.json.Symlink00001.tmp", ".log.json.short.tmp",
                                      ".other.json.Stale0000003.tmp", "kept", "log.json"}));
  close(live);
  EXPECT_EQ(removeStaleCopies(log), 1);
  EXPECT_EQ(removeStaleCopies(dir + "/missing/log.json"), 0);
}

TEST(LogFileNames, TheTemporaryFileIsHiddenBesideTheLog) {
  EXPECT_EQ(temporaryPathFor("/var/x/log.json", "Ab3"), "/var/x/.log.json.Ab3.tmp");
  EXPECT_EQ(temporaryPathFor("log.json", "Ab3"), "./.log.json.Ab3.tmp");
  EXPECT_EQ(temporaryPathFor("/log.json", "Ab3"), "/.log.json.Ab3.tmp");
  EXPECT_EQ(temporaryPathFor("a//log.json", "Ab3"), "a/.log.json.Ab3.tmp");
  // A long name keeps the temporary one within the file system's limit, whole characters only.
  const std::string longName = std::string(199, 'x') + "\xC3\xA9" + std::string(54, 'y');
  EXPECT_EQ(temporaryPathFor("d/" + longName, "Ab3"), "d/." + std::string(199, 'x') + ".Ab3.tmp");
}

TEST_F(LogFileTest, ALogWithTheLongestNameIsWritten) {
  const std::string path = dir + "/" + std::string(255, 'n');
  EXPECT_EQ(writeEventLog(path, sample()), std::nullopt);
  EXPECT_EQ(read(path), encodeEventLog(sample()).value());
}

}  // namespace
}  // namespace orvane::eventtap
