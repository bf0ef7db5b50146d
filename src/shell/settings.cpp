// The settings file and the option panels. The option values live in one
// struct (config/options.h) that the file is read into and written from; the
// panels show it, and every edit in a panel goes into it at once, so a value
// edited and answered "No" still counts until the panels are refilled from
// the file, and the exit save writes it.
#include "shell/mainform.h"

#include "config/optionsfile.h"
#include "desktop/msgbox.h"
#include "shell/preferencesdialog.h"
#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpinBox>

#include <algorithm>
#include <limits>

namespace {

constexpr int QuestionX = 220;   // where the save question normally starts

} // namespace

QString TMainForm::SettingsFile()
{
    return config::SettingsPath();
}

void TMainForm::LoadSettings()
{
    ReadSettings();
    ShowOptions();
}

void TMainForm::ReadSettings()
{
    config::LoadOptions(SettingsFile(), options_);
    ApplyStayOnTop(options_.General.StayOnTop);
}

bool TMainForm::SaveSettings(QString *error)
{
    return config::SaveOptions(SettingsFile(), options_, error);
}

bool TMainForm::SaveSettings()
{
    QString error;
    if (SaveSettings(&error))
        return true;
    desktop::ShowMessage(error);
    return false;
}

void TMainForm::ShowOptions()
{
    // The controls' change signals would write back what they are given;
    // a clamped or missing value must not replace the stored one.
    showingOptions_ = true;
    const config::TOptions &o = options_;
    rg_AIMethod->SetItemIndex(o.AntiIdle.Method);
    edt_AIFreq->setText(o.AntiIdle.Frequency);
    edt_AIHost->setText(o.AntiIdle.Host);
    for (int i = 0; i < config::TAntiIdleOptions::OptionCount; ++i)
        cb_AIOptions->SetChecked(i, o.AntiIdle.Options[i]);
    edt_LatHost->setText(o.Latency.Host);
    se_LatTO->setValue(o.Latency.TimeOut);
    se_LatInterval->setValue(o.Latency.Interval);
    se_PngBytes->setValue(o.Ping.Bytes);
    se_PngTO->setValue(o.Ping.TimeOut);
    se_TrcBytes->setValue(o.Trace.Bytes);
    se_TrcTO->setValue(o.Trace.TimeOut);
    cb_TrcTestPack->setChecked(o.Trace.TestPacket);
    rg_TrcMode->SetItemIndex(o.Trace.Mode);
    // An index with no phone-book entry leaves the list without a selection
    // (the stored index stays as it is).
    const int connection = o.DialUp.Connection;
    cb_RasConnect->setCurrentIndex(connection >= 0 && connection < cb_RasConnect->count()
                                       ? connection : -1);
    edt_RasUserName->setText(o.DialUp.UserName);
    edt_RasPassword->setText(o.DialUp.Password);
    cb_RasCnctOnStrt->setChecked(o.DialUp.ConnectOnStart);
    cb_RasAIStrt->setChecked(o.DialUp.StartAntiIdle);
    cb_RasDisc->setChecked(o.DialUp.Disconnect);
    se_RasDisc->setValue(o.DialUp.DisconnectTime);
    edt_PxyServer->setText(o.Proxy.Server);
    edt_PxyPort->setText(o.Proxy.Port);
    edt_PxyUser->setText(o.Proxy.UserName);
    edt_PxyPass->setText(o.Proxy.Password);
    StayOnTop1->setChecked(o.General.StayOnTop);
    showingOptions_ = false;
}

