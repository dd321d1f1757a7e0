#pragma once

#include "roster/postal/PostalCodes.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace halvenna {

// The program's postal-code lookup: the postal service's list once the user has read one (kept
// beside the program), otherwise the dictionary of Debian's skkdic-extra package. Read on the
// first lookup, not at start-up. Without either file the lookup is off and says so in describe().
class PostalCodeLookup
{
public:
    // Where the package installs its dictionary.
    static QString packageDictionary();
    // The file beside the program that holds the list the user read.
    static QString ownFileName();

    // The one the windows use: AppDir's own file, then the package's dictionary.
    static PostalCodeLookup& instance();

    PostalCodeLookup(QString ownFile, QString packageFile);
    // Other files, read on the next lookup (for the program's start and for tests).
    void setFiles(const QString& ownFile, const QString& packageFile);

    // The towns of a typed code (normalised as PostalCodes::normalize); empty when it is no code,
    // is unknown, or there is no data. A data file that turns out damaged throws Error naming it,
    // once: the lookup is off afterwards until a list is read.
    QStringList towns(QStringView typed);
    // One line saying where the data comes from and how many codes, or that there is none.
    QString describe();

    // Reads the postal service's list (KEN_ALL.CSV or its UTF-8 edition), keeps it beside the
    // program (replaced in one step) and uses it from now on; the number of codes. Throws Error
    // naming the file and line, the data in use unchanged.
    qsizetype readPostalServiceList(const QString& path);

private:
    void load();

    QString own_;
    QString package_;
    bool loaded_ = false;
    std::optional<PostalCodes> index_;
    QString source_;
};

} // namespace halvenna
