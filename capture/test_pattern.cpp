#include "capture/test_pattern.h"

#include <cstring>
#include <immintrin.h>

namespace Vardel {

namespace {
// Larger frames than this would only push the reader's data out of the caches anyway.
constexpr std::size_t kNonTemporalFrom = std::size_t(1) << 20;
constexpr std::size_t kStore = 64; // bytes per loop step
// The stores reach each page of the frame a few pages after a prefetch has asked for its
// address translation. A frame spans thousands of pages, more than the TLB holds, and
// after a pause between paced frames the page-table entries have left the caches too;
// without the prefetch every page's walk stalls the store stream in turn, which doubles
// the cost of a frame. Prefetches never fault and change no memory.
constexpr std::size_t kPage = 4096;
constexpr std::size_t kTranslationLead = 4 * kPage;
} // namespace

TestPatternPainter::TestPatternPainter(std::uint32_t width, std::uint32_t height)
    : width_(width), height_(height), rowBytes_(width * 3), period_(width / 8 * 8)
{
    const std::uint32_t barWidth = width / 8;
    strip_.resize(std::size_t(period_ + width_) * 3);
    for (std::uint32_t column = 0; column < period_ + width_; ++column) {
        const auto& colour = kColourBars[(column % period_) / barWidth];
        std::memcpy(&strip_[std::size_t(column) * 3], colour.data(), 3);
    }
    const std::size_t copies = 1 + (kStore + rowBytes_ - 1) / rowBytes_ + 1;
    rows_.resize(copies * rowBytes_);
}

void TestPatternPainter::draw(std::uint8_t* frame, std::uint32_t n)
{
    // Row 0 of frame n is the strip seen from column (2n mod period).
    const std::uint32_t offset = (2u * n) % period_;
    const std::uint8_t* row = &strip_[std::size_t(offset) * 3];
    for (std::size_t at = 0; at < rows_.size(); at += rowBytes_)
        std::memcpy(&rows_[at], row, rowBytes_);
    fillRepeatedRows(frame, rows_.data(), rowBytes_, frameBytes(), frameBytes() >= kNonTemporalFrom);
}

void fillRepeatedRows(std::uint8_t* destination, const std::uint8_t* source, std::size_t rowBytes,
                      std::size_t total, bool nonTemporal)
{
#ifdef __AVX2__
    if (rowBytes >= kStore) {
        // Byte p of the frame is byte (p mod rowBytes) of the row; source holds the row
        // repeated, so 64 bytes from any row position can be loaded in one piece.
        std::size_t p = 0;
        const std::size_t head = std::min(total, (32 - reinterpret_cast<std::uintptr_t>(destination) % 32) % 32);
        std::memcpy(destination, source, head);
        p = head;
        std::size_t from = p % rowBytes;
        const auto address = reinterpret_cast<std::uintptr_t>(destination);
        auto step = [&](auto store) {
            for (; p + kStore <= total; p += kStore) {
                // Once per page: the step that starts within the page's first 64 bytes.
                if ((address + p) % kPage < kStore && p + kTranslationLead < total)
                    _mm_prefetch(reinterpret_cast<const char*>(destination + p + kTranslationLead), _MM_HINT_NTA);
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + from));
                const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + from + 32));
                store(reinterpret_cast<__m256i*>(destination + p), a);
                store(reinterpret_cast<__m256i*>(destination + p + 32), b);
                from += kStore;
                if (from >= rowBytes)
                    from -= rowBytes;
            }
        };
        if (nonTemporal)
            step([](__m256i* at, __m256i v) { _mm256_stream_si256(at, v); });
        else
            step([](__m256i* at, __m256i v) { _mm256_store_si256(at, v); });
        std::memcpy(destination + p, source + from, total - p);
        // Streaming stores are weakly ordered: complete them before the frame is published.
        _mm_sfence();
        return;
    }
#endif
    (void)nonTemporal;
    for (std::size_t p = 0; p < total; p += rowBytes)
        std::memcpy(destination + p, source, std::min(rowBytes, total - p));
}

} // namespace Vardel
