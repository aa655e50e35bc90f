// The reading view: one article as an HTML page, with Previous and Next
// through the screen that opened it.
//
// The view is a modal dialog that hosts the HTML viewer in a CHtmlViewDlg.
// A timer builds the page shortly after the view opens or moves to another
// article (so the screen redraws first): the article record becomes one
// HTML page (article_page.h), whose logo and local pictures are loaded from
// the channel data folder and registered with the host under the names the
// page uses. The host owns every picture registered with it; the view only
// remembers which names it gave.
//
// On a touch screen the view draws a bar of five image buttons at its
// bottom (close, previous, e-mail, next, reading menu) while it is not full
// screen; on other devices a soft-key menu bar ("Headlines", "Menu" with
// Previous, Next, Delete, Email and the five font sizes) belongs to the
// host window, whose commands come back here.
//
// Previous and Next ask the CArticleSource given to the constructor. When
// it has no row to move to (its list was emptied while the view was open)
// the view stays on the article it shows.
//
// On a touch screen the finger drives the page (full_screen_reading.h): it
// scrolls, turns to the next or previous article with a swipe and pages
// with Up and Down. The bar's menu button opens the touch reading menu of
// font sizes (news_read_menu_dlg.h); the e-mail button and the Email
// command hand the article to the message composer (send_mail.h). The font
// size (0 to 4) is the application's and is kept as "HtmlFontSize".
#pragma once

#include "framework/afx.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "quillet/screens/article_info.h"
#include "quillet/ui/image_button_bar.h"

class CHtmlViewDlg;
class CNewsReadMenuDlg;

// Timers of the view.
#define NEWS_READ_TIMER_BUILD 1
#define NEWS_READ_TIMER_MENU 2
#define NEWS_READ_TIMER_REFIT 3
#define NEWS_READ_TIMER_FULLSCREEN 4

class CNewsReadDlg : public CDialog {
 public:
  // source: the headline list's side of Previous and Next (may be null).
  CNewsReadDlg(const ArticleInfo& info, CWnd* parent, CArticleSource* source);
  ~CNewsReadDlg() override;

  // The user confirmed Delete in the view: the opener deletes the article
  // that the view showed last (GetArticle()).
  BOOL IsDeleteRequested() const { return m_bDeleteRequested; }
  const ArticleInfo& GetArticle() const { return m_info; }

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;

  // -1 the previous article, +1 the next one.
  void MoveArticle(int direction);
  // Applies the application's font size to the viewer, marks it in the
  // menu and stores it as "HtmlFontSize".
  void SetFontSize();
  // Asks, then closes the view with the delete request set.
  void OnDeleteItem();

  // The application's reading font size (0 smallest to 4 largest); a size
  // outside that range is taken as the nearest end wherever it is read.
  static int GetReadingFontSize();
  static void SetReadingFontSize(int size);
  // The stored size, Settings "HtmlFontSize" (2 when none is stored).
  static int LoadFontSizeSetting();

  // What the view holds now.
  CHtmlViewDlg* GetHtmlHost() const { return m_pHost; }
  CImageButtonBar* GetButtonBar() const { return m_pBar; }
  HWND GetMenuBar() const { return m_hMenuBar; }
  BOOL IsPageShown() const { return m_bPageShown; }
  BOOL IsFullScreen() const { return m_bFullScreen; }
  BOOL HasLogo() const { return m_hLogo != nullptr; }
  int GetContentImageCount() const { return m_nContentImages; }
  // The last page text handed to the viewer.
  const CString& GetPageText() const { return m_strPage; }
  // The touch reading menu while it runs, else null.
  CNewsReadMenuDlg* GetReadingMenu() const { return m_pMenu; }

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  void OnTimer(UINT_PTR id);
  void OnSize(UINT type, int cx, int cy);
  BOOL OnEraseBkgnd(CDC* dc);
  void OnPaint();
  void OnDestroy();
  void OnClose();
  void OnActivate(UINT state, CWnd* other, BOOL minimized);
  void OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu);
  void OnHeadlines();
  void OnPreviousArticle();
  void OnNextArticle();
  void OnEmailArticle();
  void OnFontSize(UINT id);

 private:
  class CImages;
  void BuildPage();
  void DrawBar(HDC hdc);
  int BarHeight() const;
  RECT MainWindowRect() const;
  void PlaceView(BOOL fullScreen);
  void PlaceHost();
  void FitPageToHost();
  void OnBarRelease(int code);
  // Runs the touch reading menu (the bar's menu button).
  void RunReadingMenu();

  CHtmlViewDlg* m_pHost = nullptr;
  CImageButtonBar* m_pBar = nullptr;
  ArticleInfo m_info;
  CArticleSource* m_pSource = nullptr;
  COLORREF m_highlight = 0;
  // The logo registered as "logo" (the host owns it); null when none.
  HBITMAP m_hLogo = nullptr;
  // Content pictures registered for the page shown ("newscontent01"...).
  int m_nContentImages = 0;
  // Which marks are registered: -1 none yet, 0 the read marks, 1 the error
  // mark.
  int m_nMarks = -1;
  BOOL m_bLogoTried = FALSE;
  BOOL m_bPageShown = FALSE;
  BOOL m_bFullScreen = FALSE;
  BOOL m_bDeleteRequested = FALSE;
  CBarPress m_barPress;
  HWND m_hMenuBar = nullptr;
  CNewsReadMenuDlg* m_pMenu = nullptr;
  CString m_strPage;
  CStatic m_hidden;

  DECLARE_MESSAGE_MAP()
};