void TMainForm::WireOptionControls()
{
    config::TOptions &o = options_;
    // Every change of a control, by the user or by code, is the new value.
    auto text = [this](QLineEdit *edit, QString *value) {
        connect(edit, &QLineEdit::textChanged, this, [this, value](const QString &t) {
            if (!showingOptions_)
                *value = t;
        });
    };
    auto number = [this](QSpinBox *spin, int *value) {
        connect(spin, &QSpinBox::valueChanged, this, [this, value](int v) {
            if (!showingOptions_)
                *value = v;
        });
    };
    auto check = [this](QCheckBox *box, bool *value) {
        connect(box, &QCheckBox::toggled, this, [this, value](bool on) {
            if (!showingOptions_)
                *value = on;
        });
    };
    auto item = [this](TRadioGroup *group, int *value) {
        connect(group, &TRadioGroup::itemIndexChanged, this, [this, value](int index) {
            if (!showingOptions_)
                *value = index;
        });
    };

    item(rg_AIMethod, &o.AntiIdle.Method);
    text(edt_AIFreq, &o.AntiIdle.Frequency);
    text(edt_AIHost, &o.AntiIdle.Host);
    connect(cb_AIOptions, &QListWidget::itemChanged, this, [this] {
        if (showingOptions_)
            return;
        for (int i = 0; i < config::TAntiIdleOptions::OptionCount; ++i)
            options_.AntiIdle.Options[i] = cb_AIOptions->Checked(i);
    });
    text(edt_LatHost, &o.Latency.Host);
    number(se_LatTO, &o.Latency.TimeOut);
    number(se_LatInterval, &o.Latency.Interval);
    number(se_PngBytes, &o.Ping.Bytes);
    // The packet size counts as typed, even past the largest the field takes:
    // the ping tool refuses such a size with a warning rather than cut it.
    connect(se_PngBytes->findChild<QLineEdit *>(), &QLineEdit::textChanged, this, [this] {
        bool ok = false;
        const qlonglong typed = se_PngBytes->cleanText().trimmed().toLongLong(&ok);
        if (!showingOptions_ && ok && typed >= se_PngBytes->minimum())
            options_.Ping.Bytes = int(std::min<qlonglong>(typed, std::numeric_limits<int>::max()));
    });
    number(se_PngTO, &o.Ping.TimeOut);
    number(se_TrcBytes, &o.Trace.Bytes);
    number(se_TrcTO, &o.Trace.TimeOut);
    check(cb_TrcTestPack, &o.Trace.TestPacket);
    item(rg_TrcMode, &o.Trace.Mode);
    connect(cb_RasConnect, &QComboBox::currentIndexChanged, this, [this](int index) {
        // Filling or emptying the list moves its selection; only a choice
        // among listed entries is the user's.
        if (!showingOptions_ && index >= 0)
            options_.DialUp.Connection = index;
    });
    text(edt_RasUserName, &o.DialUp.UserName);
    text(edt_RasPassword, &o.DialUp.Password);
    check(cb_RasCnctOnStrt, &o.DialUp.ConnectOnStart);
    check(cb_RasAIStrt, &o.DialUp.StartAntiIdle);
    check(cb_RasDisc, &o.DialUp.Disconnect);
    number(se_RasDisc, &o.DialUp.DisconnectTime);
    text(edt_PxyServer, &o.Proxy.Server);
    text(edt_PxyPort, &o.Proxy.Port);
    text(edt_PxyUser, &o.Proxy.UserName);
    text(edt_PxyPass, &o.Proxy.Password);
    connect(StayOnTop1, &QAction::toggled, this, [this](bool on) {
        if (!showingOptions_)
            options_.General.StayOnTop = on;
    });
}

void TMainForm::SetOptions(const config::TOptions &options)
{
    options_ = options;
    ShowOptions();
}

void TMainForm::SetDialUpEntries(const QStringList &entries)
{
    showingOptions_ = true;
    cb_RasConnect->clear();
    cb_RasConnect->addItems(entries);
    cb_RasConnect->setEnabled(true);
    showingOptions_ = false;
    // The stored connection, now that the list can show it.
    ShowOptions();
}

void TMainForm::WatchPreferences(std::function<void()> changed)
{
    preferenceWatchers_.push_back(std::move(changed));
}

