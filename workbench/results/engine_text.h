// Text crossing between the window (QString) and the engine (std::string). Paths go to POSIX
// calls, so they travel in the local 8-bit file-name encoding; the engine's messages name such
// paths and come back the same way.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

#include "engine/records/error.h"

namespace korvane::wb {

inline std::string engine_text(const QString& s) { return QFile::encodeName(s).toStdString(); }

inline QString window_text(const std::string& s) { return QFile::decodeName(QByteArray::fromStdString(s)); }

// The message of the exception being handled, for the window to show; only inside a catch block.
inline QString current_error_text() { return window_text(describe_current_exception()); }

}  // namespace korvane::wb
