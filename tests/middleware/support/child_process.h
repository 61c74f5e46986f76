// The line-oriented child process of the test harness.
#pragma once

#include "tests/support/child_process.h"
