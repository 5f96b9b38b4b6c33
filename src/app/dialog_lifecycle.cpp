// Start-up, the log box, the key filter, timers and the close sequence of the main dialog.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/frame_presentation.h"
#include "app/mfc_velk_dlg.h"
#include "app/port_combo.h"
#include "controls/color_static.h"
#include "controls/dx_static.h"
#include "controls/poly_chart.h"
#include "controls/spin_button.h"
#include "dialogs/about_dlg.h"
#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "platform/program_files.h"
#include "res/app_resources.h"
#include "res/dialog_builder.h"
#include "res/resource.h"

namespace {

// What a window manager's title bar and borders may take around the window, in logical pixels.
const QSize kWindowFrameAllowance(16, 48);

// Set when the application has been asked to quit, so that waits that pump events stop.
std::atomic<bool> g_quitRequested{false};

class QuitWatcher : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == qApp && event->type() == QEvent::Quit) {
            g_quitRequested = true;
        }
        return false;
    }
};

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text);
}

// Where the optional files are looked up, ending in '/'.
std::string AppDirOf(const ViewerOptions& options) {
    std::string dir = options.appDir.empty() ? ProgramDirectory() : options.appDir;
    if (dir.back() != '/') {
        dir.push_back('/');
    }
    return dir;
}

}  // namespace

CmfcVELKDlg::CmfcVELKDlg(QWidget* parent, ViewerOptions options)
    : QDialog(parent),
      m_appDir(AppDirOf(options)),
      m_statusReadouts(
          this, [this] { return m_mirrorMode.load(); }, [this] { return ActivityNow(); }),
      m_frameTextPacer([this](const std::string& text) { WriteLogBox(text); }),
      m_options(std::move(options)),
      m_calibrationExport(m_appDir, [this](std::string line) { AppendLog(std::move(line)); }) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(kDialogCaption));
    LoadIcon();
    LoadTitle();
    if (m_options.stats) {
        m_pStats = std::make_unique<CLatencyStats>(stdout);
    }
}

CmfcVELKDlg::~CmfcVELKDlg() {
    // Without a close sequence (a window that was never shown, a test) the worker threads may
    // still call into members that are about to go: stop them first.
    m_session.ClosePort();
    m_pipeline.StopThread();
    // Its writer thread reports to members that go before it.
    m_recordingRun.Stop();
    m_calibrationExport.Threads().waitForDone();
    if (qApp) {
        qApp->removeEventFilter(this);
    }
    delete m_hIcon;
}

void CmfcVELKDlg::LoadIcon() {
    if (const auto path = FindProgramFile(m_appDir, "AppIcon.ico")) {
        // A file that is there but cannot be read leaves the window without an icon.
        QPixmap pixmap;
        m_hIcon = new QIcon(pixmap.load(FromUtf8(*path)) ? QIcon(pixmap.scaled(32, 32)) : QIcon());
    } else {
        InitAppResources();
        // Read as PNG without asking the image format plug-ins whether they recognise the file:
        // that would load every one of them (JPEG, GIF, ICO...) at start-up.
        QImageReader reader(QStringLiteral(":/res/app_icon.png"), "PNG");
        reader.setAutoDetectImageFormat(false);
        m_hIcon = new QIcon(QPixmap::fromImage(reader.read()));
    }
}

void CmfcVELKDlg::LoadTitle() {
    m_title.clear();
    const auto path = FindProgramFile(m_appDir, "Title.txt");
    if (!path) {
        return;
    }
    const auto bytes = ReadWholeFile(*path);
    if (!bytes) {
        return;
    }
    m_title = QString::fromStdU16String(DecodeTitleFile(*bytes)).toStdString();
}

bool CmfcVELKDlg::OnInitDialog() {
    BuildControls();
    setWindowIcon(*m_hIcon);

    // Status bar with two panes along the bottom of the client area.
    m_statusBar = new QStatusBar(this);
    m_statusBar->setSizeGripEnabled(false);
    m_statusReadouts.AddPanes(m_statusBar);
    const int barHeight = m_statusBar->sizeHint().height();
    m_statusBar->setGeometry(0, height() - barHeight, width(), barHeight);

    InitMainWindow();

    m_statusReadouts.ClearPanes();
    if (!m_title.empty()) {
        setWindowTitle(FromUtf8(m_title + "   Ver1.03 "));
    }
    return true;
}

