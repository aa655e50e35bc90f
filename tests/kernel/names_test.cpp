// The device file system's case-blind names against the disk: links to
// folders re-pointed or replaced, more folders than are kept watched with
// their ancestors renamed meanwhile, another process creating, renaming and
// deleting names while this one looks them up, and the kernel's watches
// used up. Every answer is checked against a plain listing of the folders.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "support/device_fixture.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split(const std::string& s, char by) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= s.size()) {
    size_t next = s.find(by, at);
    if (next == std::string::npos) next = s.size();
    if (next > at) parts.push_back(s.substr(at, next - at));
    at = next + 1;
  }
  return parts;
}

std::u16string Folded(const std::string& name) { return qk::LowerCase(qk::FromUtf8(name)); }

// Where a device path leads, checked against plain listings of the folders
// on disk, one component after the other: a name present as spelt is taken
// as spelt; else one that differs only in case; else the name is missing
// and it and the rest keep the spelling given. Empty when the answer
// agrees, else what disagrees.
std::string Disagreement(const std::string& root, const std::u16string& devicePath) {
  const std::vector<std::string> given = Split(qk::ToUtf8(devicePath), '\\');
  const std::string host = qk::HostPath(devicePath.c_str());
  if (host.compare(0, root.size(), root) != 0) return "left the root: " + host;
  const std::vector<std::string> got = Split(host.substr(root.size()), '/');
  if (got.size() != given.size()) return "components differ: " + host;
  std::string dir = root;
  bool existing = true;
  for (size_t i = 0; i < given.size(); ++i) {
    if (existing) {
      std::vector<std::string> listing;
      if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) listing.push_back(e->d_name);
        closedir(d);
      }
      std::set<std::string> sameName;
      bool exact = false;
      for (const std::string& name : listing) {
        if (name == given[i]) exact = true;
        if (Folded(name) == Folded(given[i])) sameName.insert(name);
      }
      if (exact ? got[i] != given[i] : sameName.empty() ? got[i] != given[i] : !sameName.count(got[i]))
        return qk::ToUtf8(devicePath) + " answered " + host + " where the disk has " +
               (exact ? "the name as spelt" : sameName.empty() ? "no such name" : "another spelling") + " at " +
               dir;
      existing = !sameName.empty();
    } else if (got[i] != given[i]) {
      return qk::ToUtf8(devicePath) + ": a missing name's spelling changed: " + host;
    }
    dir += "/" + got[i];
  }
  return std::string();
}

// Runs change in another process and waits for it to end; true when it
// reported success.
template <typename Change>
bool InAnotherProcess(Change change) {
  pid_t pid = fork();
  if (pid == 0) _exit(change() ? 0 : 1);
  int status = -1;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A link at path made to point at target at once, as a card is swapped:
// a new link renamed over the old one.
bool RePoint(const std::string& path, const std::string& target) {
  const std::string next = path + ".next";
  return symlink(target.c_str(), next.c_str()) == 0 && std::rename(next.c_str(), path.c_str()) == 0;
}

// One round of the race: a second process makes random changes to the
// names under tree (files, folders, links to either, names that differ
// only in case) in bursts; while a burst runs this process looks names up,
// and after each burst every answer is checked against the disk. Empty
// when all agreed, else the first disagreement.
std::string RaceAnotherProcess(const std::string& root, unsigned seed, int bursts) {
  const std::string tree = root + "/Tree";
  fs::create_directories(tree);
  static const char* const kNames[] = {"a", "A", "b", "B", "ab", "Ab", "aB", "card", "Card", "CARD"};
  constexpr int kNameCount = sizeof kNames / sizeof kNames[0];
  int toPeer[2], fromPeer[2];
  if (pipe(toPeer) != 0 || pipe(fromPeer) != 0) return "no pipe";
  pid_t peer = fork();
  if (peer == 0) {
    close(toPeer[1]);
    close(fromPeer[0]);
    std::mt19937 random(seed);
    auto pick = [&] { return std::string(kNames[random() % kNameCount]); };
    auto somePath = [&] {
      std::string path = tree + "/" + pick();
      if (random() % 2) path += "/" + pick();
      return path;
    };
    for (int burst = 0; burst < bursts; ++burst) {
      for (int n = 1 + int(random() % 6); n > 0; --n) {
        const std::string path = somePath();
        std::error_code ec;
        switch (random() % 9) {
          case 0: close(open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644)); break;
          case 1:
          case 2: mkdir(path.c_str(), 0755); break;
          case 3: symlink(("../" + pick()).c_str(), path.c_str()); break;
          case 4: symlink((tree + "/" + pick()).c_str(), path.c_str()); break;
          case 5: RePoint(path, random() % 2 ? tree + "/" + pick() : "."); break;
          case 6:
          case 7: std::rename(path.c_str(), somePath().c_str()); break;
          default: fs::remove_all(path, ec); break;
        }
      }
      char done = 'd', go = 0;
      if (write(fromPeer[1], &done, 1) != 1 || read(toPeer[0], &go, 1) != 1) _exit(1);
    }
    _exit(0);
  }
  close(toPeer[0]);
  close(fromPeer[1]);
  std::mt19937 random(seed ^ 0x5eedu);
  auto someQuery = [&] {
    std::u16string path = u"\\Tree";
    for (int depth = 1 + int(random() % 3); depth > 0; --depth) {
      std::string name = kNames[random() % kNameCount];
      for (char& c : name)
        if (random() % 2) c = char(std::toupper(static_cast<unsigned char>(c)));
      path += u"\\" + qk::FromUtf8(name);
    }
    return path;
  };
  std::string failure;
  for (int burst = 0; burst < bursts && failure.empty(); ++burst) {
    // Looks names up while the burst runs, until the peer says it is done.
    pollfd done{fromPeer[0], POLLIN, 0};
    while (poll(&done, 1, 0) == 0) qk::HostPath(someQuery().c_str());
    char byte = 0;
    if (read(fromPeer[0], &byte, 1) != 1) {
      failure = "the peer ended early";
      break;
    }
    for (int q = 0; q < 40 && failure.empty(); ++q) failure = Disagreement(root, someQuery());
    const char go = 'g';
    if (write(toPeer[1], &go, 1) != 1) failure = "the peer is gone";
  }
  close(toPeer[1]);
  close(fromPeer[0]);
  int status = -1;
  waitpid(peer, &status, 0);
  if (failure.empty() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) failure = "the peer failed";
  return failure;
}

