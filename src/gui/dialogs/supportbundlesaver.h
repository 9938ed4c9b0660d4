#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QWidget;
class Session;

// "Save support bundle…": asks for a file and whether the bike records go in (off unless
// ticked), gathers the session's part on the session thread, and writes the zip archive on a
// thread of its own, so the window never waits for it. GUI thread.
class SupportBundleSaver : public QObject {
  Q_OBJECT

 public:
  SupportBundleSaver(Session& session, QWidget* dialogParent);

  struct Choice {
    QString path;
    bool withRecords = false;
  };
  // Where the file dialog would ask; none cancels. Tests answer it themselves.
  void setChooser(std::function<std::optional<Choice>()> chooser) { choose_ = std::move(chooser); }
  bool busy() const { return busy_; }

 public slots:
  void save();

 signals:
  void saved(const QString& path);
  // The archive could not be written; `why` names it and says why.
  void failed(const QString& why);

 private:
  std::optional<Choice> askWithDialog();

  Session& session_;
  QWidget* dialogParent_;
  std::function<std::optional<Choice>()> choose_;
  bool busy_ = false;
};
