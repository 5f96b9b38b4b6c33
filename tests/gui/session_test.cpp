// The live session of the main dialog against the simulated module on a real pseudo-terminal:
// START, the handshake, frames and the rate readout, TURN OFF, the time-out, a vanishing device,
// closing while streaming, the port list and --demo --start, and a module that floods replies.
// ctest: RUN_SERIAL (it times a live session against the simulated module)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/command_line.h"
#include "app/port_combo.h"
#include "device/module_simulator.h"
#include "gui/gui_test_support.h"
#include "res/resource.h"
#include "sanitizer_build.h"
#include "support/faulty_module.h"

namespace {

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString Text(const CmfcVELKDlg& dlg, int id) {
    return dlg.GetDlgItemText(id);
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

SimulatorOptions Streaming(double fps) {
    SimulatorOptions options;
    options.fps = fps;
    return options;
}

}  // namespace

class SessionTest : public QObject {
    Q_OBJECT

  private slots:
    void startOpensHandshakesAndStreams();
    void turnOffStopsTheStream();
    void silentModuleGivesTheTimeOutLine();
    void vanishedDeviceIsLoggedOnceAndStartReopens();
    void closingWhileStreamingSendsStopAndEnds();
    void startWithoutPortAndSendWithoutPortLogSelectInterface();
    void reloadListsFreePortsAndLogs();
    void commandFieldSendsFirstCharacterAndStepsMclk();
    void demoStartStreamsAtOnce();
    void commandLineTakesPortDemoAndStart();
    void floodOfCompletedRepliesKeepsTheLogResponsiveAndMemoryBounded();
};

void SessionTest::startOpensHandshakesAndStreams() {
    SimulatedViewer viewer(Streaming(20));
    QCOMPARE(viewer.startError, QString());
    const CModuleSimulator& sim = viewer.sim;
    auto& dlg = viewer.dlg;
    const QString port = QString::fromStdString(sim.SlavePath());
    LogHistory log(*dlg);
    QCOMPARE(static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COM_PORTS))->currentData().toString(),
             port);

    Click(*dlg, IDC_START);
    QVERIFY(log.Contains(QStringLiteral("[%1] Open OK!").arg(port)));
    QTRY_VERIFY_WITH_TIMEOUT(log.Contains(QStringLiteral("Firmware VDM1.3")), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(Text(*dlg, IDC_MCLK), QStringLiteral("8000"), 3000);
    QTRY_COMPARE(dlg->HandshakeState(), HandshakeState::Done);
    // Frames reach the pipeline and the frame-ready presentation; the rate box fills.
    QTRY_VERIFY_WITH_TIMEOUT(Text(*dlg, IDC_FPS) != QStringLiteral("???"), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(Text(*dlg, IDC_FPS).toDouble() > 5.0, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(Text(*dlg, IDC_MAX_TEXT).startsWith(QStringLiteral("Max:")) &&
                                 Text(*dlg, IDC_MAX_TEXT) != QStringLiteral("Max: ??? "),
                             3000);
    QCOMPARE(QString::fromStdString(sim.ReceivedBytes()), QStringLiteral("xMK"));
    QVERIFY(!log.Contains(QStringLiteral("Timeout")));

    // START again closes and reopens the port.
    Click(*dlg, IDC_START);
    QCOMPARE(log.Count(QStringLiteral("[%1] Open OK!").arg(port)), 2);
    dlg->close();
}

void SessionTest::turnOffStopsTheStream() {
    SimulatedViewer viewer(Streaming(50));
    QVERIFY(viewer.startError.isEmpty());
    const CModuleSimulator& sim = viewer.sim;
    auto& dlg = viewer.dlg;
    Click(*dlg, IDC_START);
    QTRY_VERIFY(sim.FramesSent() > 10);
    Click(*dlg, IDC_TURN_OFF);
    QVERIFY(QString::fromStdString(sim.ReceivedBytes()).endsWith(QStringLiteral("Tx")));
    QCOMPARE(dlg->HandshakeState(), HandshakeState::Idle);
    const uint64_t sent = sim.FramesSent();
    QTest::qWait(300);
    QCOMPARE(sim.FramesSent(), sent);
    dlg->close();
}

void SessionTest::silentModuleGivesTheTimeOutLine() {
    SimulatorOptions simOptions = Streaming(5);
    simOptions.silentOn = "M";
    SimulatedViewer viewer(simOptions);
    QVERIFY(viewer.startError.isEmpty());
    const CModuleSimulator& sim = viewer.sim;
    auto& dlg = viewer.dlg;
    LogHistory log(*dlg);
    Click(*dlg, IDC_START);
    const QString line = QStringLiteral("[%1]Timeout to Receive M Message.")
                             .arg(QString::fromStdString(sim.SlavePath()));
    QTRY_VERIFY_WITH_TIMEOUT(log.Contains(line), 2500);
    QCOMPARE(dlg->HandshakeState(), HandshakeState::TimedOut);
    QCOMPARE(Text(*dlg, IDC_MCLK), QStringLiteral("???"));
    // The time-out is only reported: the stream goes on.
    QTRY_VERIFY_WITH_TIMEOUT(Text(*dlg, IDC_FPS) != QStringLiteral("???"), 3000);
    dlg->close();
}

void SessionTest::vanishedDeviceIsLoggedOnceAndStartReopens() {
    QTemporaryDir dir;
    SimulatorOptions simOptions = Streaming(50);
    simOptions.disconnectAfter = 25;
    simOptions.linkPath = dir.filePath(QStringLiteral("ttyTHERMAL")).toStdString();
    CModuleSimulator sim(simOptions);
    QVERIFY(sim.Start().empty());
    const QString port = QString::fromStdString(simOptions.linkPath);
    const std::string firstTerminal = sim.SlavePath();
    ViewerOptions options;
    options.port = simOptions.linkPath;
    auto dlg = MakeDialog(dir, options);
    LogHistory log(*dlg);
    Click(*dlg, IDC_START);
    const QString gone = QStringLiteral("[%1] Device disconnected.").arg(port);
    QTRY_VERIFY_WITH_TIMEOUT(log.Contains(gone), 5000);
    const double cpuBefore = ProcessCpuSeconds();
    QTest::qWait(1000);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    QVERIFY2(cpu < 0.15, qPrintable(QString::number(cpu)));
    QCOMPARE(log.Count(gone), 1);

    // The module is back on a fresh terminal behind the same name: START reopens it.
    QTRY_VERIFY_WITH_TIMEOUT(sim.SlavePath() != firstTerminal, 2000);
    Click(*dlg, IDC_START);
    QCOMPARE(log.Count(QStringLiteral("[%1] Open OK!").arg(port)), 2);
    QTRY_VERIFY_WITH_TIMEOUT(sim.FramesSent() > 30, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(Text(*dlg, IDC_MCLK), QStringLiteral("8000"), 3000);
    dlg->close();
}

void SessionTest::closingWhileStreamingSendsStopAndEnds() {
    SimulatedViewer viewer(Streaming(50));
    QVERIFY(viewer.startError.isEmpty());
    const CModuleSimulator& sim = viewer.sim;
    auto& dlg = viewer.dlg;
    dlg->show();
    Click(*dlg, IDC_START);
    QTRY_VERIFY(sim.FramesSent() > 10);
    QElapsedTimer timer;
    timer.start();
    dlg->close();
    const qint64 took = timer.elapsed();
    QVERIFY(!dlg->isVisible());
    // TURN OFF ("T", bare "x", about a second of pumping), then the stop byte and the port's
    // own close (about 0.2 s): about 1.2 s in all, with room for a busy machine.
    QVERIFY2(took < 1700, qPrintable(QString::number(took)));
    QTRY_VERIFY2(QString::fromStdString(sim.ReceivedBytes()).endsWith(QStringLiteral("Txx")),
                 sim.ReceivedBytes().c_str());
    qInfo("close while streaming took %lld ms", static_cast<long long>(took));
}

void SessionTest::startWithoutPortAndSendWithoutPortLogSelectInterface() {
    QTemporaryDir dir;
    auto dlg = MakeDialog(dir);
    LogHistory log(*dlg);
    static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COM_PORTS))->setCurrentIndex(-1);
    Click(*dlg, IDC_START);
    QCOMPARE(log.Count(QStringLiteral("[COM?] Select a Interface.")), 1);
    static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COMMANDS))->setEditText(QStringLiteral("M"));
    Click(*dlg, IDC_SEND);
    QCOMPARE(log.Count(QStringLiteral("[COM?] Select a Interface.")), 2);
    // A port that does not exist cannot be opened.
    ViewerOptions options;
    options.port = "/dev/ttyUSB-not-there";
    auto other = MakeDialog(dir, options);
    static_cast<QComboBox*>(other->GetDlgItem(IDC_COM_PORTS))
        ->addItem(QStringLiteral("/dev/ttyUSB-not-there"));
    static_cast<QComboBox*>(other->GetDlgItem(IDC_COM_PORTS))->setCurrentIndex(0);
    LogHistory otherLog(*other);
    Click(*other, IDC_START);
    QVERIFY(otherLog.Contains(QStringLiteral("[/dev/ttyUSB-not-there] Unable to open!")));
    other->close();
    dlg->close();
}

