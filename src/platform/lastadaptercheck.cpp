#include "platform/lastadaptercheck.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "records/recordstore.h"

namespace kline {

AdapterReport CheckAdapterAndKeep(const std::string& port) {
  AdapterReport r = AdapterCheck().run(port);
  SaveLastAdapterCheck(port, r);
  return r;
}

std::string LastAdapterCheckPath() {
  const QFileInfo records(QString::fromStdString(records::DefaultRecordsPath()));
  return records.dir().filePath(QStringLiteral("last-adapter-check.txt")).toStdString();
}

void SaveLastAdapterCheck(const std::string& port, const AdapterReport& r) {
  const QString path = QString::fromStdString(LastAdapterCheckPath());
  QDir().mkpath(QFileInfo(path).path());
  // The time with its offset from UTC: a helper far away reads it right.
  const QDateTime now = QDateTime::currentDateTime();
  std::string text =
      "time: " + now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate).toStdString() +
      "\nport: " + port + (r.device.empty() || r.device == port ? "" : " (" + r.device + ")") +
      "\nresult: " +
      (!r.opened() ? "did not open: " + r.openError
       : r.ok()    ? std::string("echo good at every rate")
                   : std::string("echo not good")) +
      "\n\n";
  for (const std::string& l : DescribeAdapterReport(r)) text += l + "\n";
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return;
  f.write(text.data(), static_cast<qint64>(text.size()));
  f.commit();
}

std::string LastAdapterCheckText() {
  QFile f(QString::fromStdString(LastAdapterCheckPath()));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll().toStdString();
}

}  // namespace kline
