// The host programs as a person runs them: vardel-host driving the plug-in headless
// while vardel-ring reads the same ring from another process, their refusals of bad
// input, and the window under a virtual display.

#include "capture/bar_recognition.h"
#include "helpers/unique_names.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString program(const char* name) { return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name); }

struct Run {
    int exitCode = -1;
    QString output;
};

Run run(const char* name, const QStringList& arguments, int timeoutMs = 30000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program(name), arguments);
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll())};
}

long figure(const QString& text, const QString& key)
{
    const auto match = QRegularExpression(QStringLiteral("\\b%1=(\\d+)").arg(key)).match(text);
    return match.hasMatch() ? match.captured(1).toLong() : -1;
}

} // namespace

class HostAppTest : public QObject {
    Q_OBJECT

private slots:
    void headlessHostFeedsAReaderInAnotherProcess()
    {
        QTemporaryDir dir;
        const QString ring = QString::fromStdString(Vardel::testing::uniqueRingName("host"));
        const QString snapshot = dir.filePath(QStringLiteral("last.png"));
        QProcess reader;
        reader.setProcessChannelMode(QProcess::MergedChannels);
        reader.start(program("vardel-ring"), {ring, QStringLiteral("--wait"), QStringLiteral("20"),
                                             QStringLiteral("--seconds"), QStringLiteral("5"),
                                             QStringLiteral("--expect-test-pattern")});
        QVERIFY(reader.waitForStarted());

        const Run host = run("vardel-host", {QStringLiteral("--headless"), QStringLiteral("--ring-name"), ring,
                                             QStringLiteral("--settings"), dir.filePath(QStringLiteral("s.ini")),
                                             QStringLiteral("--fps"), QStringLiteral("120"),
                                             // Small frames: the sanitizer builds' reader keeps up too.
                                             QStringLiteral("--resolution"), QStringLiteral("640x480"),
                                             QStringLiteral("--seconds"), QStringLiteral("3"),
                                             QStringLiteral("--snapshot"), snapshot});
        QVERIFY2(host.exitCode == 0, qPrintable(host.output));
        QVERIFY2(host.output.contains(QLatin1String("write 12")), qPrintable(host.output)); // ~120 shown by the panel

        QVERIFY(reader.waitForFinished(30000));
        const QString seen = QString::fromLocal8Bit(reader.readAll());
        QVERIFY2(reader.exitCode() == 0, qPrintable(seen));
        // Three seconds at 120 frames per second: the reader saw at least 90 % of the frames
        // published while it read (the sanitizer builds' first second is slow on both sides)
        // and at least two seconds' worth, none torn or wrong.
        const long frames = figure(seen, QStringLiteral("frames"));
        QVERIFY2(frames >= 240 && frames * 10 >= (frames + figure(seen, QStringLiteral("skipped"))) * 9, qPrintable(seen));
        QCOMPARE(figure(seen, QStringLiteral("bad")), 0L);
        QVERIFY(seen.contains(QLatin1String("size=640x480")));

        QImage picture(snapshot);
        QVERIFY2(!picture.isNull(), qPrintable(host.output));
        picture = picture.convertToFormat(QImage::Format_BGR888);
        QCOMPARE(picture.bytesPerLine(), qsizetype(640 * 3)); // rows packed, as the pattern check reads them
        QVERIFY(Vardel::findBarOffset(picture.constBits(), 640, 480).has_value());
    }

    void badInputIsRefusedClearly()
    {
        QTemporaryDir dir;
        const QString settings = dir.filePath(QStringLiteral("s.ini"));
        const QString ring = QString::fromStdString(Vardel::testing::uniqueRingName("bad"));
        const QStringList common = {QStringLiteral("--headless"), QStringLiteral("--settings"), settings,
                                    QStringLiteral("--ring-name"), ring, QStringLiteral("--seconds"), QStringLiteral("1")};
        Run r = run("vardel-host", common + QStringList{QStringLiteral("--plugin-dir"), dir.path()});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.output.contains(QLatin1String("no video-source plug-in")), qPrintable(r.output));
        r = run("vardel-host", common + QStringList{QStringLiteral("--source"), QStringLiteral("7: Nowhere")});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.output.contains(QLatin1String("unknown source '7: Nowhere'; available: -1: Video Test")),
                 qPrintable(r.output));
        r = run("vardel-host", common + QStringList{QStringLiteral("--fps"), QStringLiteral("45")});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.output.contains(QLatin1String("offers no 45 fps")), qPrintable(r.output));
        r = run("vardel-host", common + QStringList{QStringLiteral("--fps"), QStringLiteral("fast")});
        QCOMPARE(r.exitCode, 2);
        r = run("vardel-host", common + QStringList{QStringLiteral("--volume")});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.output.contains(QLatin1String("volume")));

        r = run("vardel-ring", {QStringLiteral("korvane-test-no-such-ring")});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.output.contains(QLatin1String("cannot open shared memory")), qPrintable(r.output));
    }

    void windowUnderAVirtualDisplay()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
        if (xvfb.isEmpty())
            QSKIP("xvfb-run is not installed (scripts/install-deps installs it)");
        QTemporaryDir dir;
        QDir().mkpath(QStringLiteral(KORVANE_SCREENSHOT_DIR));
        const QString picture = QStringLiteral(KORVANE_SCREENSHOT_DIR "/host-window.png");
        QFile::remove(picture);
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(environment);
        process.start(xvfb, {QStringLiteral("-a"), program("vardel-host"), QStringLiteral("--ring-name"),
                             QString::fromStdString(Vardel::testing::uniqueRingName("gui")), QStringLiteral("--settings"),
                             dir.filePath(QStringLiteral("s.ini")), QStringLiteral("--start"),
                             QStringLiteral("--seconds"), QStringLiteral("3"), QStringLiteral("--screenshot"), picture});
        QVERIFY(process.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(process.readAll());
        QVERIFY2(process.exitCode() == 0, qPrintable(output));
        const QImage window(picture);
        QVERIFY2(!window.isNull(), qPrintable(output));
        QVERIFY(window.width() >= 600 && window.height() >= 400);
    }
};

QTEST_GUILESS_MAIN(HostAppTest)
#include "test_host_app.moc"
