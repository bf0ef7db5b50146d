#include "widgets/optioncontrols.h"

#include <QButtonGroup>
#include <QKeyEvent>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

TRadioGroup::TRadioGroup(const QString &title, const QStringList &items, QWidget *parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 4, 2);
    layout->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items.at(i), this);
        group_->addButton(button, i);
        layout->addWidget(button);
    }
    connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on)
            emit itemIndexChanged(id);
    });
}

int TRadioGroup::Count() const
{
    return int(group_->buttons().size());
}

int TRadioGroup::ItemIndex() const
{
    return group_->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    const int n = Count();
    if (n == 0)
        return;
    index = std::clamp(index, -1, n - 1);
    if (index < 0) {
        // An exclusive group cannot be emptied directly.
        group_->setExclusive(false);
        for (QAbstractButton *b : group_->buttons())
            b->setChecked(false);
        group_->setExclusive(true);
        emit itemIndexChanged(-1);
        return;
    }
    group_->button(index)->setChecked(true);
}

QRadioButton *TRadioGroup::Button(int index) const
{
    return qobject_cast<QRadioButton *>(group_->button(index));
}

TCheckListBox::TCheckListBox(const QStringList &items, QWidget *parent) : QListWidget(parent)
{
    for (const QString &text : items) {
        auto *item = new QListWidgetItem(text, this);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

bool TCheckListBox::Checked(int index) const
{
    const QListWidgetItem *it = item(index);
    return it && it->checkState() == Qt::Checked;
}

void TCheckListBox::SetChecked(int index, bool checked)
{
    if (QListWidgetItem *it = item(index))
        it->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

TSpinText::TSpinText(int min, int max, QWidget *parent) : QLineEdit(parent), min_(min), max_(max)
{
}

void TSpinText::Step(int steps)
{
    bool ok = false;
    int value = text().trimmed().toInt(&ok);
    if (!ok)
        value = min_;
    else
        value = std::clamp(value + steps, min_, max_);
    setText(QString::number(value));
}

void TSpinText::keyPressEvent(QKeyEvent *event)
{
    if (!isReadOnly() && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        Step(event->key() == Qt::Key_Up ? 1 : -1);
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TSpinText::wheelEvent(QWheelEvent *event)
{
    const int dy = event->angleDelta().y();
    if (isReadOnly() || dy == 0) {
        QLineEdit::wheelEvent(event);
        return;
    }
    Step(dy > 0 ? 1 : -1);
    event->accept();
}
