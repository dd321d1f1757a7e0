#pragma once

#include "roster/import/MemberImport.h"

#include <QDialog>
#include <QString>

class QAction;
class QMenuBar;
class QPushButton;

class TDataModule1;

namespace halvenna {
class DbGrid;
class FindBar;
class PostalCodeLookup;
class Table;
} // namespace halvenna

// The roster window: browses, edits, numbers, deletes, clears and imports the members. It keeps
// nothing of its own: the grid and every action work on the data module's member table.
class TMemberMasterForm : public QDialog
{
    Q_OBJECT
public:
    // dataModule: whose member table the window shows and changes (none: an empty window);
    // appDir: the program's folder, where the settings file is; postalCodes: the lookup that fills
    // addresses and takes the postal service's list. The three outlive the window.
    TMemberMasterForm(TDataModule1* dataModule, const QString& appDir, halvenna::PostalCodeLookup& postalCodes,
                      QWidget* parent = nullptr);
    ~TMemberMasterForm() override;

    // The size the controls are placed for; the menu bar comes on top of it.
    static constexpr int clientWidth = 797;
    static constexpr int clientHeight = 511;

    QMenuBar* MainMenu1;
    QAction* N1;
    QAction* N2;
    QAction* N3;
    QAction* N4;
    // データ管理 → バックアップから復元..., 郵便番号データの読込...
    QAction* mnuRestore;
    QAction* mnuPostalData;
    QAction* mnuServerSettings;
    // 検索 → 検索..., 次を検索, 前を検索
    QAction* mnuFind;
    QAction* mnuFindNext;
    QAction* mnuFindPrevious;
    // Everything below the menu bar.
    QWidget* ClientArea;
    halvenna::DbGrid* DBGrid1;
    // Above the grid while searching (Ctrl+F).
    halvenna::FindBar* FindBar1;
    QPushButton* btnMarge;
    QPushButton* btnNewRead;
    QPushButton* btnAppend;
    QPushButton* btnMemberReg;
    QPushButton* btnCancel;
    QPushButton* BitBtn1;

    // How long an import runs before its progress shows, and how many bytes it reads between two
    // looks at the progress dialog (which also keep the window painted).
    int importProgressDelay = 1000;
    qint64 importProgressStep = halvenna::MemberImport::kDefaultProgressStep;

    void btnMargeClick();
    void btnNewReadClick();
    void btnAppendClick();
    void btnMemberRegClick();
    void btnCancelClick();
    void N2Click();
    void N4Click();
    void mnuRestoreClick();
    void mnuPostalDataClick();
    // サーバー設定...: where the shared roster is, written into the settings file.
    void mnuServerSettingsClick();

    // A postal code left in the grid fills an empty address1 with its prefecture, city and town
    // (one of them chosen where the code covers several).
    void fillAddressFromZip();

    // Derives the print fields of the member row being edited: the record rules' own rule, which
    // the data module runs on every post of a member anyway.
    void SplitZipAndTel();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    halvenna::Table& members() const;
    // The folder of the tables (Dostrel), where the safety copies are kept.
    QString tablesDir() const;
    void buildMenu();
    void buildControls();
    void setColumns();
    bool applyDefaultWidths();
    void setTabOrders();
    void moveFocusOn(bool forward);
    void connectHandlers();
    void followClientSize();

    bool shownOnce_ = false;
    bool defaultWidthsApplied_ = false;
    QString lastImportFile_;
    TDataModule1* dm_;
    const QString& appDir_;
    halvenna::PostalCodeLookup& postalCodes_;
};
