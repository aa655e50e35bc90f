// The viewer's entry when it is opened as a module of its own: the program
// that opens it looks this name up and registers the control through it.
#include "htmlview/htmlview.h"

extern "C" __attribute__((visibility("default"))) BOOL QkRegisterHtmlView(HINSTANCE instance) {
  return InitHTMLControl(instance);
}
