// Lays out the empty tables: the four table files in a folder, or the shared tables on a PostgreSQL
// server, and copies the shared tables' rows between a folder and a server.
#include "data/Error.h"
#include "data/Schema.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

const char* const kUsage = "usage: halvenna_mktables <folder>\n"
                           "       halvenna_mktables --server <conninfo> [--copy-from <folder> | --copy-to <folder>]"
                           " [--replace]\n";

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
    bool replace = false;
    QString folder;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        QString* value = arg == u"--server"      ? &server
                         : arg == u"--copy-from" ? &copyFrom
                         : arg == u"--copy-to"   ? &copyTo
                                                 : nullptr;
        if (value) {
            if (args.isEmpty() || !value->isEmpty()) {
                err << kUsage;
                return 2;
            }
            *value = args.takeFirst();
        } else if (arg == u"--replace") {
            replace = true;
        } else if (!arg.startsWith(u"--") && folder.isEmpty()) {
            folder = arg;
        } else {
            err << kUsage;
            return 2;
        }
    }
    const bool serverWork = !server.isEmpty();
    if (serverWork == !folder.isEmpty() || (!copyFrom.isEmpty() && !copyTo.isEmpty()) ||
        (!serverWork && (replace || !copyFrom.isEmpty() || !copyTo.isEmpty())) ||
        server.trimmed().isEmpty() != !serverWork) {
        err << kUsage;
        return 2;
    }
    try {
        if (!serverWork) {
            for (const QString& path : halvenna::schema::createMissingTables(folder))
                out << "-- Created: " << path << '\n';
            return 0;
        }
        if (copyTo.isEmpty())
            for (const QString& table : halvenna::schema::createServerTables(server))
                out << "-- Created: " << table << '\n';
        if (!copyFrom.isEmpty() || !copyTo.isEmpty()) {
            const bool toServer = !copyFrom.isEmpty();
            const auto copied = halvenna::schema::copyRows(server, toServer ? copyFrom : copyTo, toServer, replace);
            for (const auto& [table, rows] : copied)
                out << "-- Copied: " << table << ' ' << rows << '\n';
        }
        return 0;
    } catch (const halvenna::Error& e) {
        err << e.message() << '\n';
        return 1;
    }
}
