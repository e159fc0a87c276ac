// Image mode: one package or bundle read from standard input, installed after
// the scheduled actions and kept byte for byte as its stored image (or as the
// boot image), committed, and its messages added to the post-install log.
#pragma once

#include "install/run_report.h"
#include "model/board_paths.h"
#include "platform/byte_source.h"

// The whole run on `input`, with what the command line permits besides
// upgrades.
RunReport runImage(Repository& repository, Console& console, const BoardPaths& board, InstallFlags permitted,
                   ByteSource* input);
