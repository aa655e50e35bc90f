// Property sheets with pages from the program's dialog resources, driven
// by taps on the tabs and keys; the list control and image list wrappers
// over the drawn list view, with owner drawing reflected to the list.
#include "user/user.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/afx.h"
#include "gdi/surface.h"
#include "kernel/resource.h"
#include "support/device_fixture.h"

namespace {

std::vector<std::string> g_log;

constexpr WORD kTitlePage = 167, kDetailsPage = 168;
constexpr int kTitleEdit = 1003, kCount = 1004, kCaption = 1006;

std::vector<DWORD> g_titleTemplate, g_detailsTemplate;

void RegisterPages() {
  g_titleTemplate = qk::DialogTemplateBuilder(WS_CHILD | DS_CONTROL, 0, 0, 0, 163, 150, u"Title")
                        .Control(u"EDIT", u"", kTitleEdit, WS_VISIBLE | WS_TABSTOP, 5, 5, 150, 12)
                        .Control(u"EDIT", u"", kCount, WS_VISIBLE | WS_TABSTOP, 5, 20, 150, 12)
                        .Build();
  g_detailsTemplate = qk::DialogTemplateBuilder(WS_CHILD | DS_CONTROL, 0, 0, 0, 163, 150, u"Details")
                          .Font(9, u"Tahoma")
                          .Control(u"STATIC", u"Channel Properties", kCaption, WS_VISIBLE, 0, 0, 163, 14)
                          .Build();
  static qk::ResourceEntry entries[2];
  entries[0] = {nullptr, 5, kTitlePage, nullptr, g_titleTemplate.data(), g_titleTemplate.size() * sizeof(DWORD)};
  entries[1] = {nullptr, 5, kDetailsPage, nullptr, g_detailsTemplate.data(),
                g_detailsTemplate.size() * sizeof(DWORD)};
  qk::RegisterResources(nullptr, entries, 2);
}

class CTitlePage : public CPropertyPage {
 public:
  CTitlePage() : CPropertyPage(kTitlePage) {}
  CString title = u"Example feed";
  int count = 3;
  int inits = 0, applied = 0, resets = 0;
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Text(dx, kTitleEdit, title);
    DDX_Text(dx, kCount, count);
  }
  BOOL OnInitDialog() override {
    ++inits;
    return CPropertyPage::OnInitDialog();
  }
  void OnOK() override { ++applied; }
  void OnCancel() override { ++resets; }
};

class CDetailsPage : public CPropertyPage {
 public:
  CDetailsPage() : CPropertyPage(kDetailsPage) {}
  CStatic caption;
  int inits = 0, activations = 0, applied = 0;
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, kCaption, caption); }
  BOOL OnInitDialog() override {
    ++inits;
    CPropertyPage::OnInitDialog();
    caption.SetWindowText(u"Properties");
    return TRUE;
  }
  BOOL OnSetActive() override {
    ++activations;
    return CPropertyPage::OnSetActive();
  }
  void OnOK() override { ++applied; }
};

// A sheet that plays a script against itself once it runs.
class CScriptSheet : public CPropertySheet {
 public:
  CScriptSheet() : CPropertySheet(u"Quillet") {}
  CTitlePage title;
  CDetailsPage details;
  std::vector<std::u16string> tabTexts;
  HWND tabControl = nullptr;
  std::vector<int> activeSeen;
  int step = 0;
  int focusAtOpen = 0;  // the control of the first page with the focus