class DeviceNames : public qtest::DeviceTest {};

// A storage card's folder is a link to the card; the card is swapped by
// pointing the link at another one, or the link gives way to a real
// folder: every lookup answers what the folder the path leads to now
// holds, in any case, and a file of the new card is found.
TEST_F(DeviceNames, LinksRePointedOrReplacedAnswerTheFolderTheyLeadToNow) {
  const std::string data = "/Program Files/Quillet/ChannelData";
  fs::create_directories(root_ + "/cardA" + data);
  fs::create_directories(root_ + "/cardB" + data);
  qtest::WriteHostFile(root_ + "/cardA" + data + "/Ch001.bin", "a");
  qtest::WriteHostFile(root_ + "/cardB" + data + "/Channels.opml", "b");
  const std::string card = root_ + "/Storage Card";
  ASSERT_EQ(symlink("cardA", card.c_str()), 0);
  const std::u16string list = u"\\Storage Card\\Program Files\\Quillet\\ChannelData\\Channels.opml";
  auto found = [](const std::u16string& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return std::string();
    FindClose(find);
    return qk::ToUtf8(data.cFileName);
  };
  const std::vector<std::u16string> queries = {
      list, u"\\storage card\\PROGRAM FILES\\quillet\\channeldata\\channels.OPML",
      u"\\STORAGE CARD\\program files\\Quillet\\CHANNELDATA\\ch001.BIN",
      u"\\Storage Card\\Program Files\\Quillet\\ChannelData\\Ch001.bin",
      u"\\storage card\\program files\\quillet\\channeldata\\real.TXT"};
  auto agrees = [&] {
    for (const std::u16string& q : queries) {
      const std::string wrong = Disagreement(root_, q);
      if (!wrong.empty()) return wrong;
    }
    return std::string();
  };
  ASSERT_EQ(found(list), "");
  ASSERT_EQ(agrees(), "");

  // Swapped by another process: the new card's list is there, the old
  // card's channel file is not.
  ASSERT_TRUE(InAnotherProcess([&] { return RePoint(card, "cardB"); }));
  EXPECT_EQ(found(list), "Channels.opml");
  EXPECT_EQ(found(u"\\STORAGE CARD\\program files\\quillet\\channeldata\\CHANNELS.opml"), "Channels.opml");
  EXPECT_EQ(found(u"\\storage card\\program files\\quillet\\channeldata\\ch001.bin"), "");
  EXPECT_EQ(agrees(), "");

  // Swapped back the other way: the link deleted and made anew.
  ASSERT_EQ(unlink(card.c_str()), 0);
  ASSERT_EQ(symlink((root_ + "/cardA").c_str(), card.c_str()), 0);
  EXPECT_EQ(found(list), "");
  EXPECT_EQ(found(u"\\storage card\\program files\\quillet\\channeldata\\CH001.BIN"), "Ch001.bin");
  EXPECT_EQ(agrees(), "");

  // The link replaced by a real folder (a folder is never renamed over a
  // link: the link goes first).
  fs::create_directories(root_ + "/Real" + data);
  qtest::WriteHostFile(root_ + "/Real" + data + "/Real.txt", "r");
  ASSERT_TRUE(InAnotherProcess(
      [&] { return unlink(card.c_str()) == 0 && std::rename((root_ + "/Real").c_str(), card.c_str()) == 0; }));
  EXPECT_EQ(found(list), "");
  EXPECT_EQ(found(u"\\storage card\\program files\\quillet\\channeldata\\REAL.txt"), "Real.txt");
  EXPECT_EQ(agrees(), "");

  // And a link to a file re-pointed: the name leads to the new file.
  qtest::WriteHostFile(root_ + "/One.txt", "one");
  qtest::WriteHostFile(root_ + "/Two.txt", "two");
  ASSERT_EQ(symlink("One.txt", (root_ + "/Note.txt").c_str()), 0);
  EXPECT_EQ(ReadDeviceFile(u"\\NOTE.TXT"), "one");
  ASSERT_TRUE(RePoint(root_ + "/Note.txt", "Two.txt"));
  EXPECT_EQ(ReadDeviceFile(u"\\note.txt"), "two");
}

