#pragma once

#include "report/ReportDocument.h"
#include "settings/FormFitting.h"

#include <QDialog>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QScrollArea>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace halvenna {

struct BackgroundPlacement;

// The settings file's record of a scan's placement and the report's own, field for field.
BackgroundPlacement placementOf(const FormBackground& background);
FormBackground backgroundOf(const BackgroundPlacement& placement);

// One sheet of a report as the preview shows it: drawn when shown, at the zoom chosen, with the
// form's outline under the data. Only the sheet on screen is held as an image.
class PreviewPage : public QWidget
{
    Q_OBJECT
public:
    PreviewPage(const ReportDocument& document, QWidget* parent = nullptr);

    void setPage(int page);
    void setZoom(double zoom); // 1 = actual size on a 96 dpi screen
    void setOutline(bool outline);
    int page() const { return page_; }
    double zoom() const { return zoom_; }
    // The sheet as last drawn, for the page on screen.
    const QImage& image() const { return image_; }

    QSize sizeHint() const override;

    // The scan of the blank form, drawn under the data at true scale as placed; a null image: none.
    // It is scaled once per zoom, so that paging costs no more than without it.
    void setBackground(const QImage& image, const FormBackground& placement);
    bool hasBackground() const { return !background_.isNull(); }
    const FormBackground& placement() const { return placement_; }
    // The same scan placed anew.
    void setPlacement(const FormBackground& placement);
    // Picking points of the sheet: a click gives pointPicked instead of selecting or moving.
    void setPicking(bool on);

    // Layout mode: every text's box is shown, one is selected, and the mouse moves it (drag inside)
    // or resizes it (drag an edge). The boxes are drawn over the sheet, never into it.
    void setLayoutMode(bool on);
    bool layoutMode() const { return layoutMode_; }
    void setSelected(int item);
    int selected() const { return selected_; }
    // The sheet changed under the same page (an item moved): drawn again when next shown.
    void refresh();
    // Where a point of the sheet (mm) is on the widget, and back.
    QPointF toWidget(QPointF mm) const;
    QPointF toSheet(QPointF widget) const;

Q_SIGNALS:
    void selectedChanged(int item);
    void pointPicked(QPointF mm);
    // While a drag goes on: the box the item would take.
    void boxDragging(int item, const QRectF& box);
    // A drag ended with the item in another box than it started in.
    void boxDragged(int item, const QRectF& from, const QRectF& to);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Which edges of the selected box lie under a point: a mask of Qt::Edge.
    Qt::Edges edgesAt(QPointF widget) const;
    int itemAt(QPointF widget) const;
    QSize sheetPixels() const;
    void render();

    const ReportDocument& document_;
    int page_ = 0;
    double zoom_ = 1;
    bool outline_ = true;
    QImage image_;
    bool stale_ = true;
    QImage background_;
    FormBackground placement_;
    QImage backgroundSheet_; // a blank sheet with the scan on it, at the zoom shown
    bool layoutMode_ = false;
    bool picking_ = false;
    int selected_ = -1;
    // The drag under way: the edges held (none: the whole box), where it started and the box then.
    bool dragging_ = false;
    Qt::Edges dragEdges_;
    QPointF dragStart_;
    QRectF dragFrom_;
    QRectF dragBox_;
};

// "Report Preview": the report's sheets one at a time, with page navigation (first, prior, next,
// last, a page number), zoom, the form's outline, and printing. Keys: Page Down / Page Up next and
// prior, Ctrl+Home / Ctrl+End first and last (Home / End on the sheet), Ctrl++ / Ctrl+- zoom, Esc closes.
//
// 配置調整 (Ctrl+L) lays the form out by hand: an item chosen by a click or from the 項目 list is
// moved with the mouse or the arrow keys (0.1 mm, with Shift 1 mm) and resized by dragging an edge
// or with Ctrl and the arrow keys; Ctrl+Z undoes. 保存 writes the boxes into the template file,
// 初期値に戻す puts back the template shipped with the program, on which the preview then works.
class ReportPreview : public QDialog
{
    Q_OBJECT
public:
    // The preview shows its own copy of the run, so that a layout tried out here changes no other.
    ReportPreview(const ReportDocument& document, QWidget* parent = nullptr);

    // Printing from the preview, of the run as shown; the caller provides it so that it goes
    // through its seams.
    std::function<void(QWidget* parent, const ReportDocument& shown)> print;

    const ReportDocument& document() const { return document_; }
    // Lays the scan of the blank form under the sheets. A missing or unreadable image is one error
    // box, and the preview shows the form without it; false then.
    bool setBackground(const FormBackground& background);
    // Where a placement made by two points (背景の位置合わせ) is kept; the caller provides it.
    std::function<void(const FormBackground& placed)> backgroundPlaced;
    // 背景の位置合わせ: the next two clicks on the sheet mark two points of the form in the scan,
    // whose true places the user then types.
    void setPlacing(bool on);

    int currentPage() const { return view_->page(); } // from 0
    void gotoPage(int page);
    void first() { gotoPage(0); }
    void prior() { gotoPage(currentPage() - 1); }
    void next() { gotoPage(currentPage() + 1); }
    void last();
    void zoomBy(int steps);

    // Layout mode and its steps, as the keys and buttons do them.
    void setLayoutMode(bool on);
    void selectItem(int item);
    // Moves the selected item by (dx, dy) mm, or resizes it by as much; kept on the sheet.
    void moveSelected(double dx, double dy);
    void resizeSelected(double dw, double dh);
    void undo();
    // Writes the changed boxes into the template; false when it could not (the error box told why).
    bool saveLayout();
    void restoreLayout();
    bool layoutChanged() const;

    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Step
    {
        int item;
        QRectF from;
    };
    void updateControls();
    void updateLayoutStatus();
    void zoomChosen(int index);
    // Puts an item in a box and remembers the box it had, for undo.
    void changeBox(int item, const QRectF& box);
    void pointPicked(QPointF mm);
    QRectF onSheet(QRectF box) const;

    void fillItemList();

    ReportDocument document_;
    // The template as its file stands since it was last read or written here: what a save expects to
    // find there.
    std::shared_ptr<const ReportTemplate> file_;
    QList<QRectF> saved_; // the boxes as the template file has them
    QList<Step> undo_;
    PreviewPage* view_;
    QScrollArea* area_;
    QPushButton* btnFirst;
    QPushButton* btnPrior;
    QPushButton* btnNext;
    QPushButton* btnLast;
    QSpinBox* edPage;
    QLabel* lblPageCount;
    QComboBox* cmbZoom;
    QCheckBox* cbOutline;
    QPushButton* btnLayout;
    QPushButton* btnPlace;
    QLabel* lblPlace;
    QList<QPointF> picked_; // mm, where the scan shows them
    QPushButton* btnPrint;
    QPushButton* btnClose;
    QWidget* layoutBar_;
    QComboBox* cmbItem;
    QLabel* lblLayout;
    QPushButton* btnUndo;
    QPushButton* btnSaveLayout;
    QPushButton* btnRestore;
};

} // namespace halvenna
