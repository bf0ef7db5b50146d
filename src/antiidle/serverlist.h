// The "Server List" panel: the hosts an anti-idle session visits in turn,
// shown in ListBox1 and stored in the server list file. The list itself is
// the session's (session/serverhosts.h); the panel edits it and shows it.
// Additions and edits stay in memory until Delete or Close writes the file;
// "Update  List" downloads the maker's current list.
#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class IShell;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class TWidePanel;
class TPictureButton;
class TServerHosts;
class TWebClient;

class TServerList : public QObject {
    Q_OBJECT
public:
    // Fills the Servers panel of 'shell' to edit 'hosts'; downloads go
    // through 'web'.
    TServerList(IShell &shell, TServerHosts &hosts, TWebClient &web, QObject *parent = nullptr);
    ~TServerList() override;

    QFrame *pnl_Servers = nullptr;
    QLineEdit *edt_SrvHost = nullptr;
    QListWidget *ListBox1 = nullptr;  // the server list as it is in memory
    TPictureButton *btn_SrvAdd = nullptr, *btn_SrvEdit = nullptr, *btn_SrvDelete = nullptr,
                   *btn_SrvUpdate = nullptr, *btn_SrvClose = nullptr;
    QLabel *lbl_SrvAdd = nullptr, *lbl_SrvEdit = nullptr, *lbl_SrvDelete = nullptr,
           *lbl_SrvUpdate = nullptr, *lbl_SrvClose = nullptr;

    QStringList Hosts() const;        // the entries, in order
    void LoadServerList();            // file -> list when the file exists
    bool SaveServerList();            // list -> file; false (message shown) on failure
    int SelectedServer() const;       // selected entry of ListBox1, -1 for none

    void ServerList1Click();          // Options > Server List: opens the panel
    void btn_SrvAddClick();
    void btn_SrvEditClick();
    void btn_SrvDeleteClick();
    void btn_SrvUpdateClick();
    void btn_SrvCloseClick();
    void edt_SrvHostKeyPress();       // Enter in edt_SrvHost

private:
    void CreatePanel();
    void ShowHosts();                 // the list -> ListBox1
    IShell &shell_;
    TServerHosts &hosts_;
    TWebClient &web_;
    std::unique_ptr<TWidePanel> panel_;     // opens and closes pnl_Servers
};
