// Full-text jobs and their manager, with the fetch program Ambrel running
// the channels' extraction script over pages from nginx (and the scripted
// server for pages that stall or come late), and the program's own dialog
// making thumbnails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/url_download.h"
#include "kernel/kernel.h"
#include "quillet/feeds/load_text.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/refresh/refresh_run.h"
#include "quillet/ui/dib.h"
#include "gdi/image_codec.h"
#include "refresh_fixture.h"

namespace fs = std::filesystem;

namespace rtest {
namespace {

BOOL AlwaysStop() { return TRUE; }

class JobsTest : public RefreshTest {
 protected:
  CDownloadManager& Manager() { return app_->DownloadManager(); }
  // Waits for the manager's worker, handling the thumbnail requests meanwhile.
  bool WaitForManager() {
    return PumpUntil([&] { return !Manager().IsWorkerRunning(); }, 60000);
  }
  void AddItem(CItemStore& store, const std::string& link, const char16_t* page, DWORD readFlag) {
    store.AddPendingItem(u"t", W(link), u"", u"2026-12-08 10:00:00", readFlag, 0, u"<p>x</p>", page);
  }
  // Whether the program of a job now waits for this page of the scripted server.
  bool Asked(const std::string& path) { return scripted_.WaitForRequest(path, 0); }
};

TEST_F(JobsTest, AFullTextJobFetchesItsPageImagesAndThumbnailInsideTheChannelFolder) {
  EnableRunLog();
  std::string host = "127.0.0.1:" + std::to_string(nginx_.port());
  const char* refs[] = {"\"pic01.png\"", "'/img/pic02.png'", nullptr, nullptr, "\"pic05.png%3Fv%3D1\"", "\"\"",
                        "\"noext\"", "\"x.png\\..\\..\\..\\evil\"", "\"a/b.gif?x=../../y\"", "\"pic10.png\"",
                        "\"pic11.png\"", "\"pic12.png\"", "\"pic13.png\"", "\"pic14.png\"", "\"pic15.png\"",
                        "\"pic16.png\""};
  const char* locals[] = {"Ch005-1-1-01.png", "Ch005-1-1-02.png", "Ch005-1-1-03.png", "Ch005-1-1-04.png",
                          "Ch005-1-1-05.png", "\"\"",             "Ch005-1-1-06.img", "Ch005-1-1-07.img",
                          "Ch005-1-1-08.gif", "Ch005-1-1-09.png", "Ch005-1-1-10.png", "Ch005-1-1-11.png",
                          "Ch005-1-1-12.png", "Ch005-1-1-13.png", "Ch005-1-1-14.png", "Ch005-1-1-15.png"};
  // The story as the page has it, and the article the job must leave: the
  // story with every reference pointing at a local name (the empty one is
  // skipped).
  std::string story, article;
  for (int i = 0; i < 16; ++i) {
    std::string ref = refs[i] ? refs[i]
                      : i == 2 ? "\"//" + host + "/img/pic03.png\""
                               : "\"http://" + host + "/img/pic04.png?size=2\"";
    if (i) story += "\n", article += "\n";
    story += "<p>" + std::to_string(i) + "<img src=" + ref + " alt=x></p>";
    // Each rewritten value keeps its own quotes.
    const std::string local = ref == "\"\"" ? locals[i] : ref[0] + std::string(locals[i]) + ref[0];
    article += "<p>" + std::to_string(i) + "<img src=" + local + " alt=x></p>";
  }
  Serve("/news/story.html", ArticlePage(story));
  std::string pic1 = Png(100, 80, 1);
  Serve("/news/pic01.png", pic1);
  Serve("/img/pic02.png", Png(20, 20, 2));
  Serve("/img/pic03.png", Png(21, 20, 3));
  Serve("/img/pic04.png", Png(22, 20, 4));
  for (int i = 10; i <= 16; ++i) Serve("/news/pic" + std::to_string(i) + ".png", Png(10, 10, unsigned(i)));
  // The second item's story goes on over a page that never comes: its
  // program writes what it has and then waits until it is stopped for
  // running too long; the job's large image must still arrive whole.
  std::string big(300 * 1024 + 17, 'b');
  Serve("/news/big.jpg", big);
  Serve("/news/read.html", ArticlePage("<p><img src=\"big.jpg\"></p>", scripted_.Url("/silent/read-2")));

  WriteDeviceFile(DataPath("Ch005.tpl"), kExtractionScript);
  WriteDeviceFile(DataPath("Ch005-1-2.bmp"), "an earlier thumbnail");
  std::string storyUrl = Url("/news/story.html"), readUrl = Url("/news/read.html");
  {
    CItemStore store(0);
    store.Open(DataPath("Ch005.bin"), 0, 0);
    AddItem(store, storyUrl, u"Ch005-1-1.htm", ITEM_READ_UNREAD);
    AddItem(store, readUrl, u"Ch005-1-2.htm", ITEM_READ_READ);
    ASSERT_TRUE(store.Commit());
    SetItemType(&store, W(readUrl), ITEM_TYPE_THUMBNAIL);
  }
  HWND notify = dialog_->GetDialogWindow();
  Manager().AddJob(W(storyUrl), DataPath("Ch005-1-1.htm"), DataPath("Ch005.tpl"), 0, 5, IsDownloadStopped, notify);
  EXPECT_TRUE(Manager().HasJob(W(storyUrl)));
  Manager().Start();
  ASSERT_TRUE(WaitForManager());
  // The second program is stopped for running too long; it has long written
  // what it had by then, however busy the machine.
  SetFetchProgramWait(6000, 5000);
  Manager().AddJob(W(readUrl), DataPath("Ch005-1-2.htm"), DataPath("Ch005.tpl"), 0, 5, IsDownloadStopped, notify);
  // A job whose stop test answers TRUE starts no program and changes nothing.
  Manager().AddJob(W(Url("/news/never.html")), DataPath("Ch005-1-3.htm"), DataPath("Ch005.tpl"), 0, 5, AlwaysStop,
                   notify);
  Manager().Start();
  ASSERT_TRUE(WaitForManager());

  // The program ran for the first two jobs, in order: the first ended by
  // itself, the second, waiting for the rest of its story, by the stop.
  std::vector<std::string> runs = ProgramRuns({storyUrl, readUrl, Url("/news/never.html")});
  std::vector<std::string> expectedRuns = {storyUrl, "exit 0x00000000", readUrl, "exit 0xffffffff"};
  EXPECT_EQ(runs, expectedRuns);
  EXPECT_TRUE(Asked("/silent/read-2"));
  EXPECT_EQ(nginx_.AccessLog().find("/news/never.html"), std::string::npos);

  // The script cut the story out of the page; every image reference then
  // pointed at its local copy.
  EXPECT_EQ(DataFile("Ch005-1-1.htm"), article);
  EXPECT_EQ(DataFile("Ch005-1-2.htm"), "<p><img src=\"Ch005-1-2-01.jpg\"></p>");
  // Relative, host-relative, scheme-relative and absolute addresses were
  // all fetched whole; only the first twelve images are fetched.
  EXPECT_EQ(DataFile("Ch005-1-1-01.png"), pic1);
  EXPECT_EQ(DataFile("Ch005-1-1-02.png"), Png(20, 20, 2));
  EXPECT_EQ(DataFile("Ch005-1-1-03.png"), Png(21, 20, 3));
  EXPECT_EQ(DataFile("Ch005-1-1-04.png"), Png(22, 20, 4));
  EXPECT_EQ(DataFile("Ch005-1-1-12.png"), Png(10, 10, 13));
  EXPECT_FALSE(DataFileExists("Ch005-1-1-13.png"));
  // Nothing was written outside the channel folder.
  for (const auto& entry : fs::recursive_directory_iterator(root_)) {
    std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find("evil"), std::string::npos) << entry.path();
    EXPECT_NE(name, "y") << entry.path();
  }
  // The thumbnail is the first image's centred square at the screen's size.
  CDib thumbnail;
  ASSERT_TRUE(thumbnail.Load(DataPath("Ch005-1-1.bmp")));
  EXPECT_EQ(thumbnail.GetWidth(), 64);
  EXPECT_EQ(thumbnail.GetHeight(), 64);
  // The stopped program did not cut the job's own image short.
  EXPECT_EQ(DataFile("Ch005-1-2-01.jpg").size(), big.size());
  EXPECT_FALSE(IsUrlDownloadAborted());

