#include "roster/postal/PostalCodeLookup.h"

#include "data/Error.h"

#include <QDateTime>
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
    damage_.clear();
    damageTaken_ = false;
}

PostalCodeLookup::Stamp PostalCodeLookup::stampOf(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    return {true, info.size(), info.lastModified().toMSecsSinceEpoch()};
}

void PostalCodeLookup::load()
{
    const Stamp own = stampOf(own_);
    const Stamp package = stampOf(package_);
    if (loaded_ && own == ownStamp_ && package == packageStamp_)
        return;
    // Marked first: a damaged file is reported once, not on every cell left.
    loaded_ = true;
    ownStamp_ = own;
    packageStamp_ = package;
    index_.reset();
    source_.clear();
    damage_.clear();
    damageTaken_ = false;
    if (own.exists) {
        try {
            index_ = PostalCodes::fromOwnFile(own_);
            source_ = own_;
        } catch (const Error& e) {
            damage_ = e.message();
        }
    }
    if (!index_ && package.exists) {
        try {
            index_ = PostalCodes::fromSkkDictionary(package_);
            source_ = package_;
        } catch (const Error& e) {
            damage_ += (damage_.isEmpty() ? QString() : QStringLiteral("\n")) + e.message();
        }
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

QString PostalCodeLookup::takeDamage()
{
    if (damage_.isEmpty() || damageTaken_)
        return {};
    damageTaken_ = true;
    if (index_)
        return QStringLiteral("%1\n代わりに %2 で住所を探します.").arg(damage_, QDir::toNativeSeparators(source_));
    return QStringLiteral("%1\n郵便番号から住所は入りません.").arg(damage_);
}

QString PostalCodeLookup::describe()
{
    load();
    if (!index_ && damage_.isEmpty())
        return QStringLiteral("郵便番号データ: なし (住所は手で入力します)");
    if (!index_)
        return QStringLiteral("郵便番号データ: 読めません (%1)").arg(damage_);
    const QString line =
        QStringLiteral("郵便番号データ: %1 件 (%2)")
            .arg(QLocale(QLocale::Japanese).toString(qlonglong(index_->size())), QDir::toNativeSeparators(source_));
    if (damage_.isEmpty())
        return line;
    return QStringLiteral("%1\n読めません: %2").arg(line, damage_);
}

qsizetype PostalCodeLookup::readPostalServiceList(const QString& path)
{
    PostalCodes read = PostalCodes::fromPostalServiceList(path);
    read.save(own_);
    // Used as written, so that what is looked up is what the next start reads.
    index_ = PostalCodes::fromOwnFile(own_);
    source_ = own_;
    damage_.clear();
    damageTaken_ = false;
    loaded_ = true;
    ownStamp_ = stampOf(own_);
    packageStamp_ = stampOf(package_);
    return index_->size();
}

} // namespace halvenna
