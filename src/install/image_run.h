// Image mode: one package or bundle read from standard input, installed after
// the scheduled actions and kept byte for byte as its stored image (or as the
// boot image), committed, and its messages added to the post-install log.
#pragma once

#include "install/run_request.h"

// The whole run on the request's input, with what the command line permits
// besides upgrades.
RunReport runImage(const RunRequest& request);
