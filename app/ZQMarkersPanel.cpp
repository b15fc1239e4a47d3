#include "app/ZQMarkersPanel.h"

#include "app/AccessKeys.h"
#include "app/PanelClosing.h"
#include "app/ZQApplicationShell.h"
#include "core/values.h"
#include "window/ZQWaveformDisplayController.h"

#include <QAccessible>
#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QVBoxLayout>

using platform::Ref;

namespace {

QPointer<ZQMarkersPanel> gPanel;

// A table that says whether a name is being edited in it.
class MarkerTable final : public QTableWidget {
public:
    MarkerTable(int rows, int columns, QWidget* parent) : QTableWidget(rows, columns, parent) {}
    bool isEditing() const { return state() == EditingState; }
};

ZQWaveformDisplayController* controllerOf(ZQAudioFileDocument* d) {
    return d ? dynamic_cast<ZQWaveformDisplayController*>(d->waveformDisplayController()) : nullptr;
}

QString timeText(double rate, std::uint64_t frame) {
    return QString::fromStdString(ZQ::hmsText(ZQ::HMSTime(ZQ::sample_rate(rate), ZQ::Num::Count(frame))));
}

} // namespace

void ZQMarkersPanel::showPanel() {
    if (!gPanel) {
        gPanel = new ZQMarkersPanel;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] { ZQMarkersPanel::shutdown(); });
    }
    gPanel->show();
    gPanel->refresh();
    gPanel->raise();
    gPanel->activateWindow();
}

ZQMarkersPanel* ZQMarkersPanel::existingPanel() {
    return gPanel;
}

void ZQMarkersPanel::shutdown() {
    delete gPanel.data();
}

ZQMarkersPanel::ZQMarkersPanel() : QWidget(nullptr, Qt::Tool) {
    setObjectName(QStringLiteral("markersPanel"));
    setWindowTitle(QStringLiteral("Markers"));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(this);
    documentLabel_ = new QLabel(this);
    documentLabel_->setObjectName(QStringLiteral("markersDocument"));
    layout->addWidget(documentLabel_);
    table_ = new MarkerTable(0, kColumns, this);
    table_->setObjectName(QStringLiteral("markersTable"));
    table_->setAccessibleName(QStringLiteral("Markers"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Time"), QStringLiteral("Sample"), QStringLiteral("Length")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::DoubleClicked |
                            QAbstractItemView::SelectedClicked);
    table_->verticalHeader()->setVisible(false);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setSectionResizeMode(Name, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(Length, QHeaderView::ResizeToContents);
    table_->installEventFilter(this);
    layout->addWidget(table_);
    auto* buttons = new QHBoxLayout;
    deleteButton_ = new QPushButton(QStringLiteral("&Delete"), this);
    deleteButton_->setObjectName(QStringLiteral("deleteMarkerButton"));
    // Escape while a name is edited cancels the edit, not the panel.
    QPushButton* close = ZQ::PanelClosing::install(this, [this] {
        if (!isEditing()) return false;
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        if (QWidget* editor = QApplication::focusWidget()) QApplication::sendEvent(editor, &escape);
        return true;
    });
    buttons->addWidget(deleteButton_);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);
    resize(480, 320);
    ZQ::AccessKeys::give(this);
    connect(deleteButton_, &QPushButton::clicked, this, [this] { deleteRow(table_->currentRow()); });
    connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { nameEdited(item); });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
        if (column == Name || column == Sample) return; // those are edited
        if (ZQWaveformDisplayController* c = controllerOf(shownDocument_.get()))
            c->markerEditing().goTo(std::size_t(row));
    });
    connect(table_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (filling_) return;
        if (ZQWaveformDisplayController* c = controllerOf(shownDocument_.get())) c->markerEditing().choose(row);
        deleteButton_->setEnabled(row >= 0);
    });
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, [this] { refresh(); });
    timer_.start();
}

bool ZQMarkersPanel::isEditing() const {
    return static_cast<const MarkerTable*>(table_.data())->isEditing();
}

