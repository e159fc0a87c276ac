// Every path of the board the program uses, in one place. Paths are as the
// board sees them; a run in a scratch tree puts that tree's root before them.
#pragma once

// The boot image: the whole package file of the package that carries it.
constexpr char kBootImagePath[] = "/flash/bootimage";
