#include "capture/format_choice.h"

#include <algorithm>
#include <vector>

namespace Vardel {

namespace {

// A rate that is 1000/1001 of a round one (59.94 for 60, as NTSC-derived timings give)
// reaches it.
constexpr double kRateTolerance = 0.99;

struct Candidate {
    const BackendFormat* format;
    double fps; // the highest the device names at the size, 0 unknown
};

bool offers(const CaptureMode& mode, int width, int height) { return mode.width == width && mode.height == height; }

// The format the back end settles on when told none: the first of its order that the
// device offers, at the size asked or, where the pick outlives size changes, at any.
const BackendFormat* ownPick(std::span<const CaptureMode> offered, int width, int height,
                             const BackendFormats& backend)
{
    for (const BackendFormat& format : backend.tryOrder) {
        for (const CaptureMode& mode : offered) {
            if (mode.fourcc == format.fourcc && (backend.pickKeptAcrossSizes || offers(mode, width, height)))
                return &format;
        }
    }
    return nullptr;
}

} // namespace

FormatChoice chooseFormat(std::span<const CaptureMode> offered, int width, int height, double fps,
                          const BackendFormats& backend)
{
    // One candidate per usable format at the size, in the back end's order; a format
    // listed more than once (several frame-rate ranges) counts with its best rate.
    std::vector<Candidate> candidates;
    bool ratesKnown = true;
    for (const BackendFormat& format : backend.tryOrder) {
        if (format.delivery == Delivery::Unusable)
            continue;
        std::optional<double> best;
        for (const CaptureMode& mode : offered) {
            if (mode.fourcc == format.fourcc && offers(mode, width, height))
                best = std::max(best.value_or(0.0), mode.maxFps);
        }
        if (best) {
            candidates.push_back({&format, *best});
            ratesKnown = ratesKnown && *best > 0;
        }
    }
    if (candidates.empty())
        return {};

    const auto reaches = [&](const Candidate& c) { return c.fps >= fps * kRateTolerance; };
    const auto uncompressed = [](const Candidate& c) { return c.format->delivery == Delivery::Converted; };
    // Whether a comes before b; equal ones keep the back end's order.
    const auto before = [&](const Candidate& a, const Candidate& b) {
        if (ratesKnown && reaches(a) != reaches(b))
            return reaches(a);
        if (ratesKnown && !reaches(a) && a.fps != b.fps)
            return a.fps > b.fps;
        return uncompressed(a) && !uncompressed(b);
    };
    const BackendFormat* own = ownPick(offered, width, height, backend);
    const auto ownAtSize = std::ranges::find(candidates, own, &Candidate::format);
    // Without rates a faster format cannot be told from a slower one: the back end keeps
    // its own pick where that gives the size.
    const Candidate chosen = !ratesKnown && ownAtSize != candidates.end()
        ? *ownAtSize
        : *std::ranges::min_element(candidates, before);
    FormatChoice choice{std::nullopt, chosen.fps, true};
    if (chosen.format != own)
        choice.fourcc = chosen.format->fourcc;
    return choice;
}

} // namespace Vardel
