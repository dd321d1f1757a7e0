#pragma once

#include "roster/postal/PostalCodes.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace halvenna {

// The program's postal-code lookup: the postal service's list once the user has read one (kept
// beside the program), otherwise the dictionary of Debian's skkdic-extra package. Read on the
// first lookup, not at start-up, and again once either file has changed. A damaged own file is
// passed over for the dictionary; the windows report it where the user looked a code up. Without
// any data the lookup is off and says so in describe().
class PostalCodeLookup
{
public:
    // Where the package installs its dictionary.
    static QString packageDictionary();
    // The file beside the program that holds the list the user read.
    static QString ownFileName();

    PostalCodeLookup(QString ownFile, QString packageFile);
    // Other files, read on the next lookup (the program's folder once known; a test's fixture).
    void setFiles(const QString& ownFile, const QString& packageFile);

    // The towns of a typed code (normalised as PostalCodes::normalize); empty when it is no code,
    // is unknown, or there is no data. A data file found damaged on reading it is left aside (see
    // takeDamage); a line found damaged at the lookup throws Error naming it.
    QStringList towns(QStringView typed);
    // Once after each reading that found a data file damaged: the message naming it and what is
    // used instead, for the window where the code was typed to report. Empty otherwise.
    QString takeDamage();
    // Where the data comes from and how many codes, or that there is none; a damaged file is
    // named on a second line. Reads the data if not yet read; never takes the damage's report.
    QString describe();

    // Reads the postal service's list (KEN_ALL.CSV or its UTF-8 edition), keeps it beside the
    // program (replaced in one step) and uses it from now on; the number of codes. Throws Error
    // naming the file and line, the data in use unchanged.
    qsizetype readPostalServiceList(const QString& path);

private:
    // What a file was when read: a copy put in its place is read again.
    struct Stamp
    {
        bool exists = false;
        qint64 size = 0;
        qint64 modified = 0;
        bool operator==(const Stamp&) const = default;
    };
    static Stamp stampOf(const QString& path);
    void load();

    QString own_;
    QString package_;
    bool loaded_ = false;
    Stamp ownStamp_;
    Stamp packageStamp_;
    std::optional<PostalCodes> index_;
    QString source_;
    QString damage_; // the messages of the files found damaged at the last reading
    bool damageTaken_ = false;
};

} // namespace halvenna
