// What pkgtool's commands share: their error lines and exit statuses, and the
// key files they read.
#pragma once

#include <ostream>
#include <string>

#include "pkgtool/arguments.h"
#include "signature/signing_key.h"

// "pkgtool CMD: MESSAGE" and the hint to the command's help; kExitUsage.
int usageError(std::ostream& err, const char* command, const std::string& message);
// The current word, which is no option of the command, as a usage error.
int unexpected(std::ostream& err, const char* command, Arguments& args);
// "pkgtool CMD: MESSAGE"; the status given.
int failure(std::ostream& err, const char* command, const std::string& message, int status);

// Where a command's closing line goes: standard error when the command's
// output went to standard output ("-o -"), else out.
std::ostream& reportStream(bool toStandardOutput, std::ostream& out, std::ostream& err);

// The key to check against: the given public key file (a private key file
// serves too), else the key this build of the installer trusts.
bool chooseKey(const std::string& path, PublicKey* key, std::string* error);
// A private key file; a file that cannot be opened is told with the reason.
bool readSigningKey(const std::string& path, PrivateKey* key, std::string* error);
