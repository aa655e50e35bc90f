// Full-screen reading: the finger drives the article on a touch screen.
//
// The HTML viewer's inner window (the control's first child) is subclassed.
// The control is as tall as its whole document and scrolling moves it up
// and down inside its parent, the HTML host:
// - a vertical drag moves the page with the finger, and a flick goes on
//   with momentum (a step every 70 ms, slowing down) until it stops or runs
//   past an end, where the page bounces back in four steps of 50 ms;
// - a stroke whose moves go mostly (70 per cent) leftward turns to the next
//   article, mostly rightward to the previous one (WM_HTMLHOST_NAVKEY to the
//   reading view, the window three parents up); a tap never turns the page;
// - Up and Down page by one screenful; the page never leaves a gap above
//   its first line, and a long one none below its last;
// - a tap on the corner tab (drawn at the bottom right while nothing
//   scrolls) asks the view to show the task bar and its button bar for a
//   while (WM_HTMLHOST_NAVKEY with VK_HOME).
// A stroke that moved is not a tap: the viewer does not follow a link under
// it. Moves and the two timers never reach the viewer; everything else
// (the keys, presses and releases included) goes on to it too.
//
// One window at a time, on the user-interface thread.
#pragma once

#include "framework/afx.h"

// Timers of the subclassed window.
#define FULL_SCREEN_TIMER_MOMENTUM 1030
#define FULL_SCREEN_TIMER_BOUNCE 1032

// Shows the window and subclasses it; FALSE when no window is given or
// another one is subclassed. The gesture state is cleared in every case.
BOOL EnterFullScreenReading(HWND window);
// Hides the subclassed window and puts its window procedure back; other
// windows are left alone.
void LeaveFullScreenReading(HWND window);
LRESULT CALLBACK FullScreenReadingWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
