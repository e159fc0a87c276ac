// What `pkgtool inspect --json` prints: one JSON object a file, for scripts.
// Names and texts are bytes: one that is not UTF-8 is kept whole beside its
// text as KEY_hex, its bytes in hex.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "pkgtool/file_report.h"

nlohmann::json reportJson(const FileReport& report);
// The object of a file that could not be read: its name and the verdict
// "unreadable".
nlohmann::json unreadableJson(const std::string& path);
// An object as text; bytes that are not UTF-8 become U+FFFD in the text
// fields (the KEY_hex fields keep them).
std::string jsonText(const nlohmann::json& object);