void TMainForm::Preferences1Click()
{
    TPreferencesDialog dialog(options_, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    config::TOptions changed = options_;
    dialog.Apply(changed);
    ChangePreferences(changed);
}

void TMainForm::ChangePreferences(const config::TOptions &options)
{
    options_ = options;
    QString error;
    if (!config::SavePreferences(SettingsFile(), options_, &error))
        desktop::ShowMessage(error);
    // Watchers may open windows of their own: take a copy of the list.
    const auto watchers = preferenceWatchers_;
    for (const auto &changed : watchers)
        changed();
}

void TMainForm::SetArrowOpen(TPictureButton *arrow, bool open)
{
    if (arrow)
        arrow->SetImageIndex(open ? 1 : 0);
}

void TMainForm::OpenOptionPanel(QWidget *panel, TPictureButton *arrow, QWidget *focus,
                                const QString &question)
{
    // With a question pending, the first click only answers it with "No";
    // the panel opens on the next click.
    if (!btn_No->isHidden()) {
        btn_NoClick();
        SetArrowOpen(arrow, false);
        return;
    }
    // Refilling every control from the file drops unsaved edits anywhere.
    LoadSettings();
    SetArrowOpen(arrow, true);
    panel->raise();
    panel->show();
    if (panel == sb_AI || panel == pnl_DialUp)
        pnl_History->hide();
    if (focus)
        focus->setFocus();
    lbl_Question->setText(question);
    // The question starts at its place beside the status text; a question
    // wider than the room before the Yes/No buttons moves left to stay whole.
    const int width = lbl_Question->fontMetrics().horizontalAdvance(question) + 4;
    const int right = btn_Yes->x() - 2;
    lbl_Question->setGeometry(std::min(QuestionX, right - width), lbl_Question->y(),
                              std::max(width, right - QuestionX), lbl_Question->height());
    SetStatus("Status:");
    btn_Yes->show();
    btn_No->show();
    btn_Yes->raise();
    btn_No->raise();
}

void TMainForm::CloseOptionPanels(bool save)
{
    lbl_Question->clear();
    const std::pair<QWidget *, TPictureButton *> panels[] = {
        {sb_AI, img_AIArrow},
        {pnl_Latency, img_LatArrow},
        {pnl_PingOptions, img_PngArrow},
        {pnl_traceOptions, img_TrcArrow},
    };
    for (const auto &[panel, arrow] : panels) {
        if (!panel->isHidden()) {
            panel->hide();
            SetArrowOpen(arrow, false);
        }
    }
    if (!pnl_DialUp->isHidden())
        pnl_DialUp->hide();
    img_Background->update();
    pnl_History->show();
    btn_Yes->hide();
    btn_No->hide();
    if (save)
        SaveSettings();
}

void TMainForm::img_AIArrowClick()
{
    OpenOptionPanel(sb_AI, img_AIArrow, nullptr, "Save changes to Anti-Idle Options?");
}

void TMainForm::img_LatArrowClick()
{
    OpenOptionPanel(pnl_Latency, img_LatArrow, edt_LatHost, "Save changes to Latency Options?");
}

void TMainForm::img_PngArrowClick()
{
    OpenOptionPanel(pnl_PingOptions, img_PngArrow, se_PngBytes, "Save changes to Ping Options?");
}

void TMainForm::img_TrcArrowClick()
{
    OpenOptionPanel(pnl_traceOptions, img_TrcArrow, se_TrcBytes,
                    "Save changes to Traceroute Options?");
}

void TMainForm::DialUpOptions1Click()
{
    OpenOptionPanel(pnl_DialUp, nullptr, nullptr, "Save changes to Dial-Up Options?");
}

void TMainForm::btn_YesClick()
{
    CloseOptionPanels(true);
}

void TMainForm::btn_NoClick()
{
    CloseOptionPanels(false);
}
