#include "app/smart_page.h"

#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include "skin/skin.h"
#include "smart/attribute_tooltip.h"

namespace raid::smart {
namespace {

constexpr int kColumnWidths[kColumns] = {145, 36, 36, 54, 75, 40};
constexpr int kRowHeight = 16;
constexpr int kVisibleRows = 10;
constexpr int kLeft = 14;
constexpr int kSelectorTop = 8;
constexpr int kSelectorGap = 10;
constexpr int kTextMargin = 2;
constexpr int kGridFontPixels = 10;

const char* const kColumnTitles[kColumns] = {"ID", "Value", "Worst", "Threshold", "RAW", "Status"};
const char* const kSelectorNames[kSmartDisks] = {"hdd1", "hdd2"};

QString Q(const std::string& s) { return QString::fromStdString(s); }

QColor ToColor(Rgb c) { return QColor(c.red, c.green, c.blue); }

void SetFontColour(QLabel* label, const QColor& colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

int GridWidth(const QTableWidget* grid, bool withScrollBar) {
    int width = 2 * grid->frameWidth();
    for (int w : kColumnWidths) width += w;
    if (withScrollBar) width += grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return width;
}

// Cells are drawn in their row's colour whether selected or not, so that a
// selected "Error" row stays red; the focused cell gets a focus frame. Text
// wider than its fixed column is narrowed rather than cut, so that all
// twelve raw digits stay readable.
class RowColourDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QBrush fill = index.data(Qt::BackgroundRole).value<QBrush>();
        const QString text = index.data().toString();
        const QRect box = option.rect.adjusted(kTextMargin, 0, -kTextMargin, 0);
        const int width = option.fontMetrics.horizontalAdvance(text);
        painter->save();
        painter->fillRect(option.rect, fill);
        painter->setPen(Qt::black);
        painter->setFont(option.font);
        const auto align = static_cast<Qt::Alignment>(index.data(Qt::TextAlignmentRole).toInt());
        if (width > box.width() && width > 0) {
            painter->translate(box.topLeft());
            painter->scale(static_cast<double>(box.width()) / width, 1.0);
            painter->drawText(QRect(0, 0, width, box.height()), align, text);
        } else {
            painter->drawText(box, align, text);
        }
        painter->restore();
        if ((option.state & QStyle::State_HasFocus) && option.widget != nullptr) {
            QStyleOptionFocusRect focus;
            focus.rect = option.rect;
            focus.state = option.state;
            focus.backgroundColor = fill.color();
            option.widget->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter,
                                                  option.widget);
        }
    }
};

QTableWidget* MakeGrid(const QString& name, int rows, QWidget* parent) {
    auto* grid = new QTableWidget(rows, kColumns, parent);
    grid->setObjectName(name);
    grid->verticalHeader()->hide();
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (int c = 0; c < kColumns; ++c) grid->setColumnWidth(c, kColumnWidths[c]);
    return grid;
}

}  // namespace

SmartPage::SmartPage(SmartState& state, SmartPageHooks hooks, QWidget* parent)
    : QWidget(parent), state_(state), hooks_(std::move(hooks)) {
    setObjectName("smartPage");
    buildControls();
    showSelectorPictures();
    grid_->hide();
}

void SmartPage::buildControls() {
    QFont small = font();
    small.setPixelSize(kGridFontPixels);

    const char* const buttonNames[kSmartDisks] = {"smartDiskButton1", "smartDiskButton2"};
    for (int k = 0; k < kSmartDisks; ++k) {
        auto* button = new QLabel(this);
        button->setObjectName(buttonNames[k]);
        button->setGeometry(kLeft + k * (skin::kDiskWidth + kSelectorGap), kSelectorTop,
                            skin::kDiskWidth, skin::kDiskHeight);
        button->setScaledContents(true);
        button->setCursor(Qt::PointingHandCursor);
        button->installEventFilter(this);
        diskButtons_[k] = button;
    }

    const int right = kLeft + 2 * (skin::kDiskWidth + kSelectorGap);
    verdictLabel_ = new QLabel(this);
    verdictLabel_->setObjectName("smartVerdictLabel");
    verdictLabel_->setGeometry(right, kSelectorTop + 2, 180, 22);
    QFont bold = font();
    bold.setBold(true);
    bold.setPointSize(12);
    verdictLabel_->setFont(bold);

    fourKLabel_ = new QLabel(this);
    fourKLabel_->setObjectName("smart4kLabel");
    fourKLabel_->setGeometry(right, kSelectorTop + 28, 180, 18);

    headingLabel_ = new QLabel(this);
    headingLabel_->setObjectName("smartHeadingLabel");
    headingLabel_->setGeometry(kLeft, 62, 432, 18);

    // The column titles are the heading grid's fixed row (its header); its
    // one body row stays below the visible part.
    headingGrid_ = MakeGrid("smartHeadingGrid", 1, this);
    headingGrid_->setFont(small);
    headingGrid_->setHorizontalHeaderLabels({kColumnTitles[0], kColumnTitles[1], kColumnTitles[2],
                                             kColumnTitles[3], kColumnTitles[4], kColumnTitles[5]});
    headingGrid_->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    headingGrid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    headingGrid_->setSelectionMode(QAbstractItemView::NoSelection);
    headingGrid_->setFocusPolicy(Qt::NoFocus);
    const int headingHeight =
        headingGrid_->horizontalHeader()->sizeHint().height() + 2 * headingGrid_->frameWidth();
    headingGrid_->setGeometry(kLeft, 82, GridWidth(headingGrid_, false), headingHeight);

    grid_ = MakeGrid("smartGrid", 0, this);
    grid_->setFont(small);
    grid_->horizontalHeader()->hide();
    grid_->verticalHeader()->setMinimumSectionSize(1);
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid_->setItemDelegate(new RowColourDelegate(grid_));
    const int gridTop = 82 + headingHeight;
    grid_->setGeometry(kLeft, gridTop, GridWidth(grid_, true),
                       kVisibleRows * kRowHeight + 2 * grid_->frameWidth());
    connect(grid_, &QTableWidget::currentCellChanged, this,
            [this](int row, int column, int, int) { onCellSelected(row, column); });

    countdownLabel_ = new QLabel(this);
    countdownLabel_->setObjectName("smartCountdownLabel");
    countdownLabel_->setGeometry(kLeft, grid_->geometry().bottom() + 6, 300, 18);
    countdownLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    countdownLabel_->installEventFilter(this);

    resize(skin::kPanelWidth, 300);
}

