// Whole refresh runs.
#include <gtest/gtest.h>

#include "refresh_fixture.h"

namespace rtest {
namespace {}
}  // namespace rtest
