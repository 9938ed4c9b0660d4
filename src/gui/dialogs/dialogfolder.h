#pragma once

#include <QString>

// Where the file dialogs open: the documents folder, or the home folder when there is none (a
// fresh account, a minimal desktop), never the folder the program happened to start in.
QString DialogFolder();
// `name` in that folder: the path a save dialog suggests.
QString InDialogFolder(const QString& name);