void SessionTest::reloadListsFreePortsAndLogs() {
    SimulatedViewer viewer(Streaming(5));
    QVERIFY(viewer.startError.isEmpty());
    const CModuleSimulator& sim = viewer.sim;
    auto& dlg = viewer.dlg;
    LogHistory log(*dlg);
    auto* ports = static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COM_PORTS));
    const QString port = QString::fromStdString(sim.SlavePath());
    dlg->ReloadComPorts();
    QVERIFY(log.Contains(QStringLiteral("[COM?]Detect Device Change. Reload COM Port device.")));
    QVERIFY(FindPortIndex(ports, sim.SlavePath()) >= 0);
    QCOMPARE(ports->currentIndex(), -1);
    // The port this program holds open fails the probe and leaves the list.
    ports->setCurrentIndex(FindPortIndex(ports, sim.SlavePath()));
    Click(*dlg, IDC_START);
    dlg->ReloadComPorts();
    QCOMPARE(FindPortIndex(ports, sim.SlavePath()), -1);
    dlg->close();
}

void SessionTest::commandFieldSendsFirstCharacterAndStepsMclk() {
    CModuleSimulator sim(Streaming(5));
    QVERIFY(sim.Start().empty());
    QTemporaryDir dir;
    {
        std::ofstream(dir.filePath(QStringLiteral("CmdList.TXT")).toStdString())
            << "  b VDD\r\n\r\nJ toggle\r\n";
    }
    ViewerOptions options;
    options.port = sim.SlavePath();
    auto dlg = MakeDialog(dir, options);
    LogHistory log(*dlg);
    auto* commands = static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COMMANDS));
    QCOMPARE(commands->count(), 2);
    QCOMPARE(commands->itemText(0), QStringLiteral("b VDD"));
    Click(*dlg, IDC_START);
    Click(*dlg, IDC_TURN_OFF);
    commands->setEditText(QStringLiteral("  b (VDD)"));
    Click(*dlg, IDC_SEND);
    QTRY_VERIFY_WITH_TIMEOUT(log.Contains(QStringLiteral("VDD: 3300 mV")), 2000);
    dlg->SendCommandText("a");
    QTRY_COMPARE_WITH_TIMEOUT(Text(*dlg, IDC_MCLK), QStringLiteral("8125"), 2000);
    const std::string sent = sim.ReceivedBytes();
    QCOMPARE(QString::fromStdString(sent.substr(sent.size() - 2)), QStringLiteral("ba"));
    dlg->close();
}

