#pragma once

#include <QList>
#include <QString>

class QWidget;

namespace halvenna {

// Every open-file dialog of the program goes through here, so that a test can answer it without a
// screen and read back what the user would have been offered.
class FileDialog
{
public:
    // One dialog as it was asked for.
    struct Request
    {
        QString objectName;
        QString caption;
        QString directory;
        QString filter;
        bool mustExist = true;
    };

    // Qt's own open-file dialog (so that it speaks the language the application loaded), offering
    // the files of `filter` ("label (*.ext)"), which lists its label only. With mustExist false a
    // typed name of a file that does not exist is taken as it is. Returns the chosen path, or an
    // empty string when the user cancels.
    static QString getOpenFileName(QWidget* parent, const QString& objectName, const QString& caption,
                                   const QString& directory, const QString& filter, bool mustExist = true);

    // Answers the next dialog asked for instead of showing it: a path, or an empty string for a
    // cancelled dialog. Answers queue up in order.
    static void setNextFileName(const QString& fileName);
    static int pendingAnswers();
    // The dialogs asked for so far, shown or answered.
    static QList<Request> requests();
    static void clearRequests();
};

} // namespace halvenna
