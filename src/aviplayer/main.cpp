// VELKAviPlayer: plays the video recordings of thermal-viewer and other AVI files with one
// MPEG-4 part 2 video stream. The viewer starts it with --play and the video's path.
#include <QApplication>
#include <QFileDialog>
#include <cstdio>
#include <string>

#include "aviplayer/avi_player_window.h"
#include "platform/guarded_main.h"
#include "platform/program_version.h"

namespace {

constexpr char kUsage[] =
    "Usage: VELKAviPlayer [--play] [--stats] [FILE.avi]\n"
    "\n"
    "Plays an AVI video with one MPEG-4 part 2 video stream (the video recordings of\n"
    "thermal-viewer, Xvid and DivX 4 and 5 files) at its frame rate. Without FILE, asks for one.\n"
    "A damaged or cut-off file plays as far as it is whole.\n"
    "\n"
    "Keys: Space play or pause, Left and Right one frame back or forward, Home and End the\n"
    "first and the last frame, Ctrl+S save the frame as PNG, Ctrl+O open another video.\n"
    "A click on the position bar jumps to that place.\n"
    "\n"
    "Options:\n"
    "  -h, --help  show this help and exit\n"
    "  --version   show the version and exit\n"
    "  --play      start playing at once\n"
    "  --stats     while playing, print each frame shown and how late it was\n"
    "  --          take the next argument as the file, even if it starts with '-'\n";

int UsageError(const std::string& text) {
    std::fprintf(stderr, "VELKAviPlayer: %s (see 'VELKAviPlayer --help')\n", text.c_str());
    return 2;
}

int RunPlayer(int argc, char** argv) {
    // The command line is read before Qt starts, so that --help works without a display.
    std::string path;
    bool play = false;
    bool stats = false;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnd && (arg == "-h" || arg == "--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!optionsEnd && arg == "--version") {
            std::printf("VELKAviPlayer %s\n", ProgramVersion());
            return 0;
        }
        if (!optionsEnd && arg == "--play") {
            play = true;
            continue;
        }
        if (!optionsEnd && arg == "--stats") {
            stats = true;
            continue;
        }
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option '" + arg + "'");
        }
        if (!path.empty()) {
            return UsageError("one video at a time: '" + arg + "' is one too many");
        }
        path = arg;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VELKAviPlayer"));
    CAviPlayerWindow window;
    window.SetPrintFrameTimes(stats);
    QString file = QString::fromLocal8Bit(path.c_str());
    if (file.isEmpty()) {
        file = QFileDialog::getOpenFileName(nullptr, QObject::tr("Open video"), QString(),
                                            QObject::tr("AVI videos (*.avi *.AVI);;All files (*)"));
        if (file.isEmpty()) {
            return 0;
        }
    }
    // Opened before the window is shown, so that the window takes the picture's size.
    if (!window.OpenFile(file)) {
        std::fprintf(stderr, "VELKAviPlayer: %s\n", window.StatusText().toLocal8Bit().constData());
    }
    window.show();
    if (play) {
        window.Play();
    }
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    return RunGuarded("VELKAviPlayer", [&] { return RunPlayer(argc, argv); });
}
