#pragma once

#include "tools.h"

#include <QString>
#include <QStringList>

#include <array>

namespace tinsoke {

// The record behind one row of the file list: its texts in column order, a
// size column for each built-in tool between Size and Path.
struct TLVData {
    QString FileName;     // the row's caption: the name without its folder
    QString Size;         // size in bytes when the row was added
    QString JpegtranSize; // size after each tool, empty until a run writes it
    QString JpegoptimSize;
    QString AdvPNGSize;
    QString OptiPNGSize;
    QString PNGCrushSize;
    QString PNGOutSize;
    QString PNGRewriteSize;
    QString cPNGCSize;
    QString Path;           // the full path, exactly as dropped or as the folder walk built it
    QStringList ExtraSizes; // size after each of the user's own tools, columns 11 on

    static constexpr int PathColumn = 2 + ToolCount;
    static constexpr int FieldCount = PathColumn + 1;

    // The field of a list column: 0 to Path, then the user's own tools.
    QString &field(int column);
    const QString &field(int column) const;
};

} // namespace tinsoke

// Rows move in memory as plain bytes, as their texts do: lists of many rows grow cheaply.
Q_DECLARE_TYPEINFO(tinsoke::TLVData, Q_RELOCATABLE_TYPE);

namespace tinsoke {

// Size in bytes from the file's directory entry, without opening the file;
// 0 for a folder or when there is no such entry. A link counts by its target.
qint64 GetFileSizeBytes(const QString &path);

} // namespace tinsoke
