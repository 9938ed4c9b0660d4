#pragma once

#include <QDateTime>
#include <QString>

namespace kline {
class SessionReport;
}

// Writes a session report twice, same content: `pdfPath` (A4, through the text document) and
// the same name with ".html". Returns an empty text, or why a file could not be written.
QString WriteSessionReport(const kline::SessionReport& report, const QString& pdfPath,
                           const QDateTime& when = QDateTime::currentDateTime());

// The HTML path written beside `pdfPath`.
QString ReportHtmlPath(const QString& pdfPath);
