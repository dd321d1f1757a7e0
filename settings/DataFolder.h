#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace halvenna {

// Where the program keeps its data: the tables (Dostrel/ with its backup/), the settings file
// Kelvaro.ini, the two templates 配置調整 rewrites and PostalCodes.txt.
//
// - A program laid out in a folder of its own (Dostrel/ stands beside the executable) keeps
//   everything there, as it always has.
// - A program installed for everyone (the executable in /usr/bin, nothing of anyone's beside it)
//   keeps each user's data in that user's folder, $XDG_DATA_HOME/halvenna, or
//   ~/.local/share/halvenna when that variable is unset, empty or not an absolute path. The user's
//   folder starts from what the package ships read-only in ../share/halvenna beside the
//   executable's folder: the four empty tables in Dostrel/ and the templates in templates/.
class DataFolder
{
public:
    // Decides for an executable standing in programDir, reading XDG_DATA_HOME and HOME from env.
    static DataFolder locate(const QString& programDir, const QProcessEnvironment& env);
    // The same with the program's own environment.
    static DataFolder locate(const QString& programDir);

    // True for a user's own folder, false for the program's folder.
    bool perUser() const { return perUser_; }
    // The data folder, absolute and ending in "/".
    const QString& path() const { return path_; }
    // The folder the package ships read-only, ending in "/"; empty for a program in a folder of its own.
    const QString& shared() const { return shared_; }
    // Where the templates as shipped are, which 初期値に戻す puts back: templates/ in the program's
    // folder, or in the shared folder. Ends in "/".
    QString shippedTemplates() const;

    // Readies a user's folder (a program in a folder of its own needs nothing): makes it when it is
    // not there, puts in each shipped template it lacks, and the shipped tables when it has no
    // Dostrel/ at all (a Dostrel/ that lacks a table is left alone, so the missing table is
    // reported rather than silently replaced by an empty one). Every file appears whole or not at
    // all (written under a temporary name, then renamed) and a file that exists is never
    // overwritten: a user's tables and changed templates are kept. Throws Error naming the folder
    // that cannot be made, or the file that cannot be read or written; what was written by then
    // stays whole.
    void prepare() const;

private:
    DataFolder(bool perUser, QString path, QString shared);

    bool perUser_;
    QString path_;
    QString shared_;
};

} // namespace halvenna