// More folders are looked in than are kept watched, and between lookups
// an ancestor of a deep folder looked in before is renamed and a new tree
// made in its place: the answers are the new tree's, whichever folders
// were dropped to make room and whichever kept. The rounds look in a
// different number of other folders before and after; in some, the deep
// folder is looked in again by names spelt as on disk, which need no look
// at its ancestors, so that it stays while they make room.
TEST_F(DeviceNames, PastTheWatchBoundRenamedAncestorsAreNeverAnsweredFromTheOldTree) {
  constexpr int kPool = 400;
  for (int k = 0; k < kPool; ++k) {
    fs::create_directories(root_ + "/Many/Folder" + std::to_string(k));
    qtest::WriteHostFile(root_ + "/Many/Folder" + std::to_string(k) + "/Name.TXT", "x");
  }
  int next = 0;
  auto lookInOthers = [&](int count) {
    for (int k = 0; k < count; ++k, next = (next + 1) % kPool) {
      const std::string n = std::to_string(next);
      ASSERT_EQ(qk::HostPath((u"\\many\\FOLDER" + qk::FromUtf8(n) + u"\\name.txt").c_str()),
                root_ + "/Many/Folder" + n + "/Name.TXT");
    }
  };
  // Alpha/Beta00/.../Beta11/Gamma
  std::string chain = "/Alpha";
  for (int i = 0; i < 12; ++i) chain += std::string(i < 10 ? "/Beta0" : "/Beta1") + std::to_string(i % 10);
  const std::string lastBeta = chain;
  chain += "/Gamma";
  std::u16string lower = qk::LowerCase(qk::FromUtf8(chain));
  std::replace(lower.begin(), lower.end(), u'/', u'\\');
  std::u16string spelt = qk::FromUtf8(lastBeta);
  std::replace(spelt.begin(), spelt.end(), u'/', u'\\');
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    const std::string top = "Round" + std::to_string(round);
    const std::u16string deep = u"\\" + qk::FromUtf8(top) + lower + u"\\";
    fs::create_directories(root_ + "/" + top + chain);
    qtest::WriteHostFile(root_ + "/" + top + chain + "/Old.TXT", "old");
    lookInOthers((round * 13) % 128);
    ASSERT_EQ(Disagreement(root_, deep + u"old.txt"), "");
    if (round % 2) {
      lookInOthers(40);
    } else {
      for (int part = 0; part < 14; ++part) {
        lookInOthers(10);
        ASSERT_EQ(ReadDeviceFile((u"\\" + qk::FromUtf8(top) + spelt + u"\\gamma\\Old.TXT").c_str()), "old");
      }
    }
    // The ancestor renamed and a new tree of the same names put in its place.
    const std::string alpha = root_ + "/" + top + "/Alpha";
    ASSERT_EQ(std::rename(alpha.c_str(), (root_ + "/" + top + "/Gone").c_str()), 0);
    fs::create_directories(root_ + "/" + top + chain);
    qtest::WriteHostFile(root_ + "/" + top + chain + "/New.TXT", "new");
    EXPECT_EQ(Disagreement(root_, deep + u"new.txt"), "");
    EXPECT_EQ(Disagreement(root_, deep + u"old.txt"), "");
    EXPECT_EQ(ReadDeviceFile((deep + u"NEW.txt").c_str()), "new");
    EXPECT_EQ(GetFileAttributesW((deep + u"old.TXT").c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// Another process creates, renames and deletes files, folders and links in
// bursts (names that differ only in case among them) while this one looks
// names up: after each burst every answer agrees with the disk.
TEST_F(DeviceNames, AnotherProcessChangingNamesNeverMakesAnAnswerDifferFromTheDisk) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(seed);
    fs::remove_all(root_ + "/Tree");
    EXPECT_EQ(RaceAnotherProcess(root_, seed, 150), "");
  }
}

// The CPU time of the calling thread, in nanoseconds.
long long ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// Waits until the file system's clock has passed the folder's last change,
// so that its names may be kept without a watch.
void WaitUntilSettled(const std::string& dir) {
  struct stat st {};
  stat(dir.c_str(), &st);
  for (;;) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    if (now.tv_sec > st.st_mtim.tv_sec + 1 ||
        (st.st_mtim.tv_nsec != 0 && (now.tv_sec > st.st_mtim.tv_sec ||
                                     (now.tv_sec == st.st_mtim.tv_sec && now.tv_nsec > st.st_mtim.tv_nsec))))
      return;
    // The clock's next tick is the event waited for.
    timespec tick{0, 1000000};
    nanosleep(&tick, nullptr);
  }
}