void SmartPage::showSelectorPictures() {
    for (int k = 0; k < kSmartDisks; ++k) {
        const QString look = k == state_.selectedDisk ? "Selected" : "Unselected";
        diskButtons_[k]->setPixmap(skin::Picture(QString(kSelectorNames[k]) + look));
    }
}

void SmartPage::showSmartPage() {
    const int device = hooks_.selectedDevice ? hooks_.selectedDevice() : 0;
    const int disk = state_.selectedDisk;
    showSelectorPictures();
    view_ = BuildSmartView(state_.DataBlock(device, disk), state_.ThresholdBlock(device, disk),
                           state_.Word106Code(device, disk));
    const BayText bay = hooks_.bayText ? hooks_.bayText(disk) : BayText{};
    headingLabel_->setText(Q(SmartHeading(bay.caption, bay.model)));

    if (view_.rows.empty()) {
        grid_->setRowCount(0);
        grid_->hide();
        gridHidden_ = true;
        verdictLabel_->clear();
        fourKLabel_->clear();
        fourKLabel_->setToolTip(QString());
        return;
    }
    fillGrid();
    grid_->show();
    verdictLabel_->setText(Q(view_.verdict.text));
    SetFontColour(verdictLabel_, ToColor(view_.verdict.colour));
    fourKLabel_->setText(Q(view_.fourK.text));
    fourKLabel_->setToolTip(Q(view_.fourK.hint));
    if (gridHidden_) {
        gridHidden_ = false;
        grid_->setCurrentCell(0, 0);
        grid_->setFocus();
    }
}

void SmartPage::fillGrid() {
    grid_->setRowCount(static_cast<int>(view_.rows.size()));
    for (int r = 0; r < grid_->rowCount(); ++r) {
        const SmartRow& row = view_.rows[static_cast<std::size_t>(r)];
        const QString tip = Q(AttributeTooltip(row.attribute, row.status));
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(Q(row.cells[static_cast<std::size_t>(c)]));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            item->setBackground(ToColor(row.colour));
            item->setForeground(Qt::black);
            item->setTextAlignment(c == kNameColumn ? (Qt::AlignLeft | Qt::AlignTop)
                                                    : (Qt::AlignHCenter | Qt::AlignTop));
            item->setToolTip(tip);
            grid_->setItem(r, c, item);
        }
    }
}

void SmartPage::onCellSelected(int row, int column) {
    const auto text = SelectedCellText(view_.rows, row, column);
    if (!text) {
        grid_->setToolTip(QString());
        return;
    }
    grid_->setToolTip(Q(*text));
    if (hooks_.statusPanel) hooks_.statusPanel(*text);
}

void SmartPage::selectDisk(int disk) {
    if (disk < 0 || disk >= kSmartDisks) return;
    if (hooks_.selectorsEnabled && !hooks_.selectorsEnabled()) return;
    state_.selectedDisk = disk;
    showSmartPage();
}

void SmartPage::setCountdownText(const std::string& text) { countdownLabel_->setText(Q(text)); }

bool SmartPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == countdownLabel_ && event->type() == QEvent::MouseButtonDblClick) {
        Q_EMIT countdownDoubleClicked();
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        for (int k = 0; k < kSmartDisks; ++k) {
            if (watched != diskButtons_[k] || mouse->button() != Qt::LeftButton) continue;
            if (diskButtons_[k]->rect().contains(mouse->position().toPoint())) selectDisk(k);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace raid::smart
