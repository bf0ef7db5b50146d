// Small controls of the main window's option panels: a radio group with an
// item index, a check list and a text field that steps like a spin field.
#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

// A titled group of radio buttons, one per item; ItemIndex -1 means none is
// selected.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString &title, const QStringList &items, QWidget *parent = nullptr);

    int Count() const;
    int ItemIndex() const;
    // Below -1 selects nothing; at or above the number of items selects the last.
    void SetItemIndex(int index);
    QRadioButton *Button(int index) const;

signals:
    void itemIndexChanged(int index);

private:
    QButtonGroup *group_;
};

// A list of items with check boxes.
class TCheckListBox : public QListWidget {
    Q_OBJECT
public:
    TCheckListBox(const QStringList &items, QWidget *parent = nullptr);

    bool Checked(int index) const;
    void SetChecked(int index, bool checked);
};

// A text field for a small number that steps with the arrow keys and the
// mouse wheel within [Min, Max]. The text itself is not checked: whatever
// was stored or typed stays as typed until it is used.
class TSpinText : public QLineEdit {
    Q_OBJECT
public:
    TSpinText(int min, int max, QWidget *parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    // Moves the number by `steps`; non-numeric text counts as Min.
    void Step(int steps);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    int min_, max_;
};
