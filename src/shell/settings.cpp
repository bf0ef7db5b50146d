// The settings file and the option panels. There is no settings object: the
// option controls hold the values while the program runs; LoadSettings copies
// the file into them and SaveSettings copies them back.
#include "shell/mainform.h"

#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"
#include "platform/appdir.h"
#include "platform/inifile.h"
#include "desktop/msgbox.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpinBox>

#include <algorithm>

namespace {

const QString AISection = QStringLiteral("Anti-Idle Options");
const QString LatSection = QStringLiteral("Latency Test");
const QString PngSection = QStringLiteral("Ping Options");
const QString TrcSection = QStringLiteral("Traceroute Options");
const QString RasSection = QStringLiteral("Dial-Up Options");
const QString GeneralSection = QStringLiteral("General");

constexpr int AIOptionCount = 4;
constexpr int QuestionX = 220;   // where the save question normally starts

} // namespace

QString TMainForm::SettingsFile()
{
    return platform::DataFile("idlix2.ini");
}

void TMainForm::LoadSettings()
{
    const platform::TIniFile ini(SettingsFile());

    rg_AIMethod->SetItemIndex(ini.ReadInteger(AISection, "Method", 0));
    // The frequency is kept as typed; it is converted when a session starts.
    QString freq = ini.ReadString(AISection, "Frequecy", "1");
    edt_AIFreq->setText(freq.isEmpty() ? QStringLiteral("1") : freq);
    edt_AIHost->setText(ini.ReadString(AISection, "Host", QString()));
    // Each digit 0..3 found in the value checks its item; items whose digit
    // is missing keep their state.
    const QString options = ini.ReadString(AISection, "Options", QString());
    for (int i = 0; i < AIOptionCount; ++i) {
        if (options.contains(QChar('0' + i)))
            cb_AIOptions->SetChecked(i, true);
    }

    // Spin fields clamp what they are given to their range.
    edt_LatHost->setText(ini.ReadString(LatSection, "Host", QString()));
    se_LatTO->setValue(ini.ReadInteger(LatSection, "Time-out", 5));
    se_LatInterval->setValue(ini.ReadInteger(LatSection, "Interval", 500));

    se_PngBytes->setValue(ini.ReadInteger(PngSection, "Bytes", 56));
    se_PngTO->setValue(ini.ReadInteger(PngSection, "Time-out", 5));

    se_TrcBytes->setValue(ini.ReadInteger(TrcSection, "Bytes", 56));
    se_TrcTO->setValue(ini.ReadInteger(TrcSection, "Time-out", 5));
    cb_TrcTestPack->setChecked(ini.ReadBool(TrcSection, "Test Packet", true));
    rg_TrcMode->SetItemIndex(ini.ReadInteger(TrcSection, "Mode", 0));

    // An index with no phone-book entry leaves the list without a selection.
    const int connection = ini.ReadInteger(RasSection, "Connection", 0);
    cb_RasConnect->setCurrentIndex(connection >= 0 && connection < cb_RasConnect->count()
                                       ? connection : -1);
    edt_RasUserName->setText(ini.ReadString(RasSection, "Username", QString()));
    edt_RasPassword->setText(ini.ReadString(RasSection, "Password", QString()));
    cb_RasCnctOnStrt->setChecked(ini.ReadBool(RasSection, "Connect On Start", false));
    cb_RasAIStrt->setChecked(ini.ReadBool(RasSection, "Start AI", false));
    cb_RasDisc->setChecked(ini.ReadBool(RasSection, "Disconnect", false));
    se_RasDisc->setValue(ini.ReadInteger(RasSection, "Disconnect Time", 60));

    StayOnTop1->setChecked(ini.ReadBool(GeneralSection, "Stay on Top", true));
    ApplyStayOnTop(StayOnTop1->isChecked());
}

void TMainForm::SaveSettings()
{
    QString options;
    for (int i = 0; i < AIOptionCount; ++i) {
        if (cb_AIOptions->Checked(i))
            options += QChar('0' + i);
    }
    // Keys are written in a fixed order, so a first save lays the file out
    // section by section. A refused write stops the save at that key.
    try {
        platform::TIniFile ini(SettingsFile());
        ini.WriteInteger(AISection, "Method", rg_AIMethod->ItemIndex());
        ini.WriteString(AISection, "Frequecy", edt_AIFreq->text());
        ini.WriteString(AISection, "Host", edt_AIHost->text());
        ini.WriteString(AISection, "Options", options);
        ini.WriteString(LatSection, "Host", edt_LatHost->text());
        ini.WriteInteger(LatSection, "Time-out", se_LatTO->value());
        ini.WriteInteger(LatSection, "Interval", se_LatInterval->value());
        ini.WriteInteger(PngSection, "Bytes", se_PngBytes->value());
        ini.WriteInteger(PngSection, "Time-out", se_PngTO->value());
        ini.WriteInteger(TrcSection, "Bytes", se_TrcBytes->value());
        ini.WriteInteger(TrcSection, "Time-out", se_TrcTO->value());
        ini.WriteBool(TrcSection, "Test Packet", cb_TrcTestPack->isChecked());
        ini.WriteInteger(TrcSection, "Mode", rg_TrcMode->ItemIndex());
        ini.WriteInteger(RasSection, "Connection", cb_RasConnect->currentIndex());
        ini.WriteString(RasSection, "Username", edt_RasUserName->text());
        ini.WriteString(RasSection, "Password", edt_RasPassword->text());
        ini.WriteBool(RasSection, "Connect On Start", cb_RasCnctOnStrt->isChecked());
        ini.WriteBool(RasSection, "Start AI", cb_RasAIStrt->isChecked());
        ini.WriteBool(RasSection, "Disconnect", cb_RasDisc->isChecked());
        ini.WriteInteger(RasSection, "Disconnect Time", se_RasDisc->value());
        ini.WriteBool(GeneralSection, "Stay on Top", StayOnTop1->isChecked());
    } catch (const platform::EIniWriteError &e) {
        platform::ShowMessage(QString::fromUtf8(e.what()));
    }
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
