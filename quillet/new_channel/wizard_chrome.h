// The wizard's chrome, which the wizard and each of its pages use: the title
// band drawn at the top of their client area, the wizard's soft keys on a
// key device, what the wizard reads of a page and what a page reaches of
// the wizard. The pages include this header, never the wizard's.
#pragma once

#include "framework/afx.h"
#include "framework/coll.h"

// What the wizard reads of a page in its OPML or templates slot besides its
// window: whether it lets the wizard finish, and (the OPML page) whether it
// still shows the screen it opens with for a chosen file.
class CWizardPageState {
 public:
  virtual ~CWizardPageState() = default;
  virtual BOOL IsFinishAllowed() const = 0;
  virtual BOOL IsOnFirstScreen() const { return FALSE; }
};

// What a page reaches of the wizard that shows it (its parent): the
// channels ticked on the OPML or templates page, kept across pages.
class CWizardFrame {
 public:
  virtual ~CWizardFrame() = default;
  CStringList m_chosenChannels;
};

// The title band that the wizard and its choice page draw at the top of
// their client area, over a gradient down to the content bottom. The touch
// edition shows a title and a subtitle, a key device one line.
void DrawWizardBand(HWND window, HDC hdc, HFONT normalFont, HFONT boldFont, LPCWSTR title, LPCWSTR subtitle);
// The wizard's soft keys on a key device (menu bar 347, owned by the
// wizard): OK hidden, Cancel. A bar the wizard had goes first. Null when the
// bar cannot be made.
HWND CreateWizardMenuBar(HWND wizard);
// The text of a row of a wizard page's list that is `width` wide: as it
// stands when it ends inside the row, else cut with an ellipsis so that it
// does, as a row's text too long for the row is cut; never up to the
// window's edge.
CString WizardRowText(const CString& text, int width);
