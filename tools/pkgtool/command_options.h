// Reading the values of pkgtool's options: dependency entries, provides
// entries with their priority, processor classes of files, build times.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "model/dependency.h"

// NAME[:MIN[:MAX]] for --depends and --conflicts; bounds are version texts,
// empty for an open bound.
bool parseDependencyOption(const std::string& text, Dependency* entry, std::string* error);
// NAME:MIN:MAX:PRIORITY for --provides; PRIORITY is a signed 32-bit number.
bool parseProvidesOption(const std::string& text, Dependency* entry, std::string* error);
// PATH=N for --class: the record path as it is stored and a class 0 to 4.
bool parseClassOption(const std::string& text, std::pair<std::string, uint8_t>* entry, std::string* error);
// A board's processor class for extract: 0 (none of the classes) to 4.
bool parseBoardClass(const std::string& text, int* boardClass, std::string* error);
// Seconds since 1970 as an unsigned 32-bit decimal number.
bool parseBuildTime(const std::string& text, uint32_t* seconds, std::string* error);
