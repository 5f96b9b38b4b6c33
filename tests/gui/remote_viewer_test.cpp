// The viewer on a module published on a real broker: START with an "mqtt://" address shows the
// module's frames as a local module's, the command box publishes, replies reach the log, and
// TURN OFF only unsubscribes.
#include <QComboBox>
#include <QtTest>
#include <atomic>
#include <mutex>

#include "gui/gui_test_support.h"
#include "remote/frame_payload.h"
#include "remote/mqtt_client.h"
#include "support/mosquitto_broker.h"

class RemoteViewerTest : public QObject {
    Q_OBJECT

  private slots:
    void remoteModuleIsShownCommandedAndLeft();
};

void RemoteViewerTest::remoteModuleIsShownCommandedAndLeft() {
    MosquittoBroker broker;
    const std::string address = broker.Url() + "/line1/cam";
    std::mutex lock;  // guards commands
    std::string commands;
    std::atomic<bool> connected{false};
    MqttClientOptions options;
    options.broker = ParseMqttBroker(broker.Url()).Value();
    CMqttClient publisher(options, {.connected = [&] { connected = true; },
                                    .disconnected = {},
                                    .message =
                                        [&](const MqttMessage& message) {
                                            std::lock_guard guard(lock);
                                            commands.append(
                                                reinterpret_cast<const char*>(message.payload),
                                                message.size);
                                        }});
    QVERIFY(publisher.Start().IsOk());
    QTRY_VERIFY(connected.load());
    QVERIFY(publisher.Subscribe("line1/cam/command", 1));

    QTemporaryDir dir;
    ViewerOptions demo;
    demo.demo = true;
    auto dlg = MakeDialog(dir, demo);
    LogHistory log(*dlg);
    // A local module first: the remote one's START turns it off and leaves its port open.
    Click(*dlg, IDC_START);
    QTRY_VERIFY(dlg->DemoModule()->FramesSent() > 0);
    static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COM_PORTS))
        ->setEditText(QString::fromStdString(address));
    Click(*dlg, IDC_START);
    QTRY_VERIFY(log.Contains(QStringLiteral("connected to the broker")));

    // Frames until one is shown: the subscription may still be on its way.
    const std::vector<uint8_t> block = MakeGradientBlock();
    uint8_t payload[kBinaryRecordSize];
    MakeFramePayload('K', block.data(), payload);
    const auto shown = [&] {
        publisher.Publish("line1/cam/frame", payload, sizeof payload, 0, false);
        return dlg->StatusPaneText(0).startsWith(QStringLiteral("Min "));
    };
    QTRY_VERIFY(shown());
    // The very text a local module's frame gives.
    QVERIFY(dlg->StatusPaneText(0).endsWith(QStringLiteral("at row 31, column 32")));

    static_cast<QComboBox*>(dlg->GetDlgItem(IDC_COMMANDS))->setEditText(QStringLiteral("M"));
    Click(*dlg, IDC_SEND);
    QTRY_VERIFY([&] {
        std::lock_guard guard(lock);
        return commands == "M";
    }());
    const std::string reply = "VELK 32x31 remote";
    publisher.Publish("line1/cam/reply", reply.data(), reply.size(), 1, false);
    QTRY_VERIFY(log.Contains(QString::fromStdString(reply)));

    // TURN OFF leaves the module alone (no command is sent), says so, sends nothing to the local
    // module either, and shows no more of its frames.
    QTRY_VERIFY(QString::fromStdString(dlg->DemoModule()->ReceivedBytes()).endsWith("Tx"));
    QTest::qWait(500);  // the local module's replies
    log.Clear();
    Click(*dlg, IDC_TURN_OFF);
    QVERIFY(log.Contains(QStringLiteral("[line1/cam] unsubscribed: nothing was sent")));
    QCOMPARE(dlg->StatusPaneText(0), QString());
    for (int i = 0; i < 5; ++i) {
        publisher.Publish("line1/cam/frame", payload, sizeof payload, 0, false);
        QTest::qWait(50);
    }
    QCOMPARE(dlg->StatusPaneText(0), QString());
    QVERIFY2(!log.Contains(QStringLiteral("Module stopped")), qPrintable(log.All()));
    std::lock_guard guard(lock);
    QCOMPARE(QString::fromStdString(commands), QStringLiteral("M"));
}

QTEST_MAIN(RemoteViewerTest)
#include "remote_viewer_test.moc"
