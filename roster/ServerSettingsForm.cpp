#include "roster/ServerSettingsForm.h"

#include "data/sql/PostgresConnection.h"
#include "gui/ErrorReporter.h"
#include "gui/MessageBox.h"
#include "gui/OpenUrl.h"
#include "roster/model/Schema.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace halvenna {

namespace {

QLineEdit* edit(QWidget* parent, const char* name, const QString& accessibleName, const QString& text)
{
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QLatin1String(name));
    e->setAccessibleName(accessibleName);
    return e;
}

} // namespace

ServerSettingsForm::ServerSettingsForm(const ServerAddress& address, QString settingsPath, QWidget* parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath))
{
    setObjectName(QStringLiteral("ServerSettingsForm"));
    setWindowTitle(QStringLiteral("サーバー設定"));
    edHost = edit(this, "edHost", QStringLiteral("ホスト"), address.host);
    edPort = edit(this, "edPort", QStringLiteral("ポート"), address.port);
    edPort->setValidator(new QIntValidator(1, 65535, edPort));
    edPort->setPlaceholderText(QStringLiteral("5432"));
    edDatabase = edit(this, "edDatabase", QStringLiteral("データベース"), address.database);
    edUser = edit(this, "edUser", QStringLiteral("ユーザー"), address.user);

    auto* form = new QFormLayout;
    const auto row = [&](const QString& caption, QLineEdit* e) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(e);
        form->addRow(label, e);
    };
    row(QStringLiteral("ホスト(&H):"), edHost);
    row(QStringLiteral("ポート(&P):"), edPort);
    row(QStringLiteral("データベース(&D):"), edDatabase);
    row(QStringLiteral("ユーザー(&U):"), edUser);

    auto* note = new QLabel(QStringLiteral("パスワードはここには入力しません。~/.pgpass (ホスト:ポート:データベース:"
                                           "ユーザー:パスワード の1行、権限 0600) に書いてください。"
                                           "ホストを空にすると、このPCのフォルダーの名簿を使います。"
                                           "保存した設定は、プログラムを起動し直すと使われます。"),
                            this);
    note->setWordWrap(true);
    note->setObjectName(QStringLiteral("lblNote"));

    btnTest = new QPushButton(QStringLiteral("接続テスト(&T)"), this);
    btnTest->setObjectName(QStringLiteral("btnTest"));
    btnFolder = new QPushButton(QStringLiteral("設定ファイルのフォルダーを開く(&F)"), this);
    btnFolder->setObjectName(QStringLiteral("btnFolder"));
    btnFolder->setAccessibleDescription(QDir::toNativeSeparators(QFileInfo(settingsPath_).absolutePath()));
    auto* tools = new QHBoxLayout;
    tools->addWidget(btnTest);
    tools->addWidget(btnFolder);
    tools->addStretch();

    auto* buttons = new QDialogButtonBox(this);
    btnOK = buttons->addButton(QStringLiteral("保存(&S)"), QDialogButtonBox::AcceptRole);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connectGuarded(btnTest, &QPushButton::clicked, this, &ServerSettingsForm::btnTestClick);
    connectGuarded(btnFolder, &QPushButton::clicked, this, &ServerSettingsForm::btnFolderClick);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addLayout(tools);
    layout->addWidget(buttons);
    resize(420, sizeHint().height());
    edHost->setFocus();
}

ServerAddress ServerSettingsForm::address() const
{
    return {edHost->text().trimmed(), edPort->text().trimmed(), edDatabase->text().trimmed(), edUser->text().trimmed()};
}

void ServerSettingsForm::btnTestClick()
{
    const QString conninfo = serverConninfo(address());
    if (conninfo.isEmpty()) {
        MessageBox::showError(QStringLiteral("ホストかデータベースを入力してください"), this);
        return;
    }
    const QString label = QStringLiteral("接続テスト");
    const auto db = sql::PostgresConnection::open(conninfo, label);
    QStringList missing;
    for (const QString& table : schema::sharedTableNames())
        if (db->columns(table).columns.isEmpty())
            missing << table;
    const QString where = sql::PostgresConnection::describe(conninfo);
    if (!missing.isEmpty())
        throw Error(QStringLiteral("%1: サーバー %2 に接続できましたが、テーブル %3 がありません "
                                   "(halvenna_mktables --server で作ってください)")
                        .arg(label, where, missing.join(QStringLiteral(", "))));
    MessageBox::showInformation(QStringLiteral("サーバー %1 に接続できました.名簿のテーブルがあります.").arg(where),
                                this);
}

void ServerSettingsForm::btnFolderClick()
{
    const QString folder = QFileInfo(settingsPath_).absolutePath();
    if (!OpenUrl::open(QUrl::fromLocalFile(folder)))
        throw Error(QStringLiteral("フォルダー %1 を開けません").arg(QDir::toNativeSeparators(folder)));
}

Seam<ServerSettingsForm::Request, std::optional<ServerAddress>>& ServerSettingsForm::seam()
{
    static Seam<Request, std::optional<ServerAddress>> seam(
        QStringLiteral("ServerSettings"), [](const Request& r, QWidget* parent) -> std::optional<ServerAddress> {
            ServerSettingsForm dialog(r.address, r.settingsPath, parent);
            if (dialog.exec() != QDialog::Accepted)
                return std::nullopt;
            return dialog.address();
        });
    return seam;
}

} // namespace halvenna
