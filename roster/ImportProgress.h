#pragma once

#include <QProgressDialog>

namespace halvenna {

class MemberImport;

// The progress of a roster CSV import: modal, so that nothing else touches the table meanwhile, and
// shown only once the import has run for `delayMs`; its label is the file, its bar the bytes read.
// Its button, its close box and Esc all stop the import (at the next line, as a failure there).
class ImportProgress : public QProgressDialog
{
    Q_OBJECT
public:
    ImportProgress(MemberImport& csvImport, const QString& fileName, const QString& title, int delayMs,
                   QWidget* parent = nullptr);

    // What the import reports after its lines: moves the bar and lets the event loop turn, taking
    // the user's input only once the dialog shows (until then it waits for the end of the import).
    void advance(qint64 bytesRead, qint64 fileSize);

private:
    int shift_ = -1; // how far byte counts are shifted to fit the bar's int range
};

} // namespace halvenna
