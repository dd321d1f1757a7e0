#pragma once

#include <QIcon>

// The button glyphs, drawn here rather than shipped as bitmaps: each has its normal picture and a
// greyed one for the disabled button.
namespace halvenna::glyphs {

QIcon checkMark(int size = 18);                                // green check mark: OK, register
QIcon cross(int size = 18, bool darkRed = false);              // red cross: cancel
QIcon close(int size = 16);                                    // an open door under a green exit sign
QIcon importCsv(int size = 16);                                // a document with a red arrow pointing down into a tray
QIcon deleteRow(int size = 16);                                // a blue arrow pointing left beside a red bar
QIcon newRow(int size = 16);                                   // a red arrow pointing right into a document
QIcon printer(int size = 16, const QColor& accent = Qt::blue); // a printer with a sheet
QIcon printMany(int size = 16, const QColor& accent = Qt::blue); // a printer with a stack of sheets
QIcon checkAll(int size = 16);                                   // ticked boxes
QIcon clearAll(int size = 16);                                   // empty boxes

} // namespace halvenna::glyphs
