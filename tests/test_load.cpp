// Load: four reader processes take the plug-in's test pattern at 240 frames per second
// while it writes. Every frame a reader gets must be whole and current, and the writer
// must hold its rate within 2 %. Prints the figures.
//   KORVANE_LOAD_SECONDS  how long the readers read (3 unless set)
//   KORVANE_LOAD_SIZE     frame size, WIDTHxHEIGHT (640x360 unless set; CI runs 2560x1440 for 30 s)

#include "helpers/plugin_fixture.h"
#include "helpers/plugin_probe.h"
#include "helpers/writer_watch.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace Vardel;
using Probe = KorvanePluginProbe;

namespace {

constexpr int kReaders = 4;
constexpr int kFps = 240;

QString setting(const char* name, const char* fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}

// "key=value key=value ..." into numbers and texts.
QString field(const QByteArray& line, const char* key)
{
    const QRegularExpression pattern(QStringLiteral("(?:^| )%1=(\\S+)").arg(QLatin1String(key)));
    return pattern.match(QString::fromUtf8(line)).captured(1);
}

} // namespace

class LoadTest : public QObject {
    Q_OBJECT

private slots:
    void fourReadersWhileThePluginWrites()
    {
        const int seconds = setting("KORVANE_LOAD_SECONDS", "3").toInt();
        const QString size = setting("KORVANE_LOAD_SIZE", "640x360");
        testing::PluginEnvironment env("load");
        env.store(QStringLiteral("captureResolution"), size);
        env.store(QStringLiteral("captureFrameRate"), kFps);
        KorvanePlugin plugin;
        plugin.setSettingsManager(env.settings.get());
        plugin.initialize();
        QMetaObject::invokeMethod(&plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
        QTRY_VERIFY(Probe::framesWritten(plugin).load() > 10);

        std::vector<std::unique_ptr<QProcess>> readers;
        for (int i = 0; i < kReaders; ++i) {
            readers.push_back(std::make_unique<QProcess>());
            readers.back()->start(QCoreApplication::applicationDirPath() + QStringLiteral("/load_reader"),
                                  {QString::fromStdString(env.ringName), QString::number(seconds)});
            QVERIFY(readers.back()->waitForStarted());
        }
        // The writer is watched while all four read (not while they start up).
        for (auto& reader : readers) {
            QTRY_VERIFY_WITH_TIMEOUT(reader->canReadLine(), 30'000);
            QCOMPARE(reader->readLine().trimmed(), QByteArray("attached"));
        }
        testing::WriterWatch watch(plugin);
        // The event loop runs meanwhile, as in a host: the plug-in measures its rate each second.
        const auto stillReading = [&] {
            return std::any_of(readers.begin(), readers.end(), [](const auto& r) { return r->state() != QProcess::NotRunning; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(!stillReading(), (seconds + 60) * 1000);
        watch.stop();
        // The plug-in's own measurement of its last second.
        const double measured = Probe::currentFps(plugin);
        plugin.shutdown();

        qInfo("writer: %s at %d frames/s for %.1f s: %.2f frames/s (the plug-in measured %.1f), longest gap %.1f ms",
              qPrintable(size), kFps, watch.seconds(), watch.rate(), measured, watch.longestGapMs());
        for (int i = 0; i < kReaders; ++i) {
            const QByteArray line = readers[i]->readAllStandardOutput().trimmed();
            qInfo("reader %d: %s", i + 1, line.constData());
            QVERIFY2(readers[i]->exitStatus() == QProcess::NormalExit && readers[i]->exitCode() == 0, line.constData());
            QCOMPARE(field(line, "bad"), QStringLiteral("0"));
            QCOMPARE(field(line, "size"), size);
            QVERIFY(field(line, "frames").toInt() > 0);
        }
        QVERIFY2(std::abs(watch.rate() - kFps) <= 0.02 * kFps, qPrintable(QString::number(watch.rate())));
    }
};

QTEST_GUILESS_MAIN(LoadTest)
#include "test_load.moc"
