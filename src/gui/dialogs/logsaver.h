#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QWidget;
class Session;

// "Save log…" of one window: asks for a file, fetches the window's log text from the logic on
// the session thread (lines ending CR LF, exactly as its pane holds them) and writes it.
class LogSaver : public QObject {
  Q_OBJECT

 public:
  LogSaver(Session& session, QString win, QWidget* dialogParent);

  // Where the file dialog would ask; an empty answer cancels. Tests answer it themselves.
  void setPathChooser(std::function<QString()> chooser) { choosePath_ = std::move(chooser); }

 public slots:
  void save();

 signals:
  void saved(const QString& path);
  // The file could not be written; `why` names it and says why.
  void failed(const QString& why);

 private:
  void write(const QString& win, const QByteArray& text);

  Session& session_;
  QString win_;
  QString pending_;
  std::function<QString()> choosePath_;
};
