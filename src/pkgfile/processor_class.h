// The processor class of a board: which of a package's file records are meant
// for it. A record names the class it is for, 0 meaning every board.
#pragma once

#include <cstdint>
#include <functional>

class ProcessorVersion;

// The answer for a processor outside every class: such a board takes only the
// records meant for every board.
constexpr int kNoProcessorClass = 0;

// The class, 1 to 4, of a processor with version register pvr, or
// kNoProcessorClass. flashVariantBit is the flash control device's variant
// bit; it is asked only for the two processors whose class it decides.
int processorClass(uint32_t pvr, const std::function<bool()>& flashVariantBit);

// The same for the register that processor reads.
int processorClass(const ProcessorVersion& processor,
                   const std::function<bool()>& flashVariantBit);

// The class of the board this program runs on: the register that
// processorVersion() reads, and the flash control device's variant bit.
int boardProcessorClass();

// Whether a file record meant for recordClass is installed on a board of
// boardClass (a processorClass answer).
bool recordFitsBoard(unsigned recordClass, int boardClass);
