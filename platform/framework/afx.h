// The application framework in one include.
#pragma once

#include "user/user.h"

#include "framework/app.h"
#include "framework/coll.h"
#include "framework/controls.h"
#include "framework/cstring.h"
#include "framework/dialog.h"
#include "framework/file.h"
#include "framework/frame.h"
#include "framework/propsheet.h"
#include "framework/thread.h"
#include "framework/wnd.h"
