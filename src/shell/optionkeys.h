// The keyboard's answers to the option panels' save question.
#pragma once

#include <QList>

class QWidget;
class TPictureButton;

// While the save question stands, Enter in one of 'panels' answers it as the
// green button 'yes' does (save and close) and Escape as the red button 'no'
// does (close without saving). A drop-down list's own pop-up keeps its keys.
void InstallOptionPanelKeys(QWidget *window, const QList<QWidget *> &panels, TPictureButton *yes,
                            TPictureButton *no);