  std::vector<CItemRecord> records = Records(5);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].type, ITEM_TYPE_PAGE | ITEM_TYPE_THUMBNAIL);
  EXPECT_EQ(records[0].readFlag, DWORD(ITEM_READ_UNREAD_FETCHED));
  // The earlier thumbnail stays recorded, and a read item stays read.
  EXPECT_EQ(records[1].type, ITEM_TYPE_PAGE | ITEM_TYPE_THUMBNAIL);
  EXPECT_EQ(records[1].readFlag, DWORD(ITEM_READ_READ));
  EXPECT_FALSE(DataFileExists("Ch005-1-3.htm"));

  // Two messages per job, the progress first with the jobs still queued.
  EXPECT_TRUE(PumpUntil([&] { return CountMessages("Quillet.Download.Item.Get.Fulltext") == 3; }));
  std::vector<std::string> seen = Messages();
  std::vector<std::string> expected = {"progress", "Quillet.Download.Item.Get.Fulltext", "progress",
                                       "Quillet.Download.Item.Get.Fulltext", "progress",
                                       "Quillet.Download.Item.Get.Fulltext"};
  EXPECT_EQ(seen, expected);
  CStringList finished;
  Manager().GetFinishedLinks(finished);
  EXPECT_EQ(finished.GetCount(), 3);
  EXPECT_EQ(Manager().GetJobCount(), 0);
  EXPECT_TRUE(Manager().IsIdle());
}

