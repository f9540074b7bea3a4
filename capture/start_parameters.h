#pragma once

// Reading and checking what a capture start is asked for, before any thread starts.

#include <QString>

#include <cstdint>
#include <optional>

namespace Vardel {

struct Resolution {
    int width = 0;
    int height = 0;
};

// "1920x1080" -> 1920 x 1080. Exactly two parts around a lower-case 'x'; a part that is
// not a number reads as 0 (the limit check refuses it).
std::optional<Resolution> parseResolution(const QString& text);

// A source string names the built-in test pattern when it starts with "-1:".
bool isTestSource(const QString& source);

// The device index: the text before the first ':' as a decimal number, 0 when it is none.
int deviceIndexOf(const QString& source);

// The error line for a size or rate the frame pump cannot serve (a frame larger than a
// slot, a non-positive size, a test pattern narrower than its eight bars or paced below
// one or above a thousand frames per second), or nothing when the values are usable.
std::optional<QString> captureLimitError(int width, int height, int fps, bool testPattern, std::uint64_t slotBytes);

} // namespace Vardel
