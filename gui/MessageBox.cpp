#include "gui/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QList>
#include <QPushButton>

namespace halvenna {

namespace {

struct BoxButton
{
    MessageBox::Button button;
    QString text;
};

const QList<BoxButton>& okOnly()
{
    static const QList<BoxButton> buttons{{QMessageBox::Ok, QStringLiteral("OK")}};
    return buttons;
}

const QList<BoxButton>& yesNo()
{
    static const QList<BoxButton> buttons{{QMessageBox::Yes, QStringLiteral("はい(&Y)")},
                                          {QMessageBox::No, QStringLiteral("いいえ(&N)")}};
    return buttons;
}

const QList<BoxButton>& okCancel()
{
    static const QList<BoxButton> buttons{{QMessageBox::Ok, QStringLiteral("OK")},
                                          {QMessageBox::Cancel, QStringLiteral("キャンセル")}};
    return buttons;
}

const QList<BoxButton>& saveDiscardCancel()
{
    static const QList<BoxButton> buttons{{QMessageBox::Save, QStringLiteral("保存する(&S)")},
                                          {QMessageBox::Discard, QStringLiteral("保存しない(&N)")},
                                          {QMessageBox::Cancel, QStringLiteral("キャンセル")}};
    return buttons;
}

// The button captions are set explicitly so that they never depend on a translation being found.
MessageBox::Button execBox(const MessageBox::Request& r, QWidget* parent)
{
    QMessageBox box(parent ? parent : QApplication::activeWindow());
    box.setWindowTitle(r.caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(r.text);
    box.setIcon(r.icon);
    for (qsizetype i = 0; i < r.standardButtons.size(); ++i)
        box.addButton(r.standardButtons.at(i))->setText(r.buttons.value(i));
    if (r.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(r.defaultButton);
    if (r.escapeButton != QMessageBox::NoButton)
        box.setEscapeButton(r.escapeButton);
    box.exec();
    const auto clicked = box.standardButton(box.clickedButton());
    return clicked == QMessageBox::NoButton ? r.escapeButton : clicked;
}

MessageBox::Button show(const QString& caption, const QString& text, QMessageBox::Icon icon,
                        const QList<BoxButton>& buttons, MessageBox::Button defaultButton,
                        MessageBox::Button escapeButton, QWidget* parent)
{
    MessageBox::Request r{caption, text, icon, {}, {}, defaultButton, escapeButton};
    for (const BoxButton& b : buttons) {
        r.buttons.append(b.text);
        r.standardButtons.append(b.button);
    }
    return MessageBox::seam().ask(r, parent);
}

} // namespace

Seam<MessageBox::Request, MessageBox::Button>& MessageBox::seam()
{
    static Seam<Request, Button> seam(QStringLiteral("MessageBox"), execBox);
    return seam;
}

QString applicationTitle()
{
    return QStringLiteral("Halvenna");
}

void MessageBox::showError(const QString& text, QWidget* parent)
{
    show(applicationTitle(), text, QMessageBox::Critical, okOnly(), QMessageBox::Ok, QMessageBox::Ok, parent);
}

void MessageBox::showInformation(const QString& text, QWidget* parent)
{
    show(applicationTitle(), text, QMessageBox::Information, okOnly(), QMessageBox::Ok, QMessageBox::Ok, parent);
}

bool MessageBox::confirm(const QString& text, QWidget* parent)
{
    return show(QStringLiteral("警告"), text, QMessageBox::Warning, yesNo(), QMessageBox::Yes, QMessageBox::No,
                parent) == QMessageBox::Yes;
}

bool MessageBox::confirmReplace(const QString& path, QWidget* parent)
{
    return show(QStringLiteral("警告"),
                QStringLiteral("%1 は既に存在します。\n置き換えますか?").arg(QDir::toNativeSeparators(path)),
                QMessageBox::Warning, yesNo(), QMessageBox::No, QMessageBox::No, parent) == QMessageBox::Yes;
}

bool MessageBox::confirmOkCancel(const QString& text, QWidget* parent)
{
    return show(QStringLiteral("確認"), text, QMessageBox::Question, okCancel(), QMessageBox::Ok, QMessageBox::Cancel,
                parent) == QMessageBox::Ok;
}

MessageBox::Button MessageBox::askSave(const QString& text, QWidget* parent)
{
    return show(QStringLiteral("確認"), text, QMessageBox::Question, saveDiscardCancel(), QMessageBox::Save,
                QMessageBox::Cancel, parent);
}

void MessageBox::showApplicationError(const QString& text)
{
    show(QStringLiteral("アプリケーション エラー"), text, QMessageBox::Critical, okOnly(), QMessageBox::Ok,
         QMessageBox::Ok, nullptr);
}

} // namespace halvenna
