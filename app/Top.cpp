#include "app/Top.h"

#include "app/AboutBox.h"
#include "app/Program.h"
#include "gui/ErrorReporter.h"
#include "gui/FormMenu.h"
#include "gui/ProgramIcon.h"
#include "printing/Invoice.h"
#include "roster/MemberMaster.h"
#include "settings/SenderSettings.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TTopForm* TopForm = nullptr;

namespace {

const QColor clMoneyGreen(192, 220, 192);
// Qt knows no caption colours; this is the inactive caption text colour of the standard desktop scheme.
const QColor clInactiveCaptionText(212, 208, 200);

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QRect& geometry)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    // Enter on the focused button presses it, as Space does.
    b->setAutoDefault(true);
    return b;
}

} // namespace

TTopForm::TTopForm(halvenna::Program& program, QWidget* parent) : QMainWindow(parent), program_(program)
{
    TopForm = this;
    setObjectName(QStringLiteral("TopForm"));
    setWindowTitle(QStringLiteral("送り状印刷"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(halvenna::programIcon());
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);

    MainMenu1 = menuBar();
    const QList<QAction*> n =
        halvenna::fillMainMenu(MainMenu1, {{QStringLiteral("ファイル"), {QStringLiteral("終了")}},
                                           {QStringLiteral("バージョン"), {QStringLiteral("バージョン情報")}}});
    N1 = n[0];
    N2 = n[1];
    N3 = n[2];
    N4 = n[3];

    // The client area: everything below the menu bar.
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setAutoFillBackground(true);
    QPalette clientPalette = client->palette();
    clientPalette.setColor(QPalette::Window, clMoneyGreen);
    client->setPalette(clientPalette);
    setCentralWidget(client);

    // The banner follows the window's width through the layout; the buttons keep their places.
    Label1 = new QLabel(QStringLiteral("Halvennaシステム"), client);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setFixedHeight(49);
    Label1->setAutoFillBackground(true);
    QFont bannerFont = font;
    bannerFont.setPixelSize(21);
    bannerFont.setBold(true);
    Label1->setFont(bannerFont);
    QPalette bannerPalette = Label1->palette();
    bannerPalette.setColor(QPalette::Window, clInactiveCaptionText);
    bannerPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label1->setPalette(bannerPalette);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Label1);
    layout->addStretch();

    btnKelvaro = button(client, "btnKelvaro", QStringLiteral("Halvenna"), QRect(80, 72, 177, 49));
    btnMemberReg = button(client, "btnMemberReg", QStringLiteral("名簿登録一覧"), QRect(80, 144, 177, 49));
    setTabOrder(btnKelvaro, btnMemberReg);
    btnKelvaro->setFocus();

    // The window's size is the client area plus the menu bar.
    resize(clientWidth, clientHeight + MainMenu1->sizeHint().height());

    using halvenna::connectGuarded;
    connectGuarded(btnKelvaro, &QPushButton::clicked, this, &TTopForm::btnKelvaroClick);
    connectGuarded(btnMemberReg, &QPushButton::clicked, this, &TTopForm::btnMemberRegClick);
    connectGuarded(N2, &QAction::triggered, this, &TTopForm::N2Click);
    connectGuarded(N4, &QAction::triggered, this, &TTopForm::N4Click);

    halvenna::guarded([this] { FormCreate(); });
}

TTopForm::~TTopForm()
{
    hide();
    halvenna::guarded([this] { FormDestroy(); });
    if (TopForm == this)
        TopForm = nullptr;
}

void TTopForm::btnMemberRegClick()
{
    MemberMasterForm->exec();
}

void TTopForm::btnKelvaroClick()
{
    InvoiceForm->exec();
}

void TTopForm::FormCreate()
{
    program_.setFolder(QCoreApplication::applicationDirPath() + u'/');
    LoadSenderSettings();
}

void TTopForm::FormDestroy()
{
    SaveSenderSettings();
}

void TTopForm::N2Click()
{
    close();
}

void TTopForm::N4Click()
{
    AboutBoxForm->exec();
}

void TTopForm::LoadSenderSettings()
{
    halvenna::loadSenderSettings(program_.senderSettings, halvenna::settingsFilePath(program_.appDir));
}

void TTopForm::SaveSenderSettings()
{
    halvenna::saveSenderSettings(program_.senderSettings, halvenna::settingsFilePath(program_.appDir));
}

void TTopForm::showEvent(QShowEvent* event)
{
    if (!shownOnce_) {
        shownOnce_ = true;
        if (QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QMainWindow::showEvent(event);
}

void TTopForm::closeEvent(QCloseEvent* event)
{
    // Closing the main window, by the menu or the close box, ends the program.
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        QCoreApplication::quit();
}
