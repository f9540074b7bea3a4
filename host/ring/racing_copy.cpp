#include "host/ring/racing_copy.h"

#include <immintrin.h>

namespace Vardel {

__attribute__((no_sanitize("thread"))) void copyRacingBytes(std::uint8_t* destination, const std::uint8_t* source,
                                                            std::size_t bytes)
{
#ifdef __AVX2__
    using Vector = __m256i;
    auto load = [](const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const Vector*>(p)); };
    auto store = [](std::uint8_t* p, Vector v) { _mm256_storeu_si256(reinterpret_cast<Vector*>(p), v); };
#else
    using Vector = __m128i;
    auto load = [](const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const Vector*>(p)); };
    auto store = [](std::uint8_t* p, Vector v) { _mm_storeu_si128(reinterpret_cast<Vector*>(p), v); };
#endif
    constexpr std::size_t width = sizeof(Vector);
    if (bytes < width) {
        const volatile std::uint8_t* from = source; // volatile: never turned into a memcpy call
        for (std::size_t i = 0; i < bytes; ++i)
            destination[i] = from[i];
        return;
    }
    std::size_t i = 0;
    for (; i + 4 * width <= bytes; i += 4 * width) {
        const Vector a = load(source + i), b = load(source + i + width);
        const Vector c = load(source + i + 2 * width), d = load(source + i + 3 * width);
        store(destination + i, a);
        store(destination + i + width, b);
        store(destination + i + 2 * width, c);
        store(destination + i + 3 * width, d);
    }
    for (; i + width <= bytes; i += width)
        store(destination + i, load(source + i));
    if (i < bytes) // the last, overlapping vector
        store(destination + bytes - width, load(source + bytes - width));
}

} // namespace Vardel