TEST_F(JobsTest, TheManagerKeepsOneWorkerTakesJobsInOrderAndIsIdleOnlyOnceTheLastHasRun) {
  // The pool's five threads wait on their named events from the start.
  EXPECT_EQ(Manager().Pool().GetThreadCount(), 5);
  for (const char16_t* name : {u"Thread0", u"Thread1", u"Thread2", u"Thread3", u"Thread4", u"PoolEventShutdown"}) {
    HANDLE event = OpenEventW(0, FALSE, name);
    EXPECT_NE(event, nullptr) << qk::ToUtf8(std::u16string(name));
    if (event) CloseHandle(event);
  }
  EnableRunLog();
  WriteDeviceFile(DataPath("Ch001.tpl"), kExtractionScript);
  // The stories of a and c go on over pages that come when the test says.
  Serve("/p/a.html", ArticlePage("<p>a</p>", scripted_.Url("/gated/a")));
  Serve("/p/b.html", ArticlePage("<p>b</p>"));
  Serve("/p/c.html", ArticlePage("<p>c</p>", scripted_.Url("/gated/c")));
  Serve("/p/d.html", ArticlePage("<h1>d</h1><p>d</p>"));
  std::string a = Url("/p/a.html"), b = Url("/p/b.html"), c = Url("/p/c.html"), d = Url("/p/d.html");
  Manager().AddJob(W(a), DataPath("Ch001-1-1.htm"), DataPath("Ch001.tpl"), 0, 1, IsDownloadStopped, nullptr);
  Manager().AddJob(W(b), DataPath("Ch001-1-2.htm"), DataPath("Ch001.tpl"), 0, 1, IsDownloadStopped, nullptr);
  Manager().AddJob(W(a), DataPath("Ch001-1-3.htm"), DataPath("Ch001.tpl"), 0, 1, IsDownloadStopped, nullptr);
  Manager().Start();
  Manager().Start();  // a second start while the worker runs starts no second worker
  ASSERT_TRUE(PumpUntil([&] { return Asked("/gated/a"); }));
  EXPECT_FALSE(Manager().IsIdle());
  EXPECT_EQ(Manager().GetJobCount(), 3);
  EXPECT_EQ(Manager().GetTotal(), 3);
  // While the first program waits no other one started.
  EXPECT_EQ(ProgramRuns({a, b}), std::vector<std::string>{a});
  EXPECT_EQ(nginx_.AccessLog().find("/p/b.html"), std::string::npos);
  EXPECT_EQ(DataFile("Ch001-1-1.htm"), "<p>a</p>");  // what the script had so far
  ASSERT_TRUE(scripted_.Open("a"));
  ASSERT_TRUE(WaitForManager());
  std::vector<std::string> expected = {a, "exit 0x00000000", b, "exit 0x00000000", a, "exit 0x00000000"};
  EXPECT_EQ(ProgramRuns({a, b}), expected);
  EXPECT_EQ(DataFile("Ch001-1-1.htm"), "<p>a</p><p>Continued.</p>");
  EXPECT_EQ(DataFile("Ch001-1-2.htm"), "<p>b</p>");
  EXPECT_EQ(DataFile("Ch001-1-3.htm"), "<p>a</p><p>Continued.</p>");
  EXPECT_FALSE(Manager().HasJob(W(a)));

  // While the last job runs the manager is not idle (the refresh is not
  // over before the job has recorded its page), and a job added then is
  // taken by the running worker after it.
  ClearRunLog();
  Manager().AddJob(W(c), DataPath("Ch001-1-4.htm"), DataPath("Ch001.tpl"), 0, 1, IsDownloadStopped, nullptr);
  Manager().Start();
  ASSERT_TRUE(PumpUntil([&] { return Asked("/gated/c"); }));
  EXPECT_FALSE(Manager().IsIdle());
  EXPECT_EQ(Manager().GetJobCount(), 1);
  EXPECT_TRUE(Manager().HasJob(W(c)));
  EXPECT_TRUE(Manager().IsWorkerRunning());
  Manager().AddJob(W(d), DataPath("Ch001-1-5.htm"), DataPath("Ch001.tpl"), 0, 1, IsDownloadStopped, nullptr);
  Manager().Start();
  ASSERT_TRUE(scripted_.Open("c"));
  ASSERT_TRUE(WaitForManager());
  EXPECT_TRUE(Manager().IsIdle());
  expected = {c, "exit 0x00000000", d, "exit 0x00000000"};
  EXPECT_EQ(ProgramRuns({c, d}), expected);
  EXPECT_EQ(DataFile("Ch001-1-4.htm"), "<p>c</p><p>Continued.</p>");
  EXPECT_EQ(DataFile("Ch001-1-5.htm"), "<h1>d</h1><p>d</p>");

  // A Clear drops waiting jobs and the total.
  Manager().AddJob(u"http://127.0.0.1:1/x", DataPath("Ch001-1-6.htm"), DataPath("Ch001.tpl"), 0, 1, AlwaysStop, nullptr);
  EXPECT_TRUE(Manager().HasJob(u"http://127.0.0.1:1/x"));
  Manager().Clear();
  EXPECT_TRUE(Manager().IsIdle());
  EXPECT_FALSE(Manager().HasJob(u"http://127.0.0.1:1/x"));
  EXPECT_EQ(Manager().GetJobCount(), 0);
  EXPECT_EQ(Manager().GetTotal(), 0);

  // An update task ends the program when the queue is empty.
  app_->m_bUpdateTask = TRUE;
  Manager().Start();
  EXPECT_TRUE(PumpUntil([] { return qk::QuitPosted(); }));
  EXPECT_TRUE(IsDownloadStopped());  // the Exit command stops every download
  qk::ClearQuit();
  app_->m_bUpdateTask = FALSE;
}

