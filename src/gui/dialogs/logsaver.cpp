#include "gui/dialogs/logsaver.h"

#include <QDateTime>
#include <QFileDialog>
#include <QSaveFile>

#include "gui/dialogs/dialogfolder.h"
#include "gui/session/session.h"
#include "records/recordstore.h"

LogSaver::LogSaver(Session& session, QString win, QWidget* dialogParent)
    : QObject(dialogParent), session_(session), win_(std::move(win)) {
  choosePath_ = [dialogParent, this] {
    return QFileDialog::getSaveFileName(
        dialogParent,
        win_ == QLatin1String("Form1")   ? tr("Save the test window's log")
        : win_ == QLatin1String("Form3") ? tr("Save the Diag window's log")
                                         : tr("Save the log"),
        InDialogFolder(
            QStringLiteral("klinediag-log-%1.txt")
                .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))),
        tr("Text files (*.txt);;All files (*)"));
  };
  connect(&session_, &Session::logText, this, &LogSaver::write);
}

void LogSaver::save() {
  const QString path = choosePath_ ? choosePath_() : QString();
  if (path.isEmpty()) return;
  pending_ = path;
  session_.requestLogText(win_);
}

void LogSaver::write(const QString& win, const QByteArray& text) {
  if (win != win_ || pending_.isEmpty()) return;
  const QString path = std::exchange(pending_, QString());
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() || !f.commit()) {
    emit failed(tr("Log not saved to %1: %2").arg(path, f.errorString()));
    return;
  }
  session_.noteRecordsFile(static_cast<int>(kline::records::FileKind::Log), path);
  emit saved(path);
}
