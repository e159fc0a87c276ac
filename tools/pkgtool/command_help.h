// pkgtool's help: an overview of every command, and each command's own text
// with its options and exit statuses.
#pragma once

#include <ostream>
#include <string>

void printOverview(std::ostream& out);
// False when no command has that name.
bool printCommandHelp(const std::string& command, std::ostream& out);