void CmfcVELKDlg::BuildControls() {
    m_controls = BuildMainControls(this, FitScale());
    qApp->installEventFilter(this);
    static QuitWatcher* quitWatcher = [] {
        auto* watcher = new QuitWatcher(qApp);
        qApp->installEventFilter(watcher);
        return watcher;
    }();
    (void)quitWatcher;
}

double CmfcVELKDlg::FitScale() const {
    // Qt's offscreen platform makes up a screen nobody looks at: tests, benchmarks and the soak
    // keep the template's layout there.
    const QScreen* target = screen();
    if (target == nullptr || QGuiApplication::platformName() == QLatin1String("offscreen")) {
        return 1.0;
    }
    // The window manager's frame is not known before the window is shown: room for a title bar
    // and borders is kept.
    const QSize room = target->availableGeometry().size() - kWindowFrameAllowance;
    return ScaleToFit(DialogClientSize(Template102()), room);
}

void CmfcVELKDlg::InitMainWindow() {
    // Palette 4 for the bar and the pipeline.
    SetCheck(IDC_PALETTE_4, true);
    ApplyPalette();
    m_pipeline.SetCallback(&CmfcVELKDlg::OnFrameReady, this);
    m_pipeline.SelectPalette(4);

    // Module type, converter and offsets.
    SetCheck(IDC_MODULE_32X31, true);
    for (int id = IDC_MODULE_1001; id <= IDC_MODULE_80X60; ++id) {
        EnableControl(id, false);
    }
    SetCheck(IDC_ADC_UC, true);
    EnableControl(IDC_ADC_UC, false);
    EnableControl(IDC_ADC_SOFT, false);
    SetCheck(IDC_OFFSET_ELECTRICAL, true);
    EnableControl(IDC_OFFSET_ELECTRICAL, true);
    EnableControl(IDC_OFFSET_THERMAL, false);
    m_pipeline.SetElOffsetSubtraction(1);

    SetCheck(IDC_SCALING_AUTO, true);
    for (int id : {IDC_MCLK, IDC_VDD, IDC_AMBIENT, IDC_FPS}) {
        Edit(id)->setReadOnly(true);
        Edit(id)->setText(QStringLiteral("???"));
    }
    SetCheck(IDC_MODE_T, true);

    Edit(IDC_STARTPIXEL)->setReadOnly(true);
    Edit(IDC_STARTPIXEL)->setText(QStringLiteral("1"));
    Edit(IDC_PIXELCOUNT)->setReadOnly(true);
    Edit(IDC_PIXELCOUNT)->setText(QString::number(kTextFieldCount));
    SetCheck(IDC_ALL_PIXEL, true);

    const std::pair<int, int> spins[] = {{IDC_FRAMESTACK_SPIN, IDC_FRAMESTACK},
                                         {IDC_ELOFFSTACK_SPIN, IDC_ELOFFSTACK},
                                         {IDC_THERMALSTACK_SPIN, IDC_THERMALSTACK}};
    for (const auto& [spinId, editId] : spins) {
        auto* spin = static_cast<CSpinButton*>(GetDlgItem(spinId));
        spin->SetBuddy(Edit(editId));
        spin->SetRange(1, 300);
        spin->SetPos(1);
    }
    m_pipeline.SetStackSizes(1, 1, 1);

    EnableControl(IDC_THERMALS_REC, false);
    SetCheck(IDC_THERMALS_UC, true);
    EnableControl(IDC_THERMALS_UC, false);
    EnableControl(IDC_THERMALS_SOFT, false);

    Edit(IDC_PTAT_V)->setText(QStringLiteral("???"));
    Edit(IDC_PTAT_K)->setText(QStringLiteral("???"));
    Edit(IDC_PTAT_K)->setReadOnly(true);
    SetCheck(IDC_PTAT_USE, true);
    EnableControl(IDC_PTAT_USE, false);

    Edit(IDC_EVERY_FRAME)->setText(QStringLiteral("1"));
    m_copyText.Set({});

    FillPortCombo(Combo(IDC_COM_PORTS), EnumerateComPorts());

    ConnectSession();

    m_controls.image->InitDisplay(kImageWidth, kImageHeight);

    ConnectRecordingRun();
    m_statusReadouts.Connect(m_controls.image);
    m_pPlayDlg = nullptr;
    m_isClosing = 0;
    m_tempUnit = kUnitCelsius;
    m_controls.chart->SetChartUnit(kChartCelsius);
    m_interpolate = 0;
    {
        std::lock_guard lock(m_lastImageLock);
        m_pLastImage = std::make_unique<uint8_t[]>(kImageBytes);
        std::memset(m_pLastImage.get(), 0, kImageBytes);
    }
    m_startPixel = 1;
    m_pixelCount = kTextFieldCount;
    m_recordEveryN = 1;
    m_mirrorMode = 0;
    m_pipeline.SetPixelRange(1, kTextFieldCount);
    m_pipeline.SetUnit(kUnitCelsius);

    // The red and blue frames lie behind "Rec" and "Play", 4 pixels wider on every side.
    m_controls.recFrame->SetColor(255);
    m_controls.playFrame->SetColor(0xFF0000);
    const std::pair<CColorStatic*, int> frames[] = {{m_controls.recFrame, IDC_REC},
                                                    {m_controls.playFrame, IDC_PLAY}};
    for (const auto& [frame, buttonId] : frames) {
        const QRect button = GetDlgItem(buttonId)->geometry();
        frame->setGeometry(button.adjusted(-4, -4, 4, 4));
        // Behind its button, so a shown frame is a coloured border and the button stays
        // visible and clickable.
        frame->stackUnder(GetDlgItem(buttonId));
        frame->hide();
    }

    auto* deltaT = static_cast<QSlider*>(GetDlgItem(IDC_DELTA_T));
    auto* tCentre = static_cast<QSlider*>(GetDlgItem(IDC_TCENTRE));
    auto* deltaV = static_cast<QSlider*>(GetDlgItem(IDC_DELTA_V));
    auto* vCentre = static_cast<QSlider*>(GetDlgItem(IDC_VCENTRE));
    deltaT->setRange(0, 200);
    deltaT->setValue(100);
    tCentre->setRange(200, 1200);
    tCentre->setValue(300);
    deltaV->setRange(0, 500);
    deltaV->setValue(100);
    vCentre->setRange(0, 500);
    vCentre->setValue(100);
    // The readouts start with the voltage scale; the handlers are connected later, so nothing
    // reaches the pipeline yet.
    WriteVoltageReadouts();

    m_modeLetter = ' ';
    m_exportCalibration = 0;
    m_pBufStatusDlg = nullptr;
    m_profileMode = 0;

    LoadCommandList();

    m_controls.image->ShowMainLogo(m_appDir);
    m_controls.chart->ShowDistributionLogo(m_appDir);

    m_interpolate = 1;
    m_pipeline.SetInterpolation(m_interpolate);

    // The frame text replaces the log at every frame: digits, signs and tabs need no complex
    // shaping, and skipping it saves most of the cost of laying the text out.
    QFont logFont = LogBox()->font();
    logFont.setStyleStrategy(QFont::PreferNoShaping);
    LogBox()->setFont(logFont);

    ConnectHandlers();
}

