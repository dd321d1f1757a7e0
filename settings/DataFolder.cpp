#include "settings/DataFolder.h"

#include "data/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <unistd.h>

namespace halvenna {

namespace {

const QString kTables = QStringLiteral("Dostrel");
const QString kTemplates = QStringLiteral("templates");

QString withSlash(const QString& folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

// A folder's files in name order: what the package ships there.
QStringList shippedFiles(const QString& folder)
{
    const QDir dir(folder);
    if (!dir.exists())
        throw Error(
            QStringLiteral("%1 がありません。プログラムを入れ直してください").arg(QDir::toNativeSeparators(folder)));
    // System: a broken link among them is a damaged install, reported when it is read, never passed over.
    return dir.entryList(QDir::Files | QDir::System, QDir::Name);
}

QByteArray readShipped(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("%1 を読めません（%2）").arg(QDir::toNativeSeparators(path), openProblem(path)));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("%1 を読めません").arg(QDir::toNativeSeparators(path)));
    return bytes;
}

// Writes bytes to a temporary file, which the caller then renames into place (target is the name
// the user is told about). The file is on disk (fsync) before it gets its name, so that a crash
// leaves it whole or not there.
void writeWhole(QTemporaryFile& file, const QByteArray& bytes, const QString& target)
{
    const auto fail = [&] {
        return Error(QStringLiteral("%1 に書き込めません").arg(QDir::toNativeSeparators(target)));
    };
    if (!file.open())
        throw fail();
    if (file.write(bytes) != bytes.size() || !file.flush() || ::fsync(file.handle()) != 0)
        throw fail();
    file.close();
}

// Copies source to target unless target exists; the rename refuses to replace a file that appeared
// meanwhile (another start of the program), which then stays.
void copyNew(const QString& source, const QString& target)
{
    if (QFileInfo::exists(target))
        return;
    const QByteArray bytes = readShipped(source);
    const QFileInfo info(target);
    QTemporaryFile file(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    writeWhole(file, bytes, target);
    if (!QFile::rename(file.fileName(), target) && !QFileInfo::exists(target))
        throw Error(QStringLiteral("%1 に書き込めません").arg(QDir::toNativeSeparators(target)));
}

// Lays out the shipped tables as tables/ in one step: they are copied into a temporary folder beside
// it, which is then renamed, so a user's folder never holds some of the tables but not the rest.
void copyTables(const QString& sharedTables, const QString& tables)
{
    const QStringList names = shippedFiles(sharedTables);
    const QFileInfo info(tables);
    QTemporaryDir staging(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral("-XXXXXX"));
    if (!staging.isValid())
        throw Error(QStringLiteral("%1 を作れません").arg(QDir::toNativeSeparators(tables)));
    for (const QString& name : names) {
        QTemporaryFile file(staging.filePath(name + QStringLiteral(".XXXXXX")));
        writeWhole(file, readShipped(sharedTables + name), tables + u'/' + name);
        if (!QFile::rename(file.fileName(), staging.filePath(name)))
            throw Error(QStringLiteral("%1 に書き込めません").arg(QDir::toNativeSeparators(tables + u'/' + name)));
    }
    if (QDir().rename(staging.path(), tables)) {
        staging.setAutoRemove(false);
        return;
    }
    if (!QFileInfo::exists(tables))
        throw Error(QStringLiteral("%1 を作れません").arg(QDir::toNativeSeparators(tables)));
}

} // namespace

DataFolder::DataFolder(bool perUser, QString path, QString shared)
    : perUser_(perUser), path_(std::move(path)), shared_(std::move(shared))
{}

DataFolder DataFolder::locate(const QString& programDir, const QProcessEnvironment& env)
{
    const QString program = withSlash(QDir::cleanPath(QDir(programDir).absolutePath()));
    if (QFileInfo(program + kTables).isDir())
        return DataFolder(false, program, QString());

    // The base directory specification: a relative XDG_DATA_HOME is invalid and is ignored.
    QString dataHome = env.value(QStringLiteral("XDG_DATA_HOME"));
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome)) {
        QString home = env.value(QStringLiteral("HOME"));
        if (home.isEmpty() || !QDir::isAbsolutePath(home))
            home = QDir::homePath();
        dataHome = home + QStringLiteral("/.local/share");
    }
    const QString path = withSlash(QDir::cleanPath(dataHome + QStringLiteral("/halvenna")));
    const QString shared = withSlash(QDir::cleanPath(program + QStringLiteral("../share/halvenna")));
    return DataFolder(true, path, shared);
}

DataFolder DataFolder::locate(const QString& programDir)
{
    return locate(programDir, QProcessEnvironment::systemEnvironment());
}

QString DataFolder::shippedTemplates() const
{
    return (perUser_ ? shared_ : path_) + kTemplates + u'/';
}

void DataFolder::prepare() const
{
    if (!perUser_)
        return;
    const QString folder = path_.chopped(1);
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        throw Error(QStringLiteral("データを置くフォルダ %1 を作れません").arg(QDir::toNativeSeparators(folder)));

    const QString templates = shippedTemplates();
    for (const QString& name : shippedFiles(templates))
        copyNew(templates + name, path_ + name);
    const QString tables = path_ + kTables;
    if (!QFileInfo::exists(tables))
        copyTables(shared_ + kTables + u'/', tables);
}

} // namespace halvenna
