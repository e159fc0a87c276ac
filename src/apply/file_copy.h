// The commit's fallback for a move across file systems: the file's content is
// copied in fixed chunks and renamed into place, the source stays.
#pragma once

#include <string>

class Spinner;

// Copies the regular file `source` to `destination` with the source's
// permission bits. The content goes into a temporary file beside the
// destination, reaches stable storage and is then renamed over the
// destination, so the destination holds either its old or its complete new
// content. On failure the temporary file is removed, the destination is left
// as it was, errno tells why and the result is false. With a spinner, one
// step is taken after each chunk written.
bool copyFile(const std::string& source, const std::string& destination, Spinner* spinner);
