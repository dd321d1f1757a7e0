// Lays out the empty tables: the four table files in a folder, or the shared tables on a PostgreSQL
// server, and copies the shared tables' rows between a folder and a server.
#include "data/Error.h"
#include "roster/model/Schema.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

const char* const kUsage = "usage: halvenna_mktables <folder>\n"
                           "       halvenna_mktables --server <conninfo> [--copy-from <folder> | --copy-to <folder>"
                           " [--replace]]\n"
                           "       halvenna_mktables --grant <role>\n";

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QTextStream out(stdout);
    QStringList args = app.arguments().mid(1);
    QString server;
    QString copyFrom;
    QString copyTo;
    QString grant;
    bool replace = false;
    QString folder;
    QStringList given;
    const auto usage = [&] {
        err << kUsage;
        return 2;
    };
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        QString* value = arg == u"--server"      ? &server
                         : arg == u"--copy-from" ? &copyFrom
                         : arg == u"--copy-to"   ? &copyTo
                         : arg == u"--grant"     ? &grant
                                                 : nullptr;
        if (value) {
            // An option given twice, or with an empty value, is a mistake, never "not given".
            if (args.isEmpty() || given.contains(arg) || args.first().trimmed().isEmpty())
                return usage();
            given << arg;
            *value = args.takeFirst();
        } else if (arg == u"--replace" && !replace) {
            replace = true;
        } else if (!arg.startsWith(u"--") && folder.isEmpty() && !arg.trimmed().isEmpty()) {
            folder = arg;
        } else {
            return usage();
        }
    }
    const bool serverWork = !server.isEmpty();
    const bool copying = !copyFrom.isEmpty() || !copyTo.isEmpty();
    const int works = int(serverWork) + int(!folder.isEmpty()) + int(!grant.isEmpty());
    if (works != 1 || (!copyFrom.isEmpty() && !copyTo.isEmpty()) || (copying && !serverWork) || (replace && !copying))
        return usage();
    try {
        if (!grant.isEmpty()) {
            out << halvenna::schema::grantSql(grant);
            return 0;
        }
        if (!folder.isEmpty()) {
            for (const QString& path : halvenna::schema::createMissingTables(folder))
                out << "-- Created: " << path << '\n';
            return 0;
        }
        // Copying to a folder takes the server's tables as they are; everything else makes them
        // first (copying to the server needs them).
        const bool toServer = !copyFrom.isEmpty();
        if (!copying || toServer) {
            QStringList updated;
            const QStringList created = halvenna::schema::createServerTables(server, &updated);
            for (const QString& table : created)
                out << "-- Created: " << table << '\n';
            for (const QString& table : updated)
                out << "-- Updated: " << table << '\n';
            if (!copying && created.isEmpty() && updated.isEmpty())
                out << "テーブルはすでにあります\n";
            if (!copying)
                return 0;
        }
        const auto copied = halvenna::schema::copyRows(server, toServer ? copyFrom : copyTo, toServer, replace);
        for (const auto& [table, rows] : copied)
            out << "-- Copied: " << table << ' ' << rows << '\n';
        return 0;
    } catch (const halvenna::Error& e) {
        err << e.message() << '\n';
        return 1;
    }
}
