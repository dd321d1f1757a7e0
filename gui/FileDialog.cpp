#include "gui/FileDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QStringList>

namespace halvenna {

namespace {

QString execDialog(const FileDialog::Request& r, QWidget* parent)
{
    const bool save = r.mode == FileDialog::Mode::Save;
    QFileDialog dialog(parent ? parent : QApplication::activeWindow(), r.caption, save ? QString() : r.directory,
                       r.filter);
    dialog.setObjectName(r.objectName);
    // The desktop's own dialog would not know the application's translation.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!r.defaultSuffix.isEmpty())
            dialog.setDefaultSuffix(r.defaultSuffix);
        if (!r.directory.isEmpty())
            dialog.selectFile(r.directory);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(r.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    }
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

} // namespace

Seam<FileDialog::Request, QString>& FileDialog::seam()
{
    static Seam<Request, QString> seam(QStringLiteral("FileDialog"), execDialog);
    return seam;
}

QString FileDialog::getOpenFileName(QWidget* parent, const QString& objectName, const QString& caption,
                                    const QString& directory, const QString& filter, bool mustExist)
{
    return seam().ask({objectName, caption, directory, filter, mustExist, Mode::Open, {}}, parent);
}

QString FileDialog::getSaveFileName(QWidget* parent, const QString& objectName, const QString& caption,
                                    const QString& fileName, const QString& filter, const QString& defaultSuffix)
{
    return seam().ask({objectName, caption, fileName, filter, false, Mode::Save, defaultSuffix}, parent);
}

} // namespace halvenna
