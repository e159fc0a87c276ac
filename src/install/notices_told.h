// Putting what planning decided on the console: its errors and warnings, in
// the order planning gave them.
#pragma once

#include "model/repository.h"
#include "planning/notice.h"

void tell(Repository& repository, const Notices& notices);
