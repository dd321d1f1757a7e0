#pragma once

#include "gui/Seam.h"

#include <QString>

class QWidget;

namespace halvenna {

// Every file dialog of the program, to open a file or to save one, goes through here: through its
// seam, so that a test can answer it without a screen and read back what the user was offered.
class FileDialog
{
public:
    enum class Mode { Open, Save };

    // One dialog as it was asked for.
    struct Request
    {
        QString objectName;
        QString caption;
        QString directory; // the folder, or the file preselected
        QString filter;
        bool mustExist = true;
        Mode mode = Mode::Open;
        QString defaultSuffix;
    };

    // Qt's own open-file dialog (so that it speaks the language the application loaded), offering
    // the files of `filter` ("label (*.ext)"), which lists its label only. With mustExist false a
    // typed name of a file that does not exist is taken as it is. Returns the chosen path, or an
    // empty string when the user cancels.
    static QString getOpenFileName(QWidget* parent, const QString& objectName, const QString& caption,
                                   const QString& directory, const QString& filter, bool mustExist = true);
    // Qt's own save dialog, with `fileName` preselected; a name typed without a suffix gets
    // defaultSuffix. Returns the chosen path, or an empty string when the user cancels.
    static QString getSaveFileName(QWidget* parent, const QString& objectName, const QString& caption,
                                   const QString& fileName, const QString& filter, const QString& defaultSuffix);

    // The seam every file dialog goes through; the answer is a path, or an empty string for Cancel.
    static Seam<Request, QString>& seam();
};

} // namespace halvenna