void CmfcVELKDlg::AppendLog(std::string message) {
    if (m_isClosing) {
        return;
    }
    if (QThread::currentThread() != thread()) {
        PostToGui(
            [this, message = std::move(message)]() mutable { AppendLog(std::move(message)); });
        return;
    }
    WriteLogBox(message);
    m_statusReadouts.ShowMessage(message);
}

void CmfcVELKDlg::WriteLogBox(const std::string& message) {
    if (m_isClosing) {
        return;
    }
    QPlainTextEdit* log = LogBox();
    // The box shows "\r\n" as one line break; more than five lines and the message starts it
    // afresh.
    QString text = FromUtf8(message);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (log->blockCount() > 5) {
        log->setPlainText(text);
    } else {
        log->setPlainText(log->toPlainText() + text);
    }
}

void CmfcVELKDlg::PostToGui(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

int CmfcVELKDlg::PumpPendingMessages() {
    if (g_quitRequested) {
        return 0;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return g_quitRequested ? 0 : 1;
}

QWidget* CmfcVELKDlg::GetDlgItem(int id) const {
    return m_controls.Item(id);
}

QLineEdit* CmfcVELKDlg::Edit(int id) const {
    return qobject_cast<QLineEdit*>(GetDlgItem(id));
}

QPlainTextEdit* CmfcVELKDlg::LogBox() const {
    return qobject_cast<QPlainTextEdit*>(GetDlgItem(IDC_LOG));
}

QComboBox* CmfcVELKDlg::Combo(int id) const {
    return qobject_cast<QComboBox*>(GetDlgItem(id));
}

void CmfcVELKDlg::SetCheck(int id, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id))) {
        button->setChecked(checked);
    }
}

