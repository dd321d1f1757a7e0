// Lays out the four empty tables in the folder given, keeping any table file that already exists.
#include "data/Error.h"
#include "data/Schema.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (app.arguments().size() != 2) {
        err << "usage: halvenna_mktables <folder>\n";
        return 2;
    }
    try {
        const QStringList created = halvenna::schema::createMissingTables(app.arguments().at(1));
        QTextStream out(stdout);
        for (const QString& path : created)
            out << "-- Created: " << path << '\n';
        return 0;
    } catch (const halvenna::Error& e) {
        err << e.message() << '\n';
        return 1;
    }
}
