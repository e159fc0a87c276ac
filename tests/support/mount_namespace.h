// A mount namespace private to the test process, so that tmpfs mounts and
// chroot runs never reach the machine's own tree and vanish with the process.
#pragma once

#include <string>

// Enters the namespace on the first call (directly as root, else through a
// user namespace in which the caller is root); later calls report the first
// result. False, with the reason in `whyNot`, where the machine does not allow
// it. Must be called while the process has one thread.
bool enterPrivateMountNamespace(std::string* whyNot);