TEST_F(JobsTest, AStoppedJobLeavesNoPageItDidNotRecordAndTheNextRunCompletesIt) {
  // The image of y comes only when the test says; its download must wait
  // for the stop, not for a short time-out.
  SetUrlDownloadWaits(60000, 60000);
  WriteDeviceFile(DataPath("Ch002.tpl"), kExtractionScript);
  Serve("/p/x.html", ArticlePage("<p>x</p>", scripted_.Url("/gated/x")));
  Serve("/p/y.html", ArticlePage("<p>y</p><img src=\"" + scripted_.Url("/gated/yimg") + "\">"));
  std::string x = Url("/p/x.html"), y = Url("/p/y.html");
  {
    CItemStore store(0);
    store.Open(DataPath("Ch002.bin"), 0, 0);
    AddItem(store, x, u"Ch002-1-1.htm", ITEM_READ_UNREAD);
    AddItem(store, y, u"Ch002-1-2.htm", ITEM_READ_UNREAD);
    ASSERT_TRUE(store.Commit());
  }
  auto stopWhenAsked = [&](const std::string& path) {
    ASSERT_TRUE(PumpUntil([&] { return Asked(path); }));
    SetDownloadStop(TRUE);
    StopRefreshTransfers(dialog_);
    ASSERT_TRUE(WaitForManager());
    SetDownloadStop(FALSE);
    ClearUrlDownloadAbort();
  };
  auto addJob = [&](const std::string& link, const char16_t* page) {
    Manager().AddJob(W(link), DataPath(U(CString(page))), DataPath("Ch002.tpl"), 0, 2, IsDownloadStopped,
                     dialog_->GetDialogWindow());
  };

  // Stopped while the program waits for the rest of x: the program had
  // written the story as far as it came.
  addJob(x, u"Ch002-1-1.htm");
  Manager().Start();
  ASSERT_TRUE(PumpUntil([&] { return DataFile("Ch002-1-1.htm") == "<p>x</p>"; }));
  stopWhenAsked("/gated/x");
  // Stopped while y's image comes.
  addJob(y, u"Ch002-1-2.htm");
  Manager().Start();
  stopWhenAsked("/gated/yimg");
  // Neither page was recorded, and neither is left to be taken for one.
  std::vector<CItemRecord> records = Records(2);
  ASSERT_EQ(records.size(), 2u);
  for (const CItemRecord& r : records) {
    EXPECT_FALSE(DataFileExists(U(r.pageName))) << U(r.link);
    EXPECT_EQ(r.type & ITEM_TYPE_PAGE, 0u) << U(r.link);
    EXPECT_EQ(r.readFlag, DWORD(ITEM_READ_UNREAD)) << U(r.link);
  }

  // Run again, both come whole and are recorded.
  ASSERT_TRUE(scripted_.Open("x"));
  ASSERT_TRUE(scripted_.Open("yimg"));
  addJob(x, u"Ch002-1-1.htm");
  addJob(y, u"Ch002-1-2.htm");
  Manager().Start();
  ASSERT_TRUE(WaitForManager());
  EXPECT_EQ(DataFile("Ch002-1-1.htm"), "<p>x</p><p>Continued.</p>");
  EXPECT_EQ(DataFile("Ch002-1-2.htm"), "<p>y</p><img src=\"Ch002-1-2-01.img\">");
  EXPECT_EQ(DataFile("Ch002-1-2-01.img"), qtest::ScriptedHttpServer::kGatedPage);
  for (const CItemRecord& r : Records(2)) {
    EXPECT_NE(r.type & ITEM_TYPE_PAGE, 0u) << U(r.link);
    EXPECT_EQ(r.readFlag, DWORD(ITEM_READ_UNREAD_FETCHED)) << U(r.link);
  }
}

