#include "gui/supportbundlesaver.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QGridLayout>
#include <QThread>

#include "bundle/supportbundlewriter.h"
#include "gui/dialogfolder.h"
#include "gui/session.h"
#include "platform/lastadaptercheck.h"
#include "platform/portlist.h"
#include "platform/portsjson.h"
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
        // Listing the ports and copying the records may take a moment: off the GUI thread.
        auto why = std::make_shared<std::string>();
        QThread* worker = QThread::create([parts, path, records, why]() mutable {
          parts.created = kline::LocalTimeText();
          parts.about = kline::ProgramAbout("klinediag");
          parts.portsJson = kline::PortsJson(kline::PortList::Available()) + "\n";
          parts.adapterCheck = kline::LastAdapterCheckText();
          *why = kline::WriteSupportBundle(path, std::move(parts), records);
        });
        connect(worker, &QThread::finished, this, [this, worker, why, file = choice.path] {
          worker->deleteLater();
          busy_ = false;
          if (why->empty())
            emit saved(file);
          else
            emit failed(tr("Support bundle not saved: %1").arg(QString::fromStdString(*why)));
        });
        worker->start();
      });
}