// In a process of its own user namespace that may hold no watch at all:
// the names of a big folder are listed once and then kept while the folder
// does not change (a lookup costs far less than a listing), a change is
// seen at once, and the race with another process agrees with the disk.
// Empty when all held, else what failed.
std::string WithoutWatches(const std::string& root) {
  if (unshare(CLONE_NEWUSER) != 0) return "skip: no user namespace";
  {
    FILE* limit = std::fopen("/proc/sys/user/max_inotify_watches", "w");
    if (!limit) return "skip: the watch limit cannot be set";
    std::fputs("0", limit);
    if (std::fclose(limit) != 0) return "skip: the watch limit cannot be set";
  }
  for (const char* big : {"/Big", "/Other"}) {
    fs::create_directories(root + big);
    for (int i = 0; i < 4000; ++i) close(creat((root + big + "/Entry" + std::to_string(i) + ".Dat").c_str(), 0644));
    WaitUntilSettled(root + big);
  }
  // What one listing costs: the first lookup in a folder not known yet.
  long long start = ThreadCpuNs();
  if (qk::HostPath(u"\\other\\entry7.dat") != root + "/Other/Entry7.Dat") return "the first lookup failed";
  const long long listing = ThreadCpuNs() - start;
  qk::HostPath(u"\\big\\entry0.dat");
  start = ThreadCpuNs();
  constexpr int kLookups = 400;
  for (int i = 0; i < kLookups; ++i) {
    const std::string want = root + "/Big/Entry" + std::to_string(i) + ".Dat";
    if (qk::HostPath((u"\\BIG\\entry" + qk::FromUtf8(std::to_string(i)) + u".DAT").c_str()) != want)
      return "lookup " + std::to_string(i) + " answered wrong";
  }
  const long long lookups = ThreadCpuNs() - start;
  if (lookups > listing * (kLookups / 20))
    return std::to_string(kLookups) + " lookups took " + std::to_string(lookups / 1000) + " us, one listing " +
           std::to_string(listing / 1000) + " us: the folder is listed again and again";
  if (std::rename((root + "/Big/Entry1.Dat").c_str(), (root + "/Big/Moved.DAT").c_str()) != 0) return "no rename";
  if (qk::HostPath(u"\\big\\moved.dat") != root + "/Big/Moved.DAT") return "a rename was not seen";
  if (qk::HostPath(u"\\big\\ENTRY1.dat") != root + "/Big/ENTRY1.dat") return "a renamed name was still found";
  return RaceAnotherProcess(root, 7, 150);
}

TEST_F(DeviceNames, WithTheKernelsWatchesUsedUpNamesAreKeptByTheFoldersTimeAndAgreeWithTheDisk) {
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    const std::string result = WithoutWatches(root_);
    if (!result.empty() && write(report[1], result.data(), result.size()) < 0) _exit(2);
    _exit(result.empty() ? 0 : 1);
  }
  close(report[1]);
  std::string result;
  char buffer[512];
  for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) result.append(buffer, size_t(n));
  close(report[0]);
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  if (result.rfind("skip: ", 0) == 0) GTEST_SKIP() << result;
  EXPECT_EQ(result, "");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
