// Packages made by pkgtool for tests, declared with the package writer.
#pragma once
#include "support/package_writer.h"
