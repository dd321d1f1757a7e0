#pragma once

// A print system of the test's own: Debian's cupsd started on a configuration folder, a unix socket,
// logs and a spool in a temporary folder (no network port, no browsing, nothing shared with the
// machine's own CUPS), with PDF queues (the cups-pdf backend) whose files land in that folder too.
// The program reaches it as it reaches any CUPS server: through CUPS_SERVER, which libcups reads
// once, so a suite makes the PrivateCups and calls exportServer() in main() before QApplication,
// then starts the server in initTestCase():
//
//     QVERIFY2(cups.start(), qPrintable(cups.error()));
//     QVERIFY2(cups.addPdfQueue("halvenna-pdf", {.makeDefault = true}), qPrintable(cups.error()));
//     ... print ...
//     const QStringList pdfs = cups.waitForPdfs("halvenna-pdf", 1);
//     QVERIFY2(pdfs.size() == 1, qPrintable(cups.error()));
//
// Needs the packages cups, cups-client and printer-driver-cups-pdf (scripts/deps.sh), and root:
// cups-pdf's backend is root's alone (mode 0700), so only a cupsd running as root can start it.
// cups-pdf reads its settings from /etc/cups and nowhere else; the one file this writes there is
// named after the process and removed again by stop(), or, where the process was killed first, by
// the next start(). cupsd itself ends with the process that started it.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <cerrno>
#include <csignal>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

class PrivateCups
{
public:
    struct PdfQueue
    {
        // The PPD lets a job ask for any sheet size (cups-pdf's own does); false: only its list of
        // named sizes, as many a real printer's driver does.
        bool customSizes = true;
        // The server's default destination, which a new QPrinter starts on.
        bool makeDefault = false;
    };

    PrivateCups()
        : dir_(QStringLiteral("/tmp/halvenna-cups-XXXXXX")), // short: a socket path has room for 107 bytes
          tag_(QStringLiteral("halvenna-test-%1").arg(::getpid())),
          cupsPdfConf_(QStringLiteral("/etc/cups/cups-pdf-%1.conf").arg(tag_))
    {}
    ~PrivateCups() { stop(); }
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    QString socketPath() const { return path(QStringLiteral("cups.sock")); }
    // Where cups-pdf writes each job's file, "job_<id>-<title>.pdf".
    QString outputDir() const { return path(QStringLiteral("out")); }
    // What went wrong last, with the server's own words where it has some.
    const QString& error() const { return error_; }

    // Points this process (and every program it starts) at the private server. Call it before
    // QApplication: libcups reads CUPS_SERVER once.
    void exportServer() const { qputenv("CUPS_SERVER", socketPath().toLocal8Bit()); }

