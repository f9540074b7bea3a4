// From releaseWriteSlot to a reader in another process waking and having checked the
// frame. The plug-in's own test-pattern loop publishes (its timestamp is taken just
// before releaseWriteSlot); latency_reader, started as a child process, waits on the
// ring and reports per frame when it woke and when it had copied and checked the whole
// frame.
//   latency [--frames N] [--size WxH]... [--repeat N] [--json FILE]
// The loop runs at 1000 frames/s (one-millisecond sleeps) for frames up to 1 MiB and at
// 240 for larger ones, slowly enough that the reader is asleep in the kernel when each
// frame is published: this is the wake-up path, not polling.

#include "bench_support.h"
#include "helpers/plugin_probe.h"

#include <QCoreApplication>
#include <QProcess>

#include <thread>

using namespace Vardel;
using Probe = KorvanePluginProbe;

namespace {

int framesPerSecond(std::uint32_t width, std::uint32_t height)
{
    return std::size_t(width) * height * 3 <= (std::size_t(1) << 20) ? 1000 : 240;
}

struct Run {
    std::vector<double> wakeMicros, checkedMicros;
    long unsound = 0;
    long torn = 0;
    bool ok = false;
};

Run runOnce(std::uint32_t width, std::uint32_t height, long frames)
{
    Run run;
    const std::string ringName = bench::useOwnRing("latency");
    KorvanePlugin plugin;
    plugin.initialize();

    QProcess reader;
    reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const int fps = framesPerSecond(width, height);
    const long timeoutMs = 20'000 + frames * 1000 / fps * 3;
    reader.start(QCoreApplication::applicationDirPath() + QStringLiteral("/latency_reader"),
                 {QString::fromStdString(ringName), QString::number(frames), QString::number(timeoutMs)});
    if (!reader.waitForStarted() || !reader.waitForReadyRead(timeoutMs)
        || !reader.readLine().startsWith("ready")) {
        std::fprintf(stderr, "latency_reader did not start\n");
        return run;
    }
    Probe::startLoop(plugin, true, width, height, fps);
    reader.waitForFinished(timeoutMs);
    Probe::stopLoop(plugin);

    while (reader.canReadLine()) {
        const QList<QByteArray> fields = reader.readLine().trimmed().split(' ');
        if (fields.size() == 2 && fields[0] == "torn") {
            run.torn = fields[1].toLong();
            continue;
        }
        if (fields.size() != 5)
            continue;
        const double stamp = double(fields[1].toLongLong());
        run.wakeMicros.push_back((double(fields[2].toLongLong()) - stamp) / 1e3);
        run.checkedMicros.push_back((double(fields[3].toLongLong()) - stamp) / 1e3);
        if (fields[4] != "1")
            ++run.unsound;
    }
    run.ok = reader.exitStatus() == QProcess::NormalExit && reader.exitCode() == 0;
    return run;
}

QJsonObject distribution(const std::vector<double>& micros)
{
    return {{QStringLiteral("p50"), bench::percentile(micros, 50)},
            {QStringLiteral("p99"), bench::percentile(micros, 99)},
            {QStringLiteral("max"), bench::percentile(micros, 100)}};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const auto options = bench::Options::parse(argc, argv, 0, {{320u, 240u}, {1920u, 1080u}}, 10'000);

    bench::JsonRows results(QStringLiteral("latency"));
    std::printf("%-10s %5s %7s %26s %26s %7s %5s\n", "size", "fps", "frames", "woken p50/p99/max us", "checked p50/p99/max us",
                "unsound", "torn");
    int status = 0;
    for (const auto& [width, height] : options.sizes) {
        for (int r = 0; r < options.repeat; ++r) {
            const Run run = runOnce(width, height, options.frames);
            if (!run.ok || run.unsound != 0)
                status = 1;
            auto text = [](const std::vector<double>& v) {
                return QStringLiteral("%1 / %2 / %3")
                    .arg(bench::percentile(v, 50), 0, 'f', 1)
                    .arg(bench::percentile(v, 99), 0, 'f', 1)
                    .arg(bench::percentile(v, 100), 0, 'f', 0);
            };
            const QString size = bench::sizeText(width, height);
            std::printf("%-10s %5d %7zu %26s %26s %7ld %5ld%s\n", qPrintable(size), framesPerSecond(width, height),
                        run.wakeMicros.size(),
                        qPrintable(text(run.wakeMicros)), qPrintable(text(run.checkedMicros)), run.unsound, run.torn,
                        run.ok ? "" : "  (reader failed)");
            std::fflush(stdout);
            results.add(QJsonObject{{QStringLiteral("size"), size},
                                       {QStringLiteral("framesPerSecond"), framesPerSecond(width, height)},
                                       {QStringLiteral("frames"), qint64(run.wakeMicros.size())},
                                       {QStringLiteral("wokenMicros"), distribution(run.wakeMicros)},
                                       {QStringLiteral("checkedMicros"), distribution(run.checkedMicros)},
                                       {QStringLiteral("unsound"), qint64(run.unsound)},
                                       {QStringLiteral("torn"), qint64(run.torn)}});
        }
    }
    results.write(options.jsonFile);
    return status;
}
