#pragma once

#include "tools.h"

#include <QString>
#include <QStringList>

#include <array>

namespace tinsoke {

// The record behind one row of the file list: its caption, its size, its
// path, and the size after each step of a chain, empty until a run writes
// it. In the list the built-in tools' columns stand between Size and Path,
// the user's own tools' after Path.
struct TLVData {
    QString FileName;  // the row's caption: the name without its folder
    QString Size;      // size in bytes when the row was added
    QString Path;      // the full path, exactly as dropped or as the folder walk built it
    QStringList Sizes; // the built-in tools', in tool order, then the user's own

    static constexpr int PathColumn = ListPathColumn;
    static constexpr int FieldCount = FirstOwnToolColumn;

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