TEST(LoadTextFileTest, EveryEncodingByItsMarkAndTheFailures) {
  std::string dir = qnet::MakeTempFolder("loadtext");
  qk::SetDeviceRoot(dir);
  auto load = [](const std::string& bytes, std::u16string& out, int* error = nullptr) {
    qtest::WriteHostFile(qk::HostPath(u"\\t.txt"), bytes);
    WCHAR* buffer = nullptr;
    int length = -1;
    int ok = LoadTextFile(u"\\t.txt", &buffer, &length, CP_ACP, error);
    out = buffer ? std::u16string(buffer, size_t(length)) : std::u16string();
    free(buffer);
    return ok;
  };
  std::u16string text;
  EXPECT_EQ(load(std::string("\xFF\xFE" "A\0\xE9\0", 6), text), 1);
  EXPECT_EQ(text, u"A\u00E9");
  EXPECT_EQ(load(std::string("\xFE\xFF\x20\xAC\0B", 6), text), 1);
  EXPECT_EQ(text, u"\u20ACB");
  EXPECT_EQ(load("\xEF\xBB\xBFh\xC3\xA9", text), 1);
  EXPECT_EQ(text, u"h\u00E9");
  EXPECT_EQ(load("\xEF\xBB\xBF", text), 1);
  EXPECT_EQ(text, u"");
  EXPECT_EQ(load("plain \xE2\x82\xAC", text), 1);
  EXPECT_EQ(text, u"plain \u20AC");
  EXPECT_EQ(load("", text), 1);
  EXPECT_EQ(text, u"");
  EXPECT_EQ(load("x", text), 1);
  EXPECT_EQ(text, u"x");
  WCHAR* buffer = nullptr;
  int length = 0, error = 0;
  EXPECT_EQ(LoadTextFile(u"\\missing.txt", &buffer, &length, CP_ACP, &error), 0);
  EXPECT_EQ(error, LOAD_TEXT_CANNOT_OPEN);
  qnet::RemoveTree(dir);
}

}  // namespace
}  // namespace rtest
