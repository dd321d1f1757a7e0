#include "roster/postal/PostalCodeLookup.h"

#include "data/Error.h"
#include "settings/SenderSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace halvenna {

QString PostalCodeLookup::packageDictionary()
{
    return QStringLiteral("/usr/share/skk/SKK-JISYO.zipcode");
}

QString PostalCodeLookup::ownFileName()
{
    return QStringLiteral("PostalCodes.txt");
}

PostalCodeLookup& PostalCodeLookup::instance()
{
    static PostalCodeLookup lookup(QDir(AppDir).filePath(ownFileName()), packageDictionary());
    return lookup;
}

PostalCodeLookup::PostalCodeLookup(QString ownFile, QString packageFile)
    : own_(std::move(ownFile)), package_(std::move(packageFile))
{}

void PostalCodeLookup::setFiles(const QString& ownFile, const QString& packageFile)
{
    own_ = ownFile;
    package_ = packageFile;
    loaded_ = false;
    index_.reset();
    source_.clear();
}

void PostalCodeLookup::load()
{
    if (loaded_)
        return;
    // Marked first: a damaged file is reported once, not on every cell left.
    loaded_ = true;
    if (!own_.isEmpty() && QFileInfo(own_).isFile()) {
        index_ = PostalCodes::fromOwnFile(own_);
        source_ = own_;
    } else if (!package_.isEmpty() && QFileInfo(package_).isFile()) {
        index_ = PostalCodes::fromSkkDictionary(package_);
        source_ = package_;
    }
}

QStringList PostalCodeLookup::towns(QStringView typed)
{
    const std::optional<QString> code = PostalCodes::normalize(typed);
    if (!code)
        return {};
    load();
    return index_ ? index_->lookup(*code) : QStringList();
}

QString PostalCodeLookup::describe()
{
    try {
        load();
    } catch (const Error& e) {
        return QStringLiteral("郵便番号データ: 読めません (%1)").arg(e.message());
    }
    if (!index_)
        return QStringLiteral("郵便番号データ: なし (住所は手で入力します)");
    return QStringLiteral("郵便番号データ: %1 件 (%2)")
        .arg(QLocale(QLocale::Japanese).toString(qlonglong(index_->size())), QDir::toNativeSeparators(source_));
}

qsizetype PostalCodeLookup::readPostalServiceList(const QString& path)
{
    PostalCodes read = PostalCodes::fromPostalServiceList(path);
    read.save(own_);
    // Used as written, so that what is looked up is what the next start reads.
    index_ = PostalCodes::fromOwnFile(own_);
    source_ = own_;
    loaded_ = true;
    return index_->size();
}

} // namespace halvenna
