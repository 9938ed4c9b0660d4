#include "gui/dialogs/dialogfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString DialogFolder() {
  const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!docs.isEmpty() && QFileInfo(docs).isDir()) return docs;
  return QDir::homePath();
}

QString InDialogFolder(const QString& name) {
  return QDir(DialogFolder()).filePath(name);
}