  BOOL OnInitDialog() override {
    BOOL result = CPropertySheet::OnInitDialog();
    tabControl = reinterpret_cast<HWND>(SendMessage(PSM_GETTABCONTROL));
    for (int i = 0; i < 2; ++i) {
      WCHAR text[64] = {};
      TCITEM item{};
      item.mask = TCIF_TEXT;
      item.pszText = text;
      item.cchTextMax = 64;
      ::SendMessageW(tabControl, TCM_GETITEM, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
      tabTexts.push_back(text);
    }
    TCITEM renamed{};
    renamed.mask = TCIF_TEXT;
    renamed.pszText = const_cast<LPWSTR>(u"Titel");
    ::SendMessageW(tabControl, TCM_SETITEM, 0, reinterpret_cast<LPARAM>(&renamed));
    PostMessage(WM_USER + 50);
    return result;
  }
  void TapTab(int index) {
    RECT r{};
    ::SendMessageW(tabControl, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
    POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ::ClientToScreen(tabControl, &p);
    qk::InjectPointer(WM_LBUTTONDOWN, p.x, p.y);
    qk::InjectPointer(WM_LBUTTONUP, p.x, p.y);
  }
  LRESULT OnStep(WPARAM, LPARAM) {
    activeSeen.push_back(GetActiveIndex());
    switch (step++) {
      case 0:
        focusAtOpen = ::GetDlgCtrlID(::GetFocus());
        // A count that is no number keeps the title page in front.
        title.SetDlgItemText(kCount, u"many");
        TapTab(1);
        break;
      case 1:
        title.SetDlgItemText(kCount, u"12");
        TapTab(1);
        break;
      case 2:
        TapTab(0);
        break;
      case 3:
        TapTab(1);
        break;
      case 4:
        // Enter in a page is the sheet's OK.
        keybd_event(VK_RETURN, 0, 0, 0);
        keybd_event(VK_RETURN, 0, KEYEVENTF_KEYUP, 0);
        return 0;
      default:
        return 0;
    }
    PostMessage(WM_USER + 50);
    return 0;
  }

 protected:
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CScriptSheet, CPropertySheet)
  ON_MESSAGE(WM_USER + 50, OnStep)
END_MESSAGE_MAP()

class SheetTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    g_log.clear();
    qk::ClearQuit();
    RegisterPages();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::gdi::SetWindowDCProvider([](HWND window, RECT* area) { return GetWindowRect(window, area) != FALSE; });
  }
  void TearDown() override {
    qk::SetMessageBoxHook(nullptr);
    qk::gdi::SetWindowDCProvider(nullptr);
    qk::ClearResources();
    qk::PumpMessages();
    qk::ClearQuit();
    qtest::DeviceTest::TearDown();
  }
};

TEST_F(SheetTest, PagesAreMadeOnFirstShowAndTheSheetValidatesAppliesAndEnds) {
  std::vector<std::u16string> boxes;
  qk::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string&, UINT) {
    boxes.push_back(text);
    return IDOK;
  });
  CScriptSheet sheet;
  sheet.AddPage(&sheet.title);
  sheet.AddPage(&sheet.details);
  EXPECT_EQ(sheet.GetPageCount(), 2);
  EXPECT_EQ(sheet.DoModal(), IDOK);
  // Tabs carry the pages' template titles; the sheet could rename them.
  EXPECT_EQ(sheet.tabTexts, (std::vector<std::u16string>{u"Title", u"Details"}));
  EXPECT_NE(sheet.tabControl, nullptr);
  // Step by step: refused (bad count), details, title, details.
  EXPECT_EQ(sheet.activeSeen, (std::vector<int>{0, 0, 1, 0, 1}));
  // The sheet opened with the focus on the first page's first field.
  EXPECT_EQ(sheet.focusAtOpen, kTitleEdit);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], u"Please enter an integer.");
  // Each page was made once; the details page was shown twice.
  EXPECT_EQ(sheet.title.inits, 1);
  EXPECT_EQ(sheet.details.inits, 1);
  EXPECT_EQ(sheet.details.activations, 2);
  // OK applied every page that was made, and took the values.
  EXPECT_EQ(sheet.title.applied, 1);
  EXPECT_EQ(sheet.details.applied, 1);
  EXPECT_EQ(sheet.title.resets, 0);
  EXPECT_EQ(sheet.title.count, 12);
  EXPECT_EQ(sheet.title.title, CString(u"Example feed"));
  EXPECT_EQ(sheet.m_hWnd, nullptr);
  EXPECT_EQ(sheet.details.m_hWnd, nullptr);
  EXPECT_EQ(sheet.details.caption.m_hWnd, nullptr);
}

