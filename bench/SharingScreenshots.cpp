// Pictures of the "SMTP auto relay" page (relay on and off), its edit window
// and the configuration page with the sharing and relay boxes.
// Usage: sharing_screenshots OUTDIR (run with QT_QPA_PLATFORM=offscreen).

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "server/frame/ServerCore.h"
#include "server/ui/TFeditsmtp.h"
#include "server/ui/TForm1.h"
#include "support/FakeServerPlatform.h"
#include "support/ScriptedPrompter.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

using namespace velora;
using namespace velora::server;
using namespace velora::test;

namespace {

QString outDir;
int failures = 0;

void save(QWidget *w, const char *name)
{
    QCoreApplication::sendPostedEvents();
    const QString path = outDir + QStringLiteral("/server-") + QString::fromLatin1(name) + QStringLiteral(".png");
    if (!w->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

struct Shown {
    TempDir dir;
    ScriptedPrompter prompter;
    std::unique_ptr<frame::ServerCore> core;
    std::unique_ptr<ui::TForm1> window;

    explicit Shown(const std::string &dial)
    {
        const std::string base = dir.file("base");
        std::filesystem::create_directories(base + "/config");
        writeFile(base + "/config/config.ini", "[server]\nport=2250\n[general]\nonlinestartup=0\n[dial]\n" + dial);
        writeFile(base + "/config/phonebook.ini",
                  "[Office ISP]\ndelay=0\n[Backup line]\ndelay=0\n[Night tariff]\ndelay=0\n");
        writeFile(base + "/config/user.cfg", "");
        frame::ServerOptions o;
        o.baseDir = base;
        o.listenAddress = "127.0.0.1";
        core = std::make_unique<frame::ServerCore>(o, fakePlatform(base));
        window = std::make_unique<ui::TForm1>(*core, prompter);
        core->inisiasiawal();
        core->Timer2Timer();
        core->logDatabase().saveSmtp("Office ISP", {"smtp.office-isp.example", "25"});
        core->logDatabase().saveSmtp("Night tariff", {"mail.night.example", "587"});
        window->updatesmtp();
        window->show();
        waitFor([] { return false; }, 100);
    }
    void page(const char *name)
    {
        auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("PageControl1"));
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->widget(i)->objectName() == QLatin1String(name))
                tabs->setCurrentIndex(i);
    }
};

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: sharing_screenshots OUTDIR\n");
        return 2;
    }
    outDir = QString::fromLocal8Bit(argv[1]);
    std::filesystem::create_directories(argv[1]);
    {
        Shown off("smtpport=25\n");
        off.page("TabSMTP");
        save(off.window.get(), "smtp-page-disabled");
    }
    {
        Shown on("smtpautorelay=1\nsmtpport=2525\nICS=1\n");
        on.page("TabSMTP");
        auto *list = on.window->findChild<QTreeWidget *>(QStringLiteral("LVsmtp"));
        list->setCurrentItem(list->topLevelItem(0));
        save(on.window.get(), "smtp-page");
        ui::TFeditsmtp &edit = on.window->editSmtpWindow();
        edit.setRow("Office ISP", "smtp.office-isp.example", "25");
        edit.show();
        waitFor([] { return false; }, 100);
        save(&edit, "editsmtp");
        edit.hide();
        on.page("configurationPage");
        save(on.window.get(), "configuration-sharing");
    }
    return failures ? 1 : 0;
}
