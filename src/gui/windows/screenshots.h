#pragma once

// The pictures of the README: the program connects to the simulated ECU, waits until the window
// shows what the picture is for, saves it as a PNG and quits (exit code 1 when it could not).
#include <QString>

class MainWindow;
class QApplication;
class Session;

// The main window once both records and the live values are shown.
void ScheduleScreenshot(QApplication& app, Session& session, MainWindow& window, QString file);
// The test window while the fuel pump test started from it runs.
void ScheduleTestsScreenshot(QApplication& app, Session& session, MainWindow& window, QString file);
// The chart window: after some seconds of live values, or showing the recording `csv`.
void ScheduleChartScreenshot(QApplication& app, Session& session, MainWindow& window, QString file,
                             QString csv);
// The records window: two visits of the simulated ECU (faults read, a test run), the bike
// named, its latest visit compared with the one before.
void ScheduleRecordsScreenshot(QApplication& app, Session& session, MainWindow& window,
                               QString file);
