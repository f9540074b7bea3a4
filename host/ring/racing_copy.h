#pragma once

#include <cstddef>
#include <cstdint>

namespace Vardel {

// Copies bytes that a writer in this or another process may be overwriting at the same
// moment. The caller's seqlock decides afterwards whether the copy is kept; the copy
// itself is a deliberate race, so it is invisible to the race detector (and is not a
// libc memcpy, which the detector would intercept).
void copyRacingBytes(std::uint8_t* destination, const std::uint8_t* source, std::size_t bytes);

} // namespace Vardel
