#pragma once

#include <QDateTime>
#include <QSizeF>
#include <QString>

class QTextDocument;

namespace kline {
class SessionReport;
}

// Writes a session report twice, same content: `pdfPath` (A4, through the text document) and
// the same name with ".html". Returns an empty text, or why a file could not be written.
QString WriteSessionReport(const kline::SessionReport& report, const QString& pdfPath,
                           const QDateTime& when = QDateTime::currentDateTime());

// One page to hand over: lays `doc` out for a page of `page` (the paint device's units) and
// returns the scale to draw it at, 1 when it fits, less when it would run onto a second page.
qreal FitToOnePage(QTextDocument& doc, const QSizeF& page);

// The HTML path written beside `pdfPath`.
QString ReportHtmlPath(const QString& pdfPath);