void SessionTest::demoStartStreamsAtOnce() {
    QTemporaryDir dir;
    ViewerOptions options;
    options.demo = true;
    options.start = true;
    auto dlg = MakeDialog(dir, options);
    QVERIFY(dlg->DemoModule() != nullptr);
    LogHistory log(*dlg);
    QTRY_VERIFY_WITH_TIMEOUT(log.Contains(QStringLiteral("Open OK!")), 2000);
    QTRY_VERIFY_WITH_TIMEOUT(dlg->DemoModule()->FramesSent() >= 3, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(Text(*dlg, IDC_FPS) != QStringLiteral("???"), 3000);
    dlg->close();
}

void SessionTest::commandLineTakesPortDemoAndStart() {
    const CommandLine line = ParseCommandLine({"--port", "/dev/ttyUSB0", "--demo", "--start"});
    QCOMPARE(static_cast<int>(line.action), static_cast<int>(CommandLine::Action::Run));
    QCOMPARE(QString::fromStdString(line.options.port), QStringLiteral("/dev/ttyUSB0"));
    QVERIFY(line.options.demo);
    QVERIFY(line.options.start);
    const CommandLine missing = ParseCommandLine({"--port"});
    QCOMPARE(static_cast<int>(missing.action), static_cast<int>(CommandLine::Action::Error));
    QVERIFY(!missing.error.empty());
    QVERIFY(!ParseCommandLine({}).options.demo);
}

// Every line of the flood completes the reply again, each time with up to 4 MiB of text. The log
// shows the newest text once the window gets to it instead of queueing a copy per line: memory
// stays bounded and the module's last line reaches the log box.
void SessionTest::floodOfCompletedRepliesKeepsTheLogResponsiveAndMemoryBounded() {
    FaultyModule module(FaultyModule::Fault::kFloodReplies);
    QVERIFY(!module.Path().empty());
    QTemporaryDir dir;
    ViewerOptions options;
    options.port = module.Path();
    auto dlg = MakeDialog(dir, options);
    Click(*dlg, IDC_START);
    // The time-out line, which would start the log afresh, comes first.
    QTRY_COMPARE_WITH_TIMEOUT(dlg->HandshakeState(), HandshakeState::TimedOut, 3000);
    const long residentBefore = ResidentKiB();
    long mostResident = residentBefore;
    auto* box = static_cast<QPlainTextEdit*>(dlg->GetDlgItem(IDC_LOG));
    QObject::connect(box, &QPlainTextEdit::textChanged, box,
                     [&] { mostResident = std::max(mostResident, ResidentKiB()); });
    dlg->SendCommandText("q");
    const QString lastLine = QString::fromLatin1(FaultyModule::kLastFloodLine).trimmed();
    // Past half the flood size, the module has sent its last line.
    QTRY_VERIFY_WITH_TIMEOUT(module.TextBytesSent() > FaultyModule::kFloodBytes / 2 &&
                                 box->toPlainText().right(64).contains(lastLine),
                             60000);
    mostResident = std::max(mostResident, ResidentKiB());
    if (!kSanitizerBuild) {
        // The collector, its reply, one waiting text and the log box holding 4 MiB of short lines
        // (about 90 MiB measured, most of it the text document's blocks). One copy per completed
        // line queued for the window would be gigabytes, and the log would not catch up for
        // minutes.
        QVERIFY2(mostResident - residentBefore < 192 * 1024,
                 qPrintable(QStringLiteral("%1 KiB more").arg(mostResident - residentBefore)));
    }
    dlg->close();
}

QTEST_MAIN(SessionTest)
#include "session_test.moc"
