#include "app/ProgressRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

ProgressRow ProgressRow::build(QWidget* owner, const QString& text, const QString& prefix) {
    ProgressRow r;
    auto* layout = new QVBoxLayout(owner);
    r.name = new QLabel(text, owner);
    r.name->setObjectName(prefix + QStringLiteral("FileName"));
    r.bar = new QProgressBar(owner);
    r.bar->setObjectName(prefix + QStringLiteral("Percent"));
    r.bar->setRange(0, 100);
    r.bar->setValue(0);
    r.bar->setFormat(QStringLiteral("%p%"));
    r.bar->setMinimumWidth(320);
    r.cancel = new QPushButton(QStringLiteral("&Cancel"), owner);
    r.cancel->setObjectName(prefix + QStringLiteral("Cancel"));
    r.cancel->setAutoDefault(false); // Return never cancels by accident
    auto* row = new QHBoxLayout;
    row->addWidget(r.bar, 1);
    row->addWidget(r.cancel);
    layout->addWidget(r.name);
    layout->addLayout(row);
    return r;
}

void ProgressRow::show(double fraction) const {
    if (fraction < 0) return;
    bar->setValue(std::max(bar->value(), static_cast<int>(fraction * 100.0)));
}

void ProgressRow::cancelling() const {
    cancel->setEnabled(false);
    name->setText(name->text() + QStringLiteral(" Cancelling"));
}