TEST_F(SheetTest, EscapeCancelsEveryPageThatWasMade) {
  struct CCancelSheet : CPropertySheet {
    CCancelSheet() : CPropertySheet(u"Quillet", nullptr, 1) {}
    CTitlePage title;
    CDetailsPage details;
    BOOL OnInitDialog() override {
      BOOL result = CPropertySheet::OnInitDialog();
      keybd_event(VK_ESCAPE, 0, 0, 0);
      keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
      return result;
    }
  } sheet;
  sheet.AddPage(&sheet.title);
  sheet.AddPage(&sheet.details);
  EXPECT_EQ(sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(sheet.title.inits, 0);  // never shown, never made
  EXPECT_EQ(sheet.details.inits, 1);
  EXPECT_EQ(sheet.title.resets, 0);
  EXPECT_EQ(sheet.details.applied, 0);
}

// ------------------------------------------------------------ list control

class COwnerList : public CListCtrl {
 public:
  std::vector<int> drawn;
  int measured = 0;
  void DrawItem(LPDRAWITEMSTRUCT draw) override { drawn.push_back(static_cast<int>(draw->itemID)); }
  void MeasureItem(LPMEASUREITEMSTRUCT measure) {
    ++measured;
    measure->itemHeight = 31;
  }

 protected:
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(COwnerList, CListCtrl)
  ON_WM_MEASUREITEM_REFLECT()
END_MESSAGE_MAP()

int CALLBACK ByData(LPARAM a, LPARAM b, LPARAM) { return static_cast<int>(a - b); }

TEST_F(SheetTest, ListControlWrapsTheListViewAndDrawsItsOwnRows) {
  CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, nullptr, u"", WS_POPUP | WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr));
  COwnerList list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDRAWFIXED, CRect(0, 0, 240, 300), &parent, 77));
  EXPECT_EQ(list.InsertColumn(0, u"Category", LVCFMT_LEFT, 200), 0);
  const char16_t* names[] = {u"News", u"Sport", u"Weather"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(list.InsertItem(i, names[i]), i);
    list.SetItemData(i, static_cast<DWORD_PTR>(30 - i * 10));
  }
  list.SetItemText(1, 0, u"Sports");
  EXPECT_EQ(list.GetItemText(1, 0), CString(u"Sports"));
  EXPECT_EQ(list.GetItemCount(), 3);
  EXPECT_TRUE(list.SortItems(ByData, 0));
  EXPECT_EQ(list.GetItemText(0, 0), CString(u"Weather"));
  EXPECT_EQ(list.GetItemData(0), static_cast<DWORD_PTR>(10));
  list.SetItemState(2, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 2);

  CImageList images;
  ASSERT_TRUE(images.Create(16, 16, ILC_COLOR32 | ILC_MASK, 0, 4));
  HBITMAP bitmap = CreateBitmap(32, 16, 1, 32, nullptr);
  EXPECT_EQ(images.Add(bitmap, static_cast<HBITMAP>(nullptr)), 0);
  EXPECT_EQ(images.GetImageCount(), 2);  // a strip of two 16-pixel images
  list.SetImageList(&images, LVSIL_SMALL);
  EXPECT_EQ(list.GetImageList(LVSIL_SMALL)->m_hImageList, images.m_hImageList);

  // The list asks its parent to draw its rows; the request reaches the list.
  list.Invalidate();
  list.UpdateWindow();
  EXPECT_EQ(list.drawn, (std::vector<int>{0, 1, 2}));
  EXPECT_GE(list.measured, 1);
  list.SetImageList(nullptr, LVSIL_SMALL);
  DeleteObject(bitmap);
  parent.DestroyWindow();
  EXPECT_EQ(list.m_hWnd, nullptr);
}

}  // namespace
