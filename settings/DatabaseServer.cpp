#include "settings/DatabaseServer.h"

#include "data/Error.h"
#include "data/sql/PostgresConnection.h"
#include "settings/IniFile.h"

#include <QDir>
#include <QRegularExpression>

namespace halvenna {

QString databaseServer(const QString& settingsPath)
{
    return QString::fromUtf8(IniFile::readKey(settingsPath, "Dostrel", "Server", QByteArray())).trimmed();
}

ServerAddress serverAddress(const QString& conninfo)
{
    const QList<QPair<QString, QString>> options = sql::PostgresConnection::options(conninfo);
    ServerAddress a;
    for (const auto& [key, value] : options) {
        if (key == u"host")
            a.host = value;
        else if (key == u"port")
            a.port = value;
        else if (key == u"dbname")
            a.database = value;
        else if (key == u"user")
            a.user = value;
    }
    return a;
}

namespace {

QString quotedValue(const QString& value)
{
    static const QRegularExpression plain(QStringLiteral("^[^\\s'\\\\]+$"));
    if (plain.match(value).hasMatch())
        return value;
    QString q = value;
    q.replace(u'\\', QStringLiteral("\\\\"));
    q.replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + q + u'\'';
}

} // namespace

QString serverConninfo(const ServerAddress& address, const QString& previous)
{
    if (address.host.trimmed().isEmpty() && address.database.trimmed().isEmpty() && address.user.trimmed().isEmpty())
        return {};
    QStringList words;
    const auto add = [&](const char* key, const QString& value) {
        if (!value.trimmed().isEmpty())
            words << QLatin1String(key) + u'=' + quotedValue(value.trimmed());
    };
    add("host", address.host);
    add("port", address.port);
    add("dbname", address.database);
    add("user", address.user);
    for (const auto& [key, value] : sql::PostgresConnection::options(previous))
        if (key != u"host" && key != u"hostaddr" && key != u"port" && key != u"dbname" && key != u"user" &&
            key != u"password")
            words << key + u'=' + quotedValue(value);
    return words.join(u' ');
}

void writeDatabaseServer(const QString& settingsPath, const QString& conninfo)
{
    IniFile::writeKeys(settingsPath, "Dostrel", {{"Server", conninfo.toUtf8()}});
}

void checkDatabaseServer(const QString& conninfo, const QString& settingsPath)
{
    if (conninfo.isEmpty())
        return;
    const QString key = QStringLiteral("%1 の [Dostrel] Server=").arg(QDir::toNativeSeparators(settingsPath));
    const QString unreadable = sql::PostgresConnection::unreadable(conninfo);
    if (!unreadable.isEmpty())
        throw Error(QStringLiteral("%1: %2。名簿のテーブルは開きません").arg(key, unreadable));
    if (sql::PostgresConnection::holdsPassword(conninfo))
        throw Error(
            QStringLiteral("%1 にパスワードが書かれています。パスワードは設定ファイルには書けません: "
                           "~/.pgpass (1行に ホスト:ポート:データベース:ユーザー:パスワード、権限 0600) か、"
                           "サービス ファイル ~/.pg_service.conf の password= に書き、Server= からは消してください。"
                           "名簿のテーブルは開きません")
                .arg(key));
}

} // namespace halvenna
