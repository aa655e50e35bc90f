// The kernel layer in one include.
#pragma once

#include "kernel/codepage.h"
#include "kernel/fs.h"
#include "kernel/handle.h"
#include "kernel/module.h"
#include "kernel/registry.h"
#include "kernel/sync.h"
#include "kernel/time.h"
#include "kernel/types.h"
#include "kernel/wstring.h"
