#include "app/AboutBox.h"

#include "app/Program.h"
#include "gui/ErrorReporter.h"
#include "gui/OpenUrl.h"
#include "gui/ProgramIcon.h"
#include "roster/model/DataModule.h"
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

TAboutBoxForm::TAboutBoxForm(halvenna::Program& program, QWidget* parent) : QDialog(parent), program_(program)
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
    Panel1->setAccessibleName(QStringLiteral("製品の情報"));

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(7, 7, 58, 58);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(halvenna::programPicture());
    ProgramIcon->setAccessibleName(QStringLiteral("Halvenna"));

    ProductName = label(Panel1, "ProductName", QStringLiteral("製品名　Halvenna"), {81, 15});
    Version =
        label(Panel1, "Version", QStringLiteral("バージョン　%1").arg(QStringLiteral(HALVENNA_VERSION)), {81, 37});
    // Which engine keeps the shared tables, and where: a PC on a server says which one. Its text,
    // like the postal data's, is put in each time the box opens (fillLines).
    TablesPlace = new QLabel(Panel1);
    TablesPlace->setObjectName(QStringLiteral("TablesPlace"));
    TablesPlace->setWordWrap(true);
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
    PostalData = new QLabel(Panel1);
    PostalData->setObjectName(QStringLiteral("PostalData"));
    PostalData->setWordWrap(true);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(102, 165, 69, 23);
    OKButton->setDefault(true);
    setTabOrder(OKButton, Label1);

    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    halvenna::connectGuarded(Label1, &halvenna::ClickableLabel::clicked, this, [this] { Label1Click(Label1); });
    // The postal data is not read at start: its line is put in when the box opens.
    fillLines(QString());
}

void TAboutBoxForm::fillLines(const QString& postalData)
{
    // Each line whole, broken over as many lines as it needs (a path may break after any "/");
    // what comes below moves down, and the box grows with it.
    const auto show = [](QLabel* line, const QString& text, int left, int top, int width) {
        QString shown = text;
        shown.replace(QRegularExpression(QStringLiteral("([/\\\\.:])")), QStringLiteral("\\1\u200b"));
        line->setText(shown);
        line->setToolTip(text);
        line->setAccessibleName(text);
        line->setGeometry(left, top, width, qMax(16, line->heightForWidth(width)));
    };
    show(TablesPlace, program_.dataModule ? program_.dataModule->tablesPlace() : QString(), 81, 55, 173);
    const int down = qMax(0, TablesPlace->geometry().bottom() + 2 - 73);
    MakerText1->move(7, 73 + down);
    MakerText2->move(7, 95 + down);
    Label1->move(8, 112 + down);
    show(PostalData, postalData, 8, 128 + down, 244);
    Panel1->resize(Panel1->width(), qMax(148, PostalData->geometry().bottom() + 5));
    OKButton->move(OKButton->x(), Panel1->geometry().bottom() + 11);
    setFixedSize(273, OKButton->geometry().bottom() + 8);
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

void TAboutBoxForm::setVisible(bool visible)
{
    // Said as things are now (a list read or a file replaced since the last opening shows), and
    // laid out before the box is placed in the middle of the screen.
    if (visible && !isVisible())
        halvenna::guarded([this] { fillLines(program_.postalCodes.describe()); });
    QDialog::setVisible(visible);
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
