#include "roster/ImportProgress.h"

#include "roster/import/MemberImport.h"

#include <QCoreApplication>
#include <QDir>

#include <climits>

namespace halvenna {

namespace {

// The shift that brings a file's size into an int: bytes, or larger units for files beyond 2 GiB.
int shiftFor(qint64 fileSize)
{
    int shift = 0;
    while ((fileSize >> shift) > INT_MAX)
        ++shift;
    return shift;
}

} // namespace

ImportProgress::ImportProgress(MemberImport& csvImport, const QString& fileName, const QString& title, int delayMs,
                               QWidget* parent)
    : QProgressDialog(parent)
{
    setObjectName(QStringLiteral("ImportProgress"));
    setWindowTitle(title);
    setLabelText(QDir::toNativeSeparators(fileName));
    setCancelButtonText(QStringLiteral("キャンセル"));
    setWindowModality(Qt::ApplicationModal);
    setAutoClose(true);
    setMinimumDuration(delayMs);
    setValue(0);
    connect(this, &QProgressDialog::canceled, this, [&csvImport] { csvImport.requestCancel(); });
    connect(this, &QDialog::rejected, this, [&csvImport] { csvImport.requestCancel(); });
}

void ImportProgress::advance(qint64 bytesRead, qint64 fileSize)
{
    if (shift_ < 0) {
        shift_ = fileSize > 0 ? shiftFor(fileSize) : 0;
        // A size that is not known shows as a busy bar.
        setRange(0, fileSize > 0 ? int(fileSize >> shift_) : 0);
    }
    if (maximum() > 0)
        setValue(qMin(int(bytesRead >> shift_), maximum()));
    QCoreApplication::processEvents(isVisible() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
}

} // namespace halvenna
