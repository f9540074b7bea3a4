// What a capture start reads from the settings: the resolution and source strings, and
// the limit check on sizes and rates. Arbitrary text and numbers must parse without
// fault, the limit check must pass exactly the values the frame pump can serve, and a
// test pattern of any size it passes must draw a whole frame inside its buffer.

#include "capture/bar_recognition.h"
#include "capture/frame_header.h"
#include "capture/start_parameters.h"
#include "capture/test_pattern.h"

#include <QString>
#include <QStringList>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <limits>
#include <vector>

using namespace Vardel;

namespace {

constexpr std::uint64_t kSlotBytes = 16 * 1024 * 1024;
// Frames drawn per run stay small, so that each run is quick.
constexpr std::size_t kMaxDrawnBytes = 1 << 16;

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

QString textFrom(FuzzedDataProvider& input)
{
    const std::string bytes = input.ConsumeRandomLengthString(256);
    if (input.ConsumeBool())
        return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data()), qsizetype(bytes.size() / 2));
}

// The value of a run of one to nine ASCII digits, or -1 for anything else.
int plainNumber(const QString& text)
{
    if (text.isEmpty() || text.size() > 9)
        return -1;
    int value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

void checkParsing(const QString& text)
{
    const auto resolution = parseResolution(text);
    // Exactly two parts around a lower-case x, nothing else; plain numbers read as such.
    require(resolution.has_value() == (text.count(QLatin1Char('x')) == 1));
    if (resolution) {
        const qsizetype x = text.indexOf(QLatin1Char('x'));
        if (const int width = plainNumber(text.left(x)); width >= 0)
            require(resolution->width == width);
        if (const int height = plainNumber(text.mid(x + 1)); height >= 0)
            require(resolution->height == height);
    }
    require(isTestSource(text) == text.startsWith(QLatin1String("-1:")));
    // Only the text before the first colon chooses the device; the name plays no part.
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const QString index = colon < 0 ? text : text.left(colon);
    require(deviceIndexOf(text) == deviceIndexOf(index + QLatin1String(": another: name")));
    if (const int number = plainNumber(index); number >= 0)
        require(deviceIndexOf(text) == number);
}

void checkLimits(int width, int height, int fps, bool testPattern, std::uint64_t slotBytes)
{
    const auto error = captureLimitError(width, height, fps, testPattern, slotBytes);
    const bool servable = width > 0 && height > 0 && std::uint64_t(width) * std::uint64_t(height) * 3 <= slotBytes
        && fps >= 1 && (!testPattern || width >= 8);
    require(error.has_value() != servable);
    if (error)
        require(!error->isEmpty());
}

// A size the start lets through for the test pattern draws a frame that fills its buffer
// exactly and that the readers' recogniser places at its frame number.
void drawPassedSize(int width, int height, std::uint32_t n, std::size_t misalign)
{
    if (captureLimitError(width, height, 60, true, kSlotBytes))
        return;
    const FrameSlot header = bgrFrameHeader(std::uint32_t(width), std::uint32_t(height));
    require(header.dataSize == std::uint64_t(width) * std::uint64_t(height) * 3 && header.stride == std::uint32_t(width) * 3);
    if (header.dataSize > kMaxDrawnBytes)
        return;
    TestPatternPainter painter(header.width, header.height);
    require(painter.frameBytes() == header.dataSize);
    // Exactly the frame's bytes behind an arbitrary alignment: the address sanitizer sees
    // any write past them.
    std::vector<std::uint8_t> storage(header.dataSize + misalign);
    painter.draw(storage.data() + misalign, n);
    const auto offset = findBarOffset(storage.data() + misalign, header.width, header.height);
    require(offset.has_value() && *offset == (2u * n) % (header.width / 8 * 8));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString resolutionText = textFrom(input);
    const QString sourceText = textFrom(input);
    checkParsing(resolutionText);
    checkParsing(sourceText);

    const int fps = input.ConsumeIntegral<int>();
    const bool testPattern = isTestSource(sourceText);
    if (const auto resolution = parseResolution(resolutionText)) {
        checkLimits(resolution->width, resolution->height, fps, testPattern, kSlotBytes);
        drawPassedSize(resolution->width, resolution->height, input.ConsumeIntegral<std::uint32_t>(),
                       input.ConsumeIntegralInRange<std::size_t>(0, 63));
    }
    // Sizes and rates from anywhere in the integers, against any slot size.
    const int width = input.ConsumeIntegral<int>();
    const int height = input.ConsumeIntegral<int>();
    checkLimits(width, height, fps, input.ConsumeBool(), input.ConsumeIntegral<std::uint64_t>());
    checkLimits(width, height, fps, testPattern, kSlotBytes);
    drawPassedSize(input.ConsumeIntegralInRange<int>(-8, 600), input.ConsumeIntegralInRange<int>(-2, 40),
                   input.ConsumeIntegral<std::uint32_t>(), input.ConsumeIntegralInRange<std::size_t>(0, 63));
    return 0;
}
