// The viewer for a program that opens it when it first shows a page: the
// control's registration opens the module "libqk_htmlview.so" that lies
// beside the program and registers the control through it. The layout
// library and the HTML parser it brings (some 3,500 symbols to bind at
// load) are then no part of the program's start. The module is bound
// against the program's own window and drawing layers, which the program
// exports, so its windows and handles are the program's.
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "htmlview/htmlview.h"
#include "kernel/module.h"

namespace {

using Register = BOOL (*)(HINSTANCE);

// The module's registration, looked up once; null when it cannot be had
// (said once on standard error, with the loader's reason).
Register ModuleRegister() {
  static const Register call = [] {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string path = (self.parent_path() / "libqk_htmlview.so").string();
    Register found = nullptr;
    if (!ec) qk::ResolveCall(qk::OpenSystemLibrary({path.c_str()}, true), "QkRegisterHtmlView", &found);
    if (!found) std::fprintf(stderr, "The HTML viewer cannot be opened: %s\n", ec ? path.c_str() : ::dlerror());
    return found;
  }();
  return call;
}

}  // namespace

BOOL InitHTMLControl(HINSTANCE instance) {
  Register call = ModuleRegister();
  return call ? call(instance) : FALSE;
}
