// The viewer as a process: command line, and a full start-up and close ending with status 0.
#include <QProcess>
#include <QtTest>

class ViewerProcessTest : public QObject {
    Q_OBJECT

  private slots:
    void commandLine_data();
    void commandLine();
    void startsAndClosesWithStatusZero();
};

namespace {

QString ViewerPath() {
    return QStringLiteral(THERMAL_BIN_DIR "/thermal-viewer");
}

}  // namespace

void ViewerProcessTest::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("stdoutHas");
    QTest::addColumn<QString>("stderrHas");
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: thermal-viewer"
                          << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "thermal-viewer 1.0.3"
                             << "";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << ""
                                    << "unknown option '--frobnicate'";
    QTest::newRow("stray argument") << QStringList{"COM3"} << 2 << ""
                                    << "unexpected argument";
}

void ViewerProcessTest::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, stdoutHas);
    QFETCH(QString, stderrHas);
    QProcess viewer;
    viewer.start(ViewerPath(), args);
    QVERIFY(viewer.waitForFinished(20000));
    QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(viewer.exitCode(), status);
    QVERIFY(QString::fromUtf8(viewer.readAllStandardOutput()).contains(stdoutHas));
    const QString errors = QString::fromUtf8(viewer.readAllStandardError());
    QVERIFY2(errors.contains(stderrHas), qPrintable(errors));
    if (status == 2) {
        QCOMPARE(errors.count(QLatin1Char('\n')), 1);
    }
}

void ViewerProcessTest::startsAndClosesWithStatusZero() {
    QProcess viewer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    viewer.setProcessEnvironment(env);
    viewer.start(ViewerPath(), {QStringLiteral("--startup-report")});
    QVERIFY(viewer.waitForFinished(30000));
    QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(viewer.exitCode(), 0);
    const QString out = QString::fromUtf8(viewer.readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("shown_ns=")) && out.contains(QStringLiteral("rss_kb=")),
             qPrintable(out));
}

QTEST_GUILESS_MAIN(ViewerProcessTest)
#include "viewer_process_test.moc"
