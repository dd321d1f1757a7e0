#include "app/Sender.h"

#include "app/Program.h"
#include "app/Top.h"
#include "data/SjisText.h"
#include "gui/DbControls.h"
#include "gui/ErrorReporter.h"
#include "gui/Glyphs.h"
#include "gui/ProgramIcon.h"
#include "gui/TownChooser.h"
#include "roster/postal/PostalCodeLookup.h"
#include "settings/SenderSettings.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

TSenderForm* SenderForm = nullptr;

using halvenna::FieldLineEdit;

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, int left, int top)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->move(left, top);
    l->adjustSize(); // labels size themselves to their text
    return l;
}

FieldLineEdit* edit(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* e = new FieldLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(geometry);
    return e;
}

halvenna::DashShape* dash(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* d = new halvenna::DashShape(parent);
    d->setObjectName(QLatin1String(name));
    d->setGeometry(geometry);
    return d;
}

} // namespace

void halvenna::DashShape::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

TSenderForm::TSenderForm(halvenna::Program& program, QWidget* parent) : QDialog(parent), program_(program)
{
    SenderForm = this;
    setObjectName(QStringLiteral("SenderForm"));
    setWindowTitle(QStringLiteral("差出人データ"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(halvenna::programIcon());
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(368, 304);

    Label1 = label(this, "Label1", QStringLiteral("差出人氏名"), 16, 24);
    Label2 = label(this, "Label2", QStringLiteral("〒"), 16, 48);
    Label3 = label(this, "Label3", QStringLiteral("住所１"), 16, 72);
    Label4 = label(this, "Label4", QStringLiteral("住所２"), 16, 96);
    Label5 = label(this, "Label5", QStringLiteral("電話番号"), 16, 120);
    edSenderName = edit(this, "edSenderName", {88, 24, 121, 20});
    edSenderZip = edit(this, "edSenderZip", {88, 48, 65, 20});
    edSenderAddress1 = edit(this, "edSenderAddress1", {88, 72, 217, 20});
    edSenderAddress2 = edit(this, "edSenderAddress2", {88, 96, 217, 20});
    edSenderTel = edit(this, "edSenderTel", {88, 120, 121, 20});
    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(216, 264, 91, 25);
    btnOk->setIcon(halvenna::glyphs::checkMark());
    Label6 = label(this, "Label6", QStringLiteral("発店コード"), 16, 168);
    Label7 = label(this, "Label7", QStringLiteral("お客様コード"), 16, 192);
    edSenderShopCode1 = edit(this, "edSenderShopCode1", {88, 160, 57, 20});
    edSenderShopCode2 = edit(this, "edSenderShopCode2", {184, 160, 57, 20});
    Shape1 = dash(this, "Shape1", {152, 168, 25, 2});
    edCustomerCode = edit(this, "edCustomerCode", {88, 184, 153, 20});
    btnCancel = new QPushButton(QStringLiteral("キャンセル"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(88, 264, 89, 25);
    btnCancel->setIcon(halvenna::glyphs::cross());
    Label8 = label(this, "Label8", QStringLiteral("口座番号"), 16, 221);
    edAccountNo1 = edit(this, "edAccountNo1", {88, 216, 57, 20});
    edAccountNo2 = edit(this, "edAccountNo2", {176, 216, 25, 20});
    edAccountNo3 = edit(this, "edAccountNo3", {232, 216, 57, 20});
    Shape2 = dash(this, "Shape2", {152, 224, 17, 2});
    Shape3 = dash(this, "Shape3", {208, 224, 17, 2});
    Label9 = label(this, "Label9", QStringLiteral("○○○○－××－△△△△"), 216, 128);
    Label10 = label(this, "Label10", QStringLiteral("○○○－△△△△"), 163, 51);

    // Each label names its box for the keyboard and for assistive technology; the second and third
    // parts of a code have no label of their own.
    Label1->setBuddy(edSenderName);
    Label2->setBuddy(edSenderZip);
    Label3->setBuddy(edSenderAddress1);
    Label4->setBuddy(edSenderAddress2);
    Label5->setBuddy(edSenderTel);
    Label6->setBuddy(edSenderShopCode1);
    Label7->setBuddy(edCustomerCode);
    Label8->setBuddy(edAccountNo1);
    edSenderZip->setAccessibleDescription(Label10->text());
    edSenderTel->setAccessibleDescription(Label9->text());
    edSenderShopCode2->setAccessibleName(QStringLiteral("発店コード 2"));
    edAccountNo2->setAccessibleName(QStringLiteral("口座番号 2"));
    edAccountNo3->setAccessibleName(QStringLiteral("口座番号 3"));

    const QList<QWidget*> order{edSenderName, edSenderZip,       edSenderAddress1,  edSenderAddress2,
                                edSenderTel,  edSenderShopCode1, edSenderShopCode2, edCustomerCode,
                                edAccountNo1, edAccountNo2,      edAccountNo3,      btnOk,
                                btnCancel};
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order.at(i), order.at(i + 1));

    // OK is the default button: Enter in any box presses it. Enter on a focused button presses that
    // button, as Space does (an auto-default button takes the default while it has the focus, and
    // gives it back to OK when the focus returns to a box). Esc and the close box reject.
    btnOk->setDefault(true);
    btnOk->setAutoDefault(true);
    btnCancel->setAutoDefault(true);
    // The error box of a failed save shows while the dialog is open; it closes all the same.
    connect(btnOk, &QPushButton::clicked, this, [this] {
        halvenna::guarded([this] { btnOkClick(); });
        accept();
    });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    edSenderZip->onFocusLost = [this] {
        // Leaving toward キャンセル is no entry: the list of towns would swallow the click.
        if (QApplication::focusWidget() == btnCancel)
            return;
        halvenna::guarded([this] { edSenderZipExit(); });
    };
}

void TSenderForm::edSenderZipExit()
{
    // A code the lookup reads is kept as the waybill's boxes take it: 150-0001.
    const std::optional<QString> written = halvenna::PostalCodes::written(edSenderZip->text());
    if (written && *written != edSenderZip->text()) {
        edSenderZip->setText(*written);
        edSenderZip->setModified(true);
    }
    if (!edSenderAddress1->text().trimmed().isEmpty())
        return;
    if (const std::optional<QString> town =
            halvenna::TownChooser::townOf(program_.postalCodes, edSenderZip->text(), this)) {
        edSenderAddress1->setText(*town);
        edSenderAddress1->setModified(true);
    }
}

TSenderForm::~TSenderForm()
{
    if (SenderForm == this)
        SenderForm = nullptr;
}

FieldLineEdit* TSenderForm::box(const char* key) const
{
    return findChild<FieldLineEdit*>(QStringLiteral("ed") + QLatin1String(key));
}

void TSenderForm::showEvent(QShowEvent* event)
{
    halvenna::guarded([this] { FormShow(); });
    if (!shownBefore_) {
        shownBefore_ = true;
        edSenderName->setFocus();
    }
    QDialog::showEvent(event);
}

void TSenderForm::FormShow()
{
    for (const halvenna::SenderSettingsField& f : halvenna::senderSettingsFields)
        box(f.key)->showText(halvenna::sjis::toUnicode(program_.senderSettings.*f.member));
}

void TSenderForm::btnOkClick()
{
    // Every box is converted before any setting changes, so a refusal leaves the settings whole. A box
    // that still shows its setting keeps the setting's bytes: bytes of the file that are no code page
    // 932 character are shown as some other character, which converted back would replace them.
    QList<QByteArray> values;
    for (const halvenna::SenderSettingsField& f : halvenna::senderSettingsFields) {
        const QByteArray& setting = program_.senderSettings.*f.member;
        const QString text = box(f.key)->text();
        values << (text == halvenna::sjis::toUnicode(setting) ? setting : halvenna::sjis::fromUnicode(text));
    }
    for (qsizetype i = 0; i < values.size(); ++i)
        program_.senderSettings.*halvenna::senderSettingsFields[i].member = values.at(i);
    TopForm->SaveSenderSettings();
}
