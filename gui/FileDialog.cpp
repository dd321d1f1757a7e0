#include "gui/FileDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QStringList>

namespace halvenna {

namespace {

QStringList& answers()
{
    static QStringList queue;
    return queue;
}

QList<FileDialog::Request>& asked()
{
    static QList<FileDialog::Request> list;
    return list;
}

QString execDialog(QWidget* parent, const FileDialog::Request& r)
{
    QFileDialog dialog(parent ? parent : QApplication::activeWindow(), r.caption, r.directory, r.filter);
    dialog.setObjectName(r.objectName);
    // The desktop's own dialog would not know the application's translation.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(r.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

} // namespace

QString FileDialog::getOpenFileName(QWidget* parent, const QString& objectName, const QString& caption,
                                    const QString& directory, const QString& filter, bool mustExist)
{
    const Request r{objectName, caption, directory, filter, mustExist};
    asked().append(r);
    if (!answers().isEmpty())
        return answers().takeFirst();
    return execDialog(parent, r);
}

void FileDialog::setNextFileName(const QString& fileName)
{
    answers().append(fileName);
}

int FileDialog::pendingAnswers()
{
    return int(answers().size());
}

QList<FileDialog::Request> FileDialog::requests()
{
    return asked();
}

void FileDialog::clearRequests()
{
    asked().clear();
}

} // namespace halvenna
