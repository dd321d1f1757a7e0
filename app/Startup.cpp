#include "app/Startup.h"

#include "app/AboutBox.h"
#include "app/Program.h"
#include "app/Sender.h"
#include "app/Top.h"
#include "data/Error.h"
#include "gui/Accessibility.h"
#include "gui/ErrorReporter.h"
#include "gui/MessageBox.h"
#include "gui/ProgramIcon.h"
#include "printing/Invoice.h"
#include "roster/MemberMaster.h"
#include "roster/model/DataModule.h"
#include "settings/DatabaseServer.h"
#include "settings/SenderSettings.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>

#include <vector>

namespace halvenna {

namespace {

// The objects the application owns, in the order of their creation; destroyed last-created first.
class OwnedObjects
{
public:
    OwnedObjects() = default;
    OwnedObjects(const OwnedObjects&) = delete;
    OwnedObjects& operator=(const OwnedObjects&) = delete;
    ~OwnedObjects() { destroyAll(); }

    void add(std::function<void()> destroy) { destroyers_.push_back(std::move(destroy)); }
    void destroyAll()
    {
        while (!destroyers_.empty()) {
            auto destroy = std::move(destroyers_.back());
            destroyers_.pop_back();
            destroy();
        }
    }

private:
    std::vector<std::function<void()>> destroyers_;
};

void clearReferences(Program& program)
{
    program.dataModule = nullptr;
    TopForm = nullptr;
    DataModule1 = nullptr;
    MemberMasterForm = nullptr;
    InvoiceForm = nullptr;
    SenderForm = nullptr;
    AboutBoxForm = nullptr;
}

void createObjects(const StartupFactories& make, OwnedObjects& owned, Program& program)
{
    TopForm = make.topForm(program);
    owned.add([] {
        delete TopForm;
        TopForm = nullptr;
    });

    DataModule1 = make.dataModule(program.appDir + QStringLiteral("Dostrel"));
    program.dataModule = DataModule1;
    owned.add([&program] {
        guarded([] { DataModule1->DataModuleDestroy(); });
        delete DataModule1;
        DataModule1 = nullptr;
        program.dataModule = nullptr;
    });
    DataModule1->reportError = [](const std::exception& e) { reportError(e); };
    DataModule1->setServer(databaseServer(settingsFilePath(program.appDir)));
    // A setting refused connects to nothing: no table opens, not even the folder's, which would
    // show another roster as if it were the shared one.
    guarded([&program] {
        checkDatabaseServer(DataModule1->server(), settingsFilePath(program.appDir));
        DataModule1->DataModuleCreate();
    });

    MemberMasterForm = make.memberMasterForm(program);
    owned.add([] {
        delete MemberMasterForm;
        MemberMasterForm = nullptr;
    });

    InvoiceForm = make.invoiceForm(program);
    owned.add([] {
        delete InvoiceForm;
        InvoiceForm = nullptr;
    });

    SenderForm = make.senderForm(program);
    owned.add([] {
        delete SenderForm;
        SenderForm = nullptr;
    });

    AboutBoxForm = make.aboutBoxForm(program);
    owned.add([] {
        delete AboutBoxForm;
        AboutBoxForm = nullptr;
    });
}

} // namespace

StartupFactories defaultFactories()
{
    StartupFactories make;
    // Each handle is set as soon as its object exists, so that whoever made it can reach it by name.
    make.topForm = [](Program& p) { return new TTopForm(p); };
    make.dataModule = [](const QString& databaseDir) { return DataModule1 = new TDataModule1(databaseDir); };
    make.memberMasterForm = [](Program& p) {
        return MemberMasterForm = new TMemberMasterForm(p.dataModule, p.appDir, p.postalCodes);
    };
    make.invoiceForm = [](Program& p) {
        return InvoiceForm = new TInvoiceForm(p.dataModule, p.senderSettings, p.appDir, p.fixedDates);
    };
    make.senderForm = [](Program& p) { return new TSenderForm(p); };
    make.aboutBoxForm = [](Program& p) { return new TAboutBoxForm(p); };
    return make;
}

void installJapaneseFont()
{
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
}

bool installQtTranslations(QApplication& app)
{
    auto* translator = new QTranslator(&app);
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_ja"), dir)) {
        qWarning("qtbase_ja.qm not found in %s: Qt's own dialogs stay in English", qUtf8Printable(dir));
        delete translator;
        return false;
    }
    app.installTranslator(translator);
    return true;
}

void setUpApplication(QApplication& app)
{
    // The application name (not the display name, which Qt would append to every caption) makes
    // the task-bar entry read "Halvenna".
    QApplication::setApplicationName(applicationTitle());
    QApplication::setApplicationVersion(QStringLiteral(HALVENNA_VERSION));
    QApplication::setWindowIcon(programIcon());
    installJapaneseFont();
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    QApplication::setFont(font);
    installQtTranslations(app);
    installAccessibleNames();
    // Errors the core meets where it cannot throw (resuming bound controls) reach the same box.
    setUnthrowableHandler([](const std::exception& e) { reportError(e); });
}

int runApplication(QApplication& app, const StartupFactories& factories)
{
    return runApplication(app, factories, Program::shell());
}

int runApplication(QApplication& app, const StartupFactories& factories, Program& program)
{
    QApplication::setQuitOnLastWindowClosed(false);
    OwnedObjects owned;
    QString failure;
    try {
        createObjects(factories, owned, program);
    } catch (const std::exception& e) {
        failure = applicationErrorText(e);
    } catch (...) {
        failure = unknownApplicationErrorText();
    }
    if (!failure.isNull()) {
        MessageBox::showApplicationError(failure);
        owned.destroyAll();
        clearReferences(program);
        return 1;
    }

    TopForm->show();
    app.exec();
    owned.destroyAll();
    return 0;
}

int runKelvaro(int& argc, char** argv)
{
    QApplication app(argc, argv);
    setUpApplication(app);
    return runApplication(app);
}

} // namespace halvenna
