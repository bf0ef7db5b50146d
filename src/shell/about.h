// The about box: the about picture with the program's name, the years of
// publication and a trademark sign. A click on the picture or either text
// closes it.
#pragma once

#include <QDialog>

class QLabel;

class Tfrm_About : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_About(QWidget *parent = nullptr);

    QLabel *img_About = nullptr;
    QLabel *lbl_Years = nullptr;
    QLabel *lbl_Version = nullptr;
    QLabel *lbl_TM = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// Creates the about box, shows it modally, and frees it when it closes.
void ShowAboutBox(QWidget *parent);