    // Writes the configuration and starts cupsd; true once it answers on its socket.
    bool start()
    {
        if (!dir_.isValid())
            return fail(QStringLiteral("cannot make a temporary folder for cupsd: ") + dir_.errorString());
        if (::geteuid() != 0)
            return fail(QStringLiteral("the private cupsd must run as root: cups-pdf's backend (mode 0700, "
                                       "root's) runs only under a cupsd started by root"));
        const QString cupsd = findProgram(QStringLiteral("cupsd"));
        if (cupsd.isEmpty())
            return fail(QStringLiteral("cupsd is missing (Debian package cups; scripts/deps.sh installs it)"));
        for (const char* tool : {"lpadmin", "lpstat"})
            if (findProgram(QLatin1String(tool)).isEmpty())
                return fail(QStringLiteral("%1 is missing (Debian package cups-client; scripts/deps.sh installs it)")
                                .arg(QLatin1String(tool)));
        if (!QFileInfo::exists(QStringLiteral("/usr/lib/cups/backend/cups-pdf")) ||
            !QFileInfo::exists(QString::fromLatin1(cupsPdfPpd)))
            return fail(QStringLiteral("cups-pdf is missing (Debian package printer-driver-cups-pdf; "
                                       "scripts/deps.sh installs it)"));

        // The filters run as the user lp: they must pass through the folder to the spool and the PPDs.
        ::chmod(QFile::encodeName(dir_.path()).constData(), 0711);
        for (const char* sub : {"conf", "spool", "spool/tmp", "cache", "state", "log", "out", "pdf-spool"})
            if (!QDir().mkpath(path(QLatin1String(sub))))
                return fail(QStringLiteral("cannot make %1").arg(path(QLatin1String(sub))));
        const QString files =
            QStringLiteral("ServerRoot %1\n"
                           "RequestRoot %2\n"
                           "TempDir %2/tmp\n"
                           "CacheDir %3\n"
                           "StateDir %4\n"
                           "AccessLog %5/access_log\n"
                           "ErrorLog %5/error_log\n"
                           "PageLog %5/page_log\n"
                           "Printcap %6\n")
                .arg(path(QStringLiteral("conf")), path(QStringLiteral("spool")), path(QStringLiteral("cache")),
                     path(QStringLiteral("state")), path(QStringLiteral("log")), path(QStringLiteral("printcap")));
        // Only the socket: no port, no browsing, no web pages. Anyone who can reach the socket may do
        // anything, which is only this test (the folder is not listable by others).
        const QString conf = QStringLiteral("Listen %1\n"
                                            "Browsing No\n"
                                            "BrowseLocalProtocols none\n"
                                            "DefaultAuthType None\n"
                                            "WebInterface No\n"
                                            "LogLevel debug\n"
                                            "MaxLogSize 0\n"
                                            "PreserveJobHistory Yes\n"
                                            "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                            "<Policy default>\n"
                                            "  JobPrivateAccess all\n  JobPrivateValues none\n"
                                            "  SubscriptionPrivateAccess all\n  SubscriptionPrivateValues none\n"
                                            "  <Limit All>\n    Order deny,allow\n  </Limit>\n"
                                            "</Policy>\n")
                                 .arg(socketPath());
        // Each job's file is named "job_<id>-<title>.pdf" (Label 1), in our own folder; cups-pdf's
        // log and its working files stay there too.
        const QString pdfConf = QStringLiteral("Out %1\nSpool %2\nLog %3\nLogType 7\nLabel 1\nTitlePref 1\nGrp lp\n")
                                    .arg(outputDir(), path(QStringLiteral("pdf-spool")), path(QStringLiteral("log")));
        removeFilesOfEndedRuns();
        if (!write(path(QStringLiteral("conf/cups-files.conf")), files) ||
            !write(path(QStringLiteral("conf/cupsd.conf")), conf) || !write(cupsPdfConf_, pdfConf))
            return false;
        wroteCupsPdfConf_ = true;

        cupsd_.setProgram(cupsd);
        cupsd_.setArguments({QStringLiteral("-f"), QStringLiteral("-c"), path(QStringLiteral("conf/cupsd.conf")),
                             QStringLiteral("-s"), path(QStringLiteral("conf/cups-files.conf"))});
        cupsd_.setProcessChannelMode(QProcess::MergedChannels);
        // A test killed on its way (a timeout, a crash) takes its server with it.
        cupsd_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        cupsd_.start();
        if (!cupsd_.waitForStarted(10000))
            return fail(QStringLiteral("cannot start %1: %2").arg(cupsd, cupsd_.errorString()));
        // Started, it answers once it has read its configuration and opened the socket.
        const QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired()) {
            if (cupsd_.state() != QProcess::Running)
                return fail(QStringLiteral("cupsd ended at start (exit code %1): %2\n%3")
                                .arg(cupsd_.exitCode())
                                .arg(QString::fromLocal8Bit(cupsd_.readAll()), logTail()));
            QString out;
            if (QFileInfo::exists(socketPath()) && run(QStringLiteral("lpstat"), {QStringLiteral("-r")}, &out) &&
                out.contains(QStringLiteral("scheduler is running")))
                return true;
            QTest::qWait(100);
        }
        return fail(QStringLiteral("cupsd does not answer on %1 after 60 s\n%2").arg(socketPath(), logTail()));
    }

    // Adds an enabled queue printing to PDF files in outputDir(), with cups-pdf's PPD (copies made by
    // CUPS's filters, since a PDF writer makes none itself) or, without custom sizes, the same PPD
    // stripped of them. The job's PDF becomes PostScript through pdftocairo: ghostscript, the default
    // here, turns the embedded fonts into Type 3 glyphs whose text no longer reads back (the package's
    // own notes name this switch).
    bool addPdfQueue(const QString& name, const PdfQueue& queue)
    {
        QFile source(QString::fromLatin1(cupsPdfPpd));
        if (!source.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(source.fileName(), source.errorString()));
        QByteArray ppd;
        bool inCustomCode = false;
        for (const QByteArray& line : source.readAll().split('\n')) {
            if (!queue.customSizes) {
                // "*CustomPageSize True:" runs over two lines, up to the closing quote.
                if (inCustomCode) {
                    inCustomCode = !line.contains('"');
                    continue;
                }
                if (line.startsWith("*CustomPageSize")) {
                    inCustomCode = line.count('"') == 1;
                    continue;
                }
                if (line.startsWith("*ParamCustomPageSize") || line.startsWith("*MaxMedia") ||
                    line.contains("*CustomPageSize"))
                    continue;
                if (line.startsWith("*VariablePaperSize")) {
                    ppd += "*VariablePaperSize: False\n";
                    continue;
                }
            }
            ppd += line + '\n';
            if (line.startsWith("*TTRasterizer"))
                ppd += "*cupsManualCopies: True\n";
        }
        const QString ppdFile = path(QStringLiteral("%1.ppd").arg(name));
        if (!write(ppdFile, QString::fromLatin1(ppd)))
            return false;
        QString out;
        if (!run(QStringLiteral("lpadmin"),
                 {QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"),
                  QStringLiteral("cups-pdf:/") + tag_, QStringLiteral("-P"), ppdFile, QStringLiteral("-o"),
                  QStringLiteral("printer-error-policy=abort-job"), QStringLiteral("-o"),
                  QStringLiteral("pdftops-renderer-default=pdftocairo")},
                 &out))
            return fail(QStringLiteral("lpadmin cannot add the queue %1: %2\n%3").arg(name, out, logTail()));
        if (queue.makeDefault && !run(QStringLiteral("lpadmin"), {QStringLiteral("-d"), name}, &out))
            return fail(QStringLiteral("lpadmin cannot make %1 the default: %2").arg(name, out));
        if (!run(QStringLiteral("lpstat"), {QStringLiteral("-p"), name}, &out) || !out.contains(QStringLiteral("idle")))
            return fail(QStringLiteral("the queue %1 is not ready: %2\n%3").arg(name, out, logTail()));
        return true;
    }

    // The ids of the queue's jobs: those finished (done, cancelled or aborted) or all of them.
    QList<int> jobIds(const QString& queue, bool finishedOnly = false)
    {
        QString out;
        if (!run(QStringLiteral("lpstat"),
                 {QStringLiteral("-W"), finishedOnly ? QStringLiteral("completed") : QStringLiteral("all"),
                  QStringLiteral("-o"), queue},
                 &out)) {
            fail(QStringLiteral("lpstat cannot list the jobs of %1: %2").arg(queue, out));
            return {};
        }
        QList<int> ids;
        const QRegularExpression job(QStringLiteral("^%1-(\\d+)\\s").arg(QRegularExpression::escape(queue)),
                                     QRegularExpression::MultilineOption);
        for (auto it = job.globalMatch(out); it.hasNext();)
            ids << it.next().captured(1).toInt();
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    // Waits until `count` more jobs of the queue than were taken before have finished and returns
    // their PDF files, in the order the jobs were sent; empty (and error()) when a job ends without
    // its file or the jobs do not finish within two minutes, a bound for a stuck server only.
    QStringList waitForPdfs(const QString& queue, int count)
    {
        QList<int>& taken = taken_[queue];
        const QDeadlineTimer deadline(120000);
        QList<int> fresh;
        for (;;) {
            fresh.clear();
            for (int id : jobIds(queue, true))
                if (!taken.contains(id))
                    fresh << id;
            if (fresh.size() >= count)
                break;
            if (deadline.hasExpired()) {
                QString state;
                run(QStringLiteral("lpstat"), {QStringLiteral("-p"), queue, QStringLiteral("-o"), queue}, &state);
                fail(QStringLiteral("%1 of %2 jobs finished on %3 after 120 s: %4\n%5")
                         .arg(fresh.size())
                         .arg(count)
                         .arg(queue, state, logTail()));
                return {};
            }
            QTest::qWait(100);
        }
        QStringList pdfs;
        for (int id : fresh) {
            taken << id;
            const QStringList files =
                QDir(outputDir()).entryList({QStringLiteral("job_%1-*.pdf").arg(id)}, QDir::Files, QDir::Name);
            if (files.size() != 1) {
                fail(QStringLiteral("job %1 on %2 finished without its PDF in %3\n%4")
                         .arg(id)
                         .arg(queue, outputDir(), logTail()));
                return {};
            }
            pdfs << QDir(outputDir()).filePath(files.first());
        }
        return pdfs;
    }

    // Stops cupsd and removes the file under /etc/cups; the temporary folder goes with the object.
    void stop()
    {
        if (cupsd_.state() != QProcess::NotRunning) {
            cupsd_.terminate();
            if (!cupsd_.waitForFinished(15000)) {
                cupsd_.kill();
                cupsd_.waitForFinished(5000);
            }
        }
        if (wroteCupsPdfConf_) {
            QFile::remove(cupsPdfConf_);
            wroteCupsPdfConf_ = false;
        }
    }

    // The end of the server's and cups-pdf's logs, for a failure message.
    QString logTail() const
    {
        QString tail;
        for (const QString& log : QDir(path(QStringLiteral("log"))).entryList({QStringLiteral("*_log")}, QDir::Files)) {
            QFile f(path(QStringLiteral("log/") + log));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            QStringList lines = QString::fromLocal8Bit(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
            if (lines.size() > 15)
                lines = lines.mid(lines.size() - 15);
            tail += QStringLiteral("--- %1:\n%2\n").arg(log, lines.join(u'\n'));
        }
        return tail;
    }

private:
    static constexpr const char* cupsPdfPpd = "/usr/share/ppd/cups-pdf/CUPS-PDF_noopt.ppd";

    QString path(const QString& name) const { return dir_.filePath(name); }

    bool fail(const QString& message)
    {
        error_ = message;
        return false;
    }

    // cups-pdf's settings left under /etc/cups by a test process that was killed before it could
    // remove them: named after that process, which is gone.
    static void removeFilesOfEndedRuns()
    {
        const QDir etc(QStringLiteral("/etc/cups"));
        const QRegularExpression ours(QStringLiteral("^cups-pdf-halvenna-test-(\\d+)\\.conf$"));
        for (const QString& name : etc.entryList({QStringLiteral("cups-pdf-halvenna-test-*.conf")}, QDir::Files)) {
            const QRegularExpressionMatch m = ours.match(name);
            if (m.hasMatch() && ::kill(pid_t(m.captured(1).toLongLong()), 0) != 0 && errno == ESRCH)
                QFile::remove(etc.filePath(name));
        }
    }

    static QString findProgram(const QString& name)
    {
        const QString found = QStandardPaths::findExecutable(name);
        return !found.isEmpty()
                   ? found
                   : QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    }

    bool write(const QString& file, const QString& text)
    {
        QSaveFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0 || !f.commit())
            return fail(QStringLiteral("cannot write %1: %2").arg(file, f.errorString()));
        return true;
    }

    // Runs a CUPS client against the private server; its output (both channels) in *out.
    bool run(const QString& tool, const QStringList& args, QString* out) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CUPS_SERVER"), socketPath());
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(findProgram(tool), args);
        const bool finished = p.waitForFinished(60000);
        *out = QString::fromLocal8Bit(p.readAll());
        return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QTemporaryDir dir_;
    QString tag_;         // cups-pdf's settings are found by the device's name: cups-pdf:/<tag>
    QString cupsPdfConf_; // /etc/cups/cups-pdf-<tag>.conf
    bool wroteCupsPdfConf_ = false;
    QProcess cupsd_;
    QMap<QString, QList<int>> taken_; // jobs whose PDFs waitForPdfs has handed out, by queue
    QString error_;
};