void ZQMarkersPanel::refresh() {
    // Hidden, it lets the document go (and shows it afresh when shown).
    if (!isVisible()) {
        if (shownDocument_) {
            shownDocument_ = Ref<ZQAudioFileDocument>();
            shownChoice_ = -2;
        }
        return;
    }
    // The user's typing is not interrupted; the list is looked at afterwards.
    if (isEditing()) return;
    Ref<ZQAudioFileDocument> doc = ZQApplicationDispatchCenter::currentAudioDocument();
    ZQWaveformDisplayController* c = controllerOf(doc.get());
    const std::ptrdiff_t choice = c ? c->markerEditing().chosen() : -1;
    if (doc.get() == shownDocument_.get() && (!doc || doc->markers() == shown_) && choice == shownChoice_) return;
    shownDocument_ = doc;
    rebuild();
}

void ZQMarkersPanel::rebuild() {
    filling_ = true;
    ZQAudioFileDocument* doc = shownDocument_.get();
    ZQWaveformDisplayController* c = controllerOf(doc);
    shown_ = doc ? doc->markers() : ZQ::MarkerList();
    shownChoice_ = c ? c->markerEditing().chosen() : -1;
    documentLabel_->setText(doc ? QFileInfo(QString::fromStdString(doc->fileName())).fileName()
                                : QStringLiteral("No document."));
    const double rate = doc ? doc->sampleRate() : 0;
    const int previousRow = table_->currentRow();
    table_->setRowCount(int(shown_.size()));
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        const ZQ::Marker& m = shown_.items()[i];
        const int row = int(i);
        auto cell = [&](int column, const QString& text, bool editable) {
            QTableWidgetItem* item = table_->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                table_->setItem(row, column, item);
            }
            item->setText(text);
            item->setFlags(editable ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable
                                    : Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        };
        cell(Name, QString::fromStdString(m.name), true);
        cell(Time, timeText(rate, m.frame), false);
        cell(Sample, QString::number(m.frame), true); // typing a sample moves it, from the keyboard
        cell(Length,
             m.isRegion() ? timeText(rate, m.length) + QStringLiteral(" (") + QString::number(m.length) + ')'
                          : QString(),
             false);
    }
    const int row = shownChoice_ >= 0 ? int(shownChoice_) : std::min(previousRow, table_->rowCount() - 1);
    if (row >= 0)
        table_->setCurrentCell(row, table_->currentColumn() >= 0 ? table_->currentColumn() : 0);
    else
        table_->setCurrentCell(-1, -1);
    deleteButton_->setEnabled(table_->currentRow() >= 0);
    filling_ = false;
    // A screen reader hears that the list changed.
    QAccessibleEvent changed(table_, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

void ZQMarkersPanel::nameEdited(QTableWidgetItem* item) {
    if (filling_ || !item) return;
    ZQWaveformDisplayController* c = controllerOf(shownDocument_.get());
    if (c && item->column() == Name) c->markerEditing().rename(std::size_t(item->row()), item->text().toStdString());
    if (c && item->column() == Sample) {
        bool number = false;
        const qulonglong frame = item->text().trimmed().toULongLong(&number);
        if (number) c->markerEditing().move(std::size_t(item->row()), frame);
    }
    shown_ = {}; // shown again as the document has it, whatever was typed
    refresh();
}

void ZQMarkersPanel::deleteRow(int row) {
    ZQWaveformDisplayController* c = controllerOf(shownDocument_.get());
    if (!c || row < 0) return;
    c->markerEditing().choose(row);
    c->markerEditing().deleteChosen();
    refresh();
}

bool ZQMarkersPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_ && event->type() == QEvent::KeyPress && !isEditing()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) {
            deleteRow(table_->currentRow());
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (ZQWaveformDisplayController* c = controllerOf(shownDocument_.get()); c && table_->currentRow() >= 0)
                c->markerEditing().goTo(std::size_t(table_->currentRow()));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
