#include "app/AccessKeys.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QWidget>

namespace ZQ::AccessKeys {

namespace {
// The character after the access key's "&" ("&&" is a plain "&"), or null.
QChar accessKeyOf(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&') continue;
        if (text[i + 1] != u'&') return text[i + 1].toUpper();
        ++i;
    }
    return {};
}
} // namespace

QString withAccessKey(const QString& text, QString& taken) {
    if (const QChar key = accessKeyOf(text); !key.isNull()) {
        taken += key;
        return text;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!c.isLetterOrNumber() || taken.contains(c.toUpper())) continue;
        taken += c.toUpper();
        return text.left(i) + u'&' + text.mid(i);
    }
    return text;
}

void give(QWidget* dialog) {
    if (!dialog) return;
    for (QDialogButtonBox* box : dialog->findChildren<QDialogButtonBox*>()) {
        const QList<QAbstractButton*> buttons = box->buttons();
        // Those that have a key keep it; the others choose among the rest.
        QString taken;
        for (QAbstractButton* b : buttons)
            if (const QChar key = accessKeyOf(b->text()); !key.isNull()) taken += key;
        for (QAbstractButton* b : buttons)
            if (accessKeyOf(b->text()).isNull()) b->setText(withAccessKey(b->text(), taken));
    }
}

} // namespace ZQ::AccessKeys
