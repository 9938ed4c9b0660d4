#include "gui/dialogs/supportbundlesaver.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QGridLayout>
#include <QThread>
#include <mutex>
#include <string>

#include "bundle/supportbundlewriter.h"
#include "gui/dialogs/dialogfolder.h"
#include "gui/session/session.h"
#include "platform/machineparts.h"
#include "platform/programabout.h"

SupportBundleSaver::SupportBundleSaver(Session& session, QWidget* dialogParent)
    : QObject(dialogParent), session_(session), dialogParent_(dialogParent) {
  choose_ = [this] { return askWithDialog(); };
}

std::optional<SupportBundleSaver::Choice> SupportBundleSaver::askWithDialog() {
  // The toolkit's own dialog, which takes the records box below its fields.
  QFileDialog dialog(dialogParent_, tr("Save support bundle"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(tr("Zip archives (*.zip)"));
  dialog.setDefaultSuffix(QStringLiteral("zip"));
  dialog.selectFile(InDialogFolder(
      QStringLiteral("klinediag-support-%1.zip")
          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))));
  auto* records = new QCheckBox(tr("Include the bike records (names, owners, visits)"));
  records->setToolTip(
      tr("A copy of the records file goes into the archive: only tick it when "
         "whoever helps you should see your customers' bikes."));
  if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
    grid->addWidget(records, grid->rowCount(), 0, 1, grid->columnCount());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return Choice{dialog.selectedFiles().constFirst(), records->isChecked()};
}

void SupportBundleSaver::save() {
  if (busy_) return;
  const std::optional<Choice> choice = choose_ ? choose_() : std::nullopt;
  if (!choice || choice->path.isEmpty()) return;
  busy_ = true;
  session_.requestBundleParts(
      this, [this, choice = *choice](const kline::SupportBundleParts& fromSession,
                                     const QString& recordsFile) {
        kline::SupportBundleParts parts = fromSession;
        const std::string path = choice.path.toStdString();
        const std::string records = choice.withRecords ? recordsFile.toStdString() : std::string();
        if (choice.withRecords && records.empty()) {
          busy_ = false;
          emit failed(
              tr("Support bundle not saved: the records are turned off, there is no records "
                 "file to include"));
          return;
        }
        // The C library's time zone is read here: its lock is not one every tool can see.
        parts.created = kline::LocalTimeText();
        // The worker's verdict, handed over under a lock of our own.
        struct Outcome {
          std::mutex lock;
          std::string why;
        };
        auto outcome = std::make_shared<Outcome>();
        // Listing the ports and copying the records may take a moment: off the GUI thread.
        QThread* worker = QThread::create([parts, path, records, outcome]() mutable {
          kline::AddMachineParts("klinediag", parts);
          std::string why = kline::WriteSupportBundle(path, std::move(parts), records);
          const std::lock_guard<std::mutex> hold(outcome->lock);
          outcome->why = std::move(why);
        });
        connect(worker, &QThread::finished, this, [this, worker, outcome, file = choice.path] {
          worker->deleteLater();
          busy_ = false;
          std::string why;
          {
            const std::lock_guard<std::mutex> hold(outcome->lock);
            why = outcome->why;
          }
          if (why.empty())
            emit saved(file);
          else
            emit failed(tr("Support bundle not saved: %1").arg(QString::fromStdString(why)));
        });
        worker->start();
      });
}
