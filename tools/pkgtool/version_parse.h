// Reading a version from its text form: the exact inverse of versionText for
// the final, alpha, beta and release-candidate stages.
#pragma once

#include <string>

#include "model/version.h"

// Parses "6.40", "6.40.1", "6.41alpha", "6.41beta3", "6.41rc2". Only the text
// that versionText writes for the result is accepted, so "6.40.0" or "06.40"
// are refused with the canonical spelling in *error.
bool parseVersion(const std::string& text, Version* version, std::string* error);
