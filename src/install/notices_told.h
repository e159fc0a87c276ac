// Putting what planning decided on the console: its errors and warnings, in
// the order planning gave them.
#pragma once

#include "install/console.h"
#include "planning/notice.h"

void tell(Console& console, const Notices& notices);
