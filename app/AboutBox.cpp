#include "app/AboutBox.h"

#include "data/DataModule.h"
#include "gui/ErrorReporter.h"
#include "gui/OpenUrl.h"
#include "gui/ProgramIcon.h"
#include "roster/postal/PostalCodeLookup.h"

#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>

TAboutBoxForm* AboutBoxForm = nullptr;

namespace halvenna {

void ClickableLabel::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        Q_EMIT clicked();
}

void ClickableLabel::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() == Qt::NoModifier &&
        (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        Q_EMIT clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

} // namespace halvenna

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, QPoint topLeft)
{
    auto* l = new QLabel(text, parent);
    if (name)
        l->setObjectName(QLatin1String(name));
    l->move(topLeft);
    l->adjustSize();
    return l;
}

} // namespace

TAboutBoxForm::TAboutBoxForm(QWidget* parent) : QDialog(parent)
{
    AboutBoxForm = this;
    setObjectName(QStringLiteral("AboutBoxForm"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(halvenna::programIcon());
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(273, 195);

    // Raised inner and lowered outer bevel: an etched frame.
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Panel1->setLineWidth(1);
    Panel1->setMidLineWidth(0);
    Panel1->setGeometry(7, 7, 258, 148);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(7, 7, 58, 58);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(halvenna::programPicture());
    ProgramIcon->setAccessibleName(QStringLiteral("Halvenna"));

    ProductName = label(Panel1, "ProductName", QStringLiteral("製品名　Halvenna"), {81, 15});
    Version =
        label(Panel1, "Version", QStringLiteral("バージョン　%1").arg(QStringLiteral(HALVENNA_VERSION)), {81, 37});
    // Which engine keeps the shared tables, and where: a PC on a server says which one.
    const QString tables = DataModule1 ? DataModule1->tablesPlace() : QString();
    TablesPlace = new QLabel(Panel1);
    TablesPlace->setObjectName(QStringLiteral("TablesPlace"));
    // Shown whole: a long folder or server name wraps (a path may break after each separator), and
    // what lies below moves down to make room.
    TablesPlace->setWordWrap(true);
    TablesPlace->setText(
        QString(tables).replace(QRegularExpression(QStringLiteral("([/\\\\.:])")), QStringLiteral("\\1\u200b")));
    const int tablesExtra = qMax(0, TablesPlace->heightForWidth(173) - 16);
    TablesPlace->setGeometry(81, 55, 173, 16 + tablesExtra);
    TablesPlace->setToolTip(tables);
    TablesPlace->setAccessibleName(tables);
    MakerText1 = label(Panel1, "MakerText1", QStringLiteral("Halvenna プロジェクト"), {7, 73});
    MakerText2 = new QLabel(QStringLiteral("有志一同"), Panel1);
    MakerText2->setObjectName(QStringLiteral("MakerText2"));
    MakerText2->setWordWrap(true);
    // At least as wide as laid out, wider if the font needs it for one line of the text.
    const int makerWidth = qMax(47, MakerText2->fontMetrics().horizontalAdvance(MakerText2->text()));
    MakerText2->setGeometry(7, 95, makerWidth, MakerText2->heightForWidth(makerWidth));

    Label1 = new halvenna::ClickableLabel(QStringLiteral("https://halvenna.example.org/"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setCursor(Qt::PointingHandCursor);
    Label1->setFocusPolicy(Qt::TabFocus);
    QFont linkFont = font;
    linkFont.setUnderline(true);
    Label1->setFont(linkFont);
    QPalette linkPalette = Label1->palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label1->setPalette(linkPalette);
    Label1->move(8, 112);
    Label1->adjustSize();

    // Where postal codes are looked up, or that they are not: the one place that says so.
    const QString postal = halvenna::PostalCodeLookup::instance().describe();
    PostalData = new QLabel(Panel1);
    PostalData->setObjectName(QStringLiteral("PostalData"));
    PostalData->setGeometry(8, 128, 244, 16);
    PostalData->setText(PostalData->fontMetrics().elidedText(postal, Qt::ElideMiddle, PostalData->width()));
    PostalData->setToolTip(postal);
    PostalData->setAccessibleName(postal);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(102, 165, 69, 23);
    OKButton->setDefault(true);
    setTabOrder(OKButton, Label1);
    if (tablesExtra > 0) {
        for (QWidget* below : {static_cast<QWidget*>(MakerText1), static_cast<QWidget*>(MakerText2),
                               static_cast<QWidget*>(Label1), static_cast<QWidget*>(PostalData)})
            below->move(below->x(), below->y() + tablesExtra);
        Panel1->resize(Panel1->width(), Panel1->height() + tablesExtra);
        OKButton->move(OKButton->x(), OKButton->y() + tablesExtra);
        setFixedSize(width(), height() + tablesExtra);
    }

    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    halvenna::connectGuarded(Label1, &halvenna::ClickableLabel::clicked, this, [this] { Label1Click(Label1); });
}

TAboutBoxForm::~TAboutBoxForm()
{
    if (AboutBoxForm == this)
        AboutBoxForm = nullptr;
}

void TAboutBoxForm::Label1Click(QObject* sender)
{
    if (auto* link = qobject_cast<QLabel*>(sender))
        halvenna::OpenUrl::open(QUrl(link->text()));
}

void TAboutBoxForm::showEvent(QShowEvent* event)
{
    OKButton->setFocus();
    QDialog::showEvent(event);
}

void TAboutBoxForm::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
