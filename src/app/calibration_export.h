#pragma once
// CCalibrationExport: where the viewer's exported files go (the program directory, else the
// user's pictures folder), and the thread that writes the module's calibration tables as
// workbooks, one at a time in the order they came, so that the serial monitor thread that
// receives a table never waits for the disk. Its jobs report only through the log function
// given, which must not wait for the GUI thread. Made on the GUI thread; the owner waits for
// the jobs (WaitForDone) before anything they report to goes.
#include <QThreadPool>
#include <functional>
#include <string>

#include "platform/export_directory.h"

class CCalibrationExport {
  public:
    // programDir: the program's directory, ending in '/'. log: one line for the user, from the
    // export thread.
    CCalibrationExport(std::string programDir, std::function<void(std::string)> log);

    // Where exported files go now; any thread (it probes the file system).
    ExportDirectory DirectoryNow() const;

    // Any thread: names the workbook after the time now, the table's arrival, and queues its
    // writing; the job logs where it went or why it failed.
    void ExportLater(std::string replyText);

    // The export thread, for waiting on it.
    QThreadPool& Threads() { return m_threads; }

  private:
    const std::string m_programDir;
    // The user's pictures folder, read once at start-up, read-only afterwards.
    const std::string m_picturesDir;
    const std::function<void(std::string)> m_log;
    QThreadPool m_threads;
};
