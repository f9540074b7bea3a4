// vardel-ring: attaches to a video ring by name from another process and reports what
// it reads each second, checking every frame.
//   vardel-ring [NAME] [--seconds N] [--wait N] [--snapshot FILE] [--expect-test-pattern] [--owner USER]

#include "app/ring_reading.h"
#include "app/snapshot.h"
#include "host/ring/region_owner.h"
#include "host/ring/video_ring_buffer_reader.h"
#include "host/shared_memory_manager.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>

#include <chrono>
#include <cmath>
#include <optional>
#include <cstdio>

using namespace Vardel;
using namespace std::chrono_literals;

namespace {
// About 31 years: a time from now this far ahead still fits the steady clock's nanoseconds.
constexpr double kMaxSeconds = 1e9;

// The option's value in seconds, above 0 (or 0 as well, where allowed) and at most kMaxSeconds;
// nothing, said on standard error, for anything else (nan and inf included).
std::optional<double> secondsOption(const QCommandLineParser& parser, const QCommandLineOption& option,
                                    bool zeroAllowed)
{
    bool ok = false;
    const double value = parser.value(option).toDouble(&ok);
    if (ok && std::isfinite(value) && (value > 0 || (zeroAllowed && value == 0)) && value <= kMaxSeconds)
        return value;
    std::fprintf(stderr, "vardel-ring: --%s needs a number of seconds from %s to %.0f, not '%s'\n",
                 qPrintable(option.names().first()), zeroAllowed ? "0" : "above 0", kMaxSeconds,
                 qPrintable(parser.value(option)));
    return std::nullopt;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vardel-ring"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Reads a Vardel video ring and checks its frames."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("name"), QStringLiteral("Ring name (default: this user's ring)."));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Read for this long (default 10)."),
                                     QStringLiteral("n"), QStringLiteral("10"));
    const QCommandLineOption wait(QStringLiteral("wait"),
                                  QStringLiteral("Wait this long for the ring to appear (default 0)."),
                                  QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption snapshot(QStringLiteral("snapshot"), QStringLiteral("Save the last frame as PNG."),
                                      QStringLiteral("file"));
    const QCommandLineOption pattern(QStringLiteral("expect-test-pattern"),
                                     QStringLiteral("Check that every frame shows the moving colour bars."));
    const QCommandLineOption owner(QStringLiteral("owner"),
                                   QStringLiteral("Read a ring of this user (name or number; default: own rings)."),
                                   QStringLiteral("user"));
    parser.addOptions({seconds, wait, snapshot, pattern, owner});
    parser.process(app);
    if (parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "vardel-ring: one ring name at most\n");
        return 2;
    }
    const auto duration = secondsOption(parser, seconds, false);
    const auto waitFor = secondsOption(parser, wait, true);
    if (!duration || !waitFor)
        return 2;
    const std::string name = parser.positionalArguments().isEmpty()
        ? SharedMemoryManager::instance().getVideoRingBufferName().toStdString()
        : parser.positionalArguments().first().toStdString();

    VideoRingBufferReader reader;
    if (parser.isSet(owner)) {
        const auto uid = owner::userId(parser.value(owner).toStdString());
        if (!uid) {
            std::fprintf(stderr, "vardel-ring: no user '%s'\n", qPrintable(parser.value(owner)));
            return 2;
        }
        reader.expectOwner(*uid);
    }
    const auto attachDeadline = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(*waitFor));
    if (!reader.attachBy(name, attachDeadline)) {
        std::fprintf(stderr, "vardel-ring: %s\n", reader.lastError().c_str());
        return 3;
    }
    std::printf("attached to %s: %u slots of %llu bytes\n", name.c_str(), reader.slotCount(),
                static_cast<unsigned long long>(reader.slotBytes()));

    FrameSlot lastHeader;
    std::vector<std::uint8_t> lastPixels;
    int secondNumber = 0;
    RingReading reading(
        reader, FrameChecker(parser.isSet(pattern) ? FrameChecker::Expect::TestPattern : FrameChecker::Expect::PackedFrames),
        {[&](const FrameSlot& header, std::vector<std::uint8_t>& pixels) {
             lastHeader = header;
             lastPixels.swap(pixels);
         },
         [](const QString& problem) { std::printf("%s\n", qPrintable(problem)); },
         [&](const RingStats& s) {
             std::printf("[%3ds] %llu frames (%.1f fps) | latency p50 %.2f ms p99 %.2f ms max %.2f ms | skipped %llu | "
                         "torn %llu | bad %llu%s\n",
                         ++secondNumber, static_cast<unsigned long long>(s.framesRead), double(s.framesRead) / s.seconds,
                         s.latencyP50Ms, s.latencyP99Ms, s.latencyMaxMs, static_cast<unsigned long long>(s.skipped),
                         static_cast<unsigned long long>(s.torn), static_cast<unsigned long long>(s.bad),
                         s.captureActive ? "" : " | ring idle");
             std::fflush(stdout);
         }});
    const auto start = std::chrono::steady_clock::now();
    const bool writerGone = reading.readWhile([&] {
        return std::chrono::steady_clock::now() - start < std::chrono::duration<double>(*duration);
    }, 100ms) == RingReading::End::WriterGone;
    if (writerGone)
        std::printf("writer gone: the ring was removed or its writer died\n");
    const auto [frames, skipped, torn, bad] = reading.totals();
    if (!parser.value(snapshot).isEmpty() && frames > 0) {
        if (!saveSnapshot(parser.value(snapshot), lastHeader, lastPixels)) {
            std::fprintf(stderr, "vardel-ring: cannot write %s\n", qPrintable(parser.value(snapshot)));
            return 4;
        }
    }
    std::printf("summary frames=%llu skipped=%llu torn=%llu bad=%llu size=%ux%u writer=%s\n",
                static_cast<unsigned long long>(frames), static_cast<unsigned long long>(skipped),
                static_cast<unsigned long long>(torn), static_cast<unsigned long long>(bad), lastHeader.width,
                lastHeader.height, writerGone ? "gone" : "alive");
    return frames > 0 && bad == 0 ? 0 : 1;
}
