#include "gui/dialogs/reportwriter.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

#include "session/sessionreport.h"

QString ReportHtmlPath(const QString& pdfPath) {
  const QFileInfo fi(pdfPath);
  return fi.dir().filePath(fi.completeBaseName() + QStringLiteral(".html"));
}

qreal FitToOnePage(QTextDocument& doc, const QSizeF& page) {
  doc.setTextWidth(page.width());
  if (doc.size().height() <= page.height()) return 1;
  // Laid out wider by as much as it is drawn smaller, which only shortens it.
  const qreal scale = page.height() / doc.size().height();
  doc.setTextWidth(page.width() / scale);
  return scale;
}

QString WriteSessionReport(const kline::SessionReport& report, const QString& pdfPath,
                           const QDateTime& when) {
  const std::string html =
      report.html(when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString());

  const QString htmlPath = ReportHtmlPath(pdfPath);
  QSaveFile out(htmlPath);
  const QByteArray bytes = QByteArray::fromStdString(html);
  if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
    return QObject::tr("Report not written to %1: %2").arg(htmlPath, out.errorString());

  {
    // QPdfWriter says nothing when it cannot open its file: the file is checked afterwards.
    QFile::remove(pdfPath);
    QPdfWriter pdf(pdfPath);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
    pdf.setResolution(300);
    pdf.setTitle(QStringLiteral("klinediag session report"));
    pdf.setCreator(QStringLiteral("klinediag"));
    QTextDocument doc;
    doc.documentLayout()->setPaintDevice(&pdf);
    QFont font = doc.defaultFont();
    font.setPointSizeF(9);
    doc.setDefaultFont(font);
    doc.setHtml(QString::fromStdString(html));
    const qreal scale =
        FitToOnePage(doc, pdf.pageLayout().paintRectPixels(pdf.resolution()).size());
    QPainter painter;
    if (painter.begin(&pdf)) {
      painter.scale(scale, scale);
      doc.drawContents(&painter);
      painter.end();
    }
  }
  QFile check(pdfPath);
  if (!check.open(QIODevice::ReadOnly) || check.read(4) != "%PDF")
    return QObject::tr("Report not written to %1: %2")
        .arg(pdfPath, check.exists() ? QObject::tr("the file is incomplete")
                                     : QObject::tr("the file could not be created"));
  return {};
}
