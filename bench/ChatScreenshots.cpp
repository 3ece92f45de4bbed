// Offscreen pictures of both send-message windows (list open and closed, a
// conversation with links) and of both popups: chat_screenshots OUTDIR

#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QTreeWidget>

#include <cstdio>

#include "support/ScriptedPrompter.h"
#include "support/Wait.h"
#include "widgets/NewMessagePopup.h"
#include "widgets/TFsend.h"

using namespace velora;
using namespace velora::widgets;

namespace {

bool save(QWidget *w, const QString &dir, const char *name)
{
    QApplication::processEvents();
    const QString path = dir + QLatin1Char('/') + QLatin1String(name);
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

void converse(TFsend &w, const std::string &me)
{
    w.setClients({{"Admin@office", "192.168.1.1", "free"},
                  {"accounting", "192.168.1.20", "locking"},
                  {"reception", "192.168.1.21", "free"},
                  {"warehouse-pc", "192.168.1.22", "free"}});
    w.bacapesan({{"192.168.1.20", "accounting", {"I need the line for ten minutes"}},
                 {"192.168.1.21", "reception", {"ok"}},
                 {"192.168.1.22", "warehouse-pc", {"Can you hang up at noon?", "The invoices are sent by then."}}},
                "10.9.9.9");
    w.flushBacklog();
    w.list->setCurrentItem(w.list->topLevelItem(1));
    w.listClick();
    w.Memo1->setPlainText(QString::fromStdString("Go ahead, " + me + " will not dial until you are done"));
    w.SpeedButton1Click();
    w.bacapesan({{"192.168.1.20", "accounting", {"thanks!"}}}, "10.9.9.9");
    w.flushBacklog();
    w.Memo1->setPlainText(QStringLiteral("Typing the next one..."));
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("shots");
    QDir().mkpath(out);
    test::ScriptedPrompter prompter;
    bool ok = true;

    TFsend server(TFsend::Server, prompter, [] { return TFsend::Identity{"Admin@office", "192.168.1.1"}; },
                  [](const std::string &, const std::string &) { return std::optional<std::string>{}; });
    server.openWithList();
    converse(server, "the server");
    ok = save(&server, out, "chat-server-list-open.png") && ok;
    server.openFor("reception", "192.168.1.21");
    ok = save(&server, out, "chat-server-list-closed.png") && ok;

    TFsend client(TFsend::Client, prompter, [] { return TFsend::Identity{"reception", "192.168.1.21"}; },
                  [](const std::string &, const std::string &) { return std::optional<std::string>{}; });
    client.openWithList();
    converse(client, "reception");
    ok = save(&client, out, "chat-client-list-open.png") && ok;
    client.Label1Click();
    test::waitFor([&] { return !client.sliding(); }, 3000);
    ok = save(&client, out, "chat-client-list-closed.png") && ok;

    NewMessageAlert serverAlert(QStringLiteral(":"), false);
    serverAlert.setDesktopNotifications(false);
    serverAlert.popup()->popUp(QString::fromLatin1(NewMessageAlert::Title));
    ok = save(serverAlert.popup(), out, "chat-popup-server.png") && ok;
    NewMessageAlert clientAlert(QStringLiteral("Read Now ?"), true);
    clientAlert.setDesktopNotifications(false);
    clientAlert.popup()->popUp(QString::fromLatin1(NewMessageAlert::Title));
    ok = save(clientAlert.popup(), out, "chat-popup-client.png") && ok;
    return ok ? 0 : 1;
}
