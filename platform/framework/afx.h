// The application framework in one include.
#pragma once

#include "framework/app.h"
#include "framework/coll.h"
#include "framework/cstring.h"
#include "framework/file.h"