bool CmfcVELKDlg::IsChecked(int id) const {
    const auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id));
    return button && button->isChecked();
}

void CmfcVELKDlg::EnableControl(int id, bool enable) {
    if (QWidget* widget = GetDlgItem(id)) {
        widget->setEnabled(enable);
    }
}

void CmfcVELKDlg::SetTimer(int id, int periodMs) {
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
    }
    timer->start(periodMs);
}

void CmfcVELKDlg::KillTimer(int id) {
    if (const auto it = m_timers.find(id); it != m_timers.end()) {
        it->second->stop();
    }
}

bool CmfcVELKDlg::IsTimerActive(int id) const {
    const auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

bool CmfcVELKDlg::eventFilter(QObject* watched, QEvent* event) {
    // Back from a modal dialog: the pointer may be somewhere else than the image last heard.
    if (watched == this && event->type() == QEvent::WindowActivate && m_controls.image != nullptr) {
        m_controls.image->SyncPointer();
    }
    // Escape and Enter are swallowed for every control of the dialog: neither closes the window
    // nor presses a button.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool ours = watched == this ||
                          (watched->isWidgetType() && isAncestorOf(static_cast<QWidget*>(watched)));
        if (ours && (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)) {
            // Escape only removes the region of interest.
            if (key == Qt::Key_Escape && event->type() == QEvent::KeyPress && Region()) {
                SetRegion(std::nullopt);
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CmfcVELKDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The window menu of the desktop cannot be extended here, so its about item lives in the
    // dialog's own context menu.
    QMenu menu(this);
    menu.addActions(actions());
    menu.addSeparator();
    QAction* clearRegion = menu.addAction(QStringLiteral("Clear region"));
    clearRegion->setEnabled(Region().has_value());
    menu.addSeparator();
    QAction* about = menu.addAction(QString::fromUtf8(kStringAboutMenu));
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == about) {
        OnSysCommand(IDM_ABOUTBOX);
    } else if (chosen == clearRegion) {
        SetRegion(std::nullopt);
    }
    // The menu held the pointer: it may have left the image, or the window, meanwhile without
    // the image being told.
    m_controls.image->SyncPointer();
}

void CmfcVELKDlg::OnSysCommand(int command) {
    if ((command & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this, *m_hIcon);
        about.exec();
    }
}

void CmfcVELKDlg::reject() {
    // Escape never gets here (it is filtered); anything else that rejects closes the window.
    close();
}

void CmfcVELKDlg::closeEvent(QCloseEvent* event) {
    if (m_closeSequence == CloseSequence::kRunning) {
        event->ignore();
        return;
    }
    RunCloseSequence();
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void CmfcVELKDlg::RunCloseSequence() {
    if (m_isClosing || m_closeSequence != CloseSequence::kNotRun) {
        return;
    }
    m_closeSequence = CloseSequence::kRunning;
    setEnabled(false);

    OnTurnOff();
    CloseBufferStatusDialog();

    for (int round = 0; round < 20; ++round) {
        if (!PumpPendingMessages()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    m_isClosing = 1;
    m_pipeline.StopThread();
    // The stop byte, the wait for the reply handler (still serving the GUI thread's queue) and
    // the port's close.
    m_session.Close([this] { return PumpPendingMessages() != 0; });
    // No more replies come; a calibration table that came is written before the program ends.
    m_calibrationExport.Threads().waitForDone();

    {
        std::lock_guard lock(m_lastImageLock);
        m_pLastImage.reset();
    }
    for (auto& [id, timer] : m_timers) {
        timer->stop();
    }
    m_closeSequence = CloseSequence::kDone;
}
