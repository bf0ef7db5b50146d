// Options > Preferences...: an ordinary dialog, one tab per subject, for the
// settings that have no place on the window's own option panels (window
// size, connection history, notifications, network, service). It edits a
// copy; Apply hands the values back when the user chose OK.
#pragma once

#include "config/options.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTabWidget;

class TPreferencesDialog : public QDialog {
    Q_OBJECT
public:
    TPreferencesDialog(const config::TOptions &current, QWidget *parent = nullptr);

    // The dialog's values -> the preference sections of 'options' (nothing
    // else of it changes).
    void Apply(config::TOptions &options) const;
    // Why the dialog's values cannot be taken, in words; empty when they can.
    QString Problem() const;
    // OK: takes the values, or shows why not and stays open.
    void accept() override;

    QTabWidget *Tabs = nullptr;
    QComboBox *cb_PrefScale = nullptr;        // window size
    QSpinBox *se_PrefDownAfter = nullptr;     // failed probes until the line counts as down
    QSpinBox *se_PrefUpAfter = nullptr;       // successful probes until it counts as up
    QSpinBox *se_PrefKeepDays = nullptr;      // days of connection history kept
    QCheckBox *cb_PrefNotify = nullptr;       // desktop notices of drops and returns
    QCheckBox *cb_PrefPauseMetered = nullptr; // no probes on metered connections
    QComboBox *cb_PrefFamily = nullptr;       // address family of lookups
    QLineEdit *edt_PrefMetrics = nullptr;     // metrics endpoint address
    QLineEdit *edt_PrefRemoteWrite = nullptr; // remote-write receiver's URL
    QLineEdit *edt_PrefNode = nullptr;        // the node's name (instance label)
    QLineEdit *edt_PrefLabels = nullptr;      // extra labels, "site=shop,line=mobile"
    QLabel *lbl_PrefRemoteState = nullptr;    // the service's last word on remote write
    QComboBox *cb_PrefInterval = nullptr;     // probe interval as set, or from the measured idle timer
    QCheckBox *cb_PrefSkipBusy = nullptr;     // no probe while other traffic keeps the line busy
    QCheckBox *cb_PrefProbeAll = nullptr;     // every server once per interval of its own
    QSpinBox *se_PrefProbeAllInterval = nullptr;  // that interval, seconds
    QLineEdit *edt_PrefCheckUrl = nullptr;    // the diagnosis' check page (http://); empty = none
    QLineEdit *edt_PrefCheckExpect = nullptr; // the text the check page's reply holds
    QLineEdit *edt_PrefAnchors = nullptr;     // up to three hosts that answer echoes
    QLabel *lbl_PrefDiagnosisProblem = nullptr;  // why OK was refused

private:
    QWidget *AddTab(const QString &name, const QString &title);
};
